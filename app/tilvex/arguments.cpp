#include "arguments.hpp"

#include "text/words.hpp"

namespace tilvex::app {

std::string file_name(const char* arg) { return std::string(first_word(arg)); }

std::optional<float> confidence_level(const char* arg) { return read_level(arg); }

std::optional<int> grid_index(const char* arg) { return read_int(arg); }

}  // namespace tilvex::app
