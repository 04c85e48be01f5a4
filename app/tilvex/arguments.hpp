#pragma once
// The command line: eight arguments after the program name.

#include <optional>
#include <string>

namespace tilvex::app {

// The first blank-delimited word of `arg`, of any length; empty if there is
// none.
std::string file_name(const char* arg);

// `arg` read as the standard "%f" scan reads it: a leading number, the rest
// ignored. Empty if no number starts it, or if it reads as not-a-number.
std::optional<float> confidence_level(const char* arg);

// `arg` read as the standard "%d" scan reads it. Empty if no integer starts
// it, or if the integer lies outside the range of int.
std::optional<int> grid_index(const char* arg);

}  // namespace tilvex::app
