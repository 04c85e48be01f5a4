#pragma once
// The warnings a run prints on standard error about what it was given:
// they change nothing, and explain what the numbers were taken to mean.

#include <cstddef>
#include <string>
#include <string_view>

namespace tilvex::inline detail {

// About a confidence level, or empty: one in (0, 1] (meant as a fraction?),
// at or below 0, or above 100.
std::string level_note(float level, std::string_view as_given);

// About a number argument with characters after its number, or empty:
// "'95x' is read as 95". `what` names the argument, `used` is how many of
// its characters were read.
std::string trailing_note(std::string_view what, std::string_view arg, std::size_t used);

// How many characters of `arg` the standard "%f" scan reads.
std::size_t level_length(const char* arg);

}  // namespace tilvex::inline detail
