#include "arguments.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "text/words.hpp"

namespace tilvex::app {

std::string file_name(const char* arg) { return std::string(first_word(arg)); }

std::optional<float> confidence_level(const char* arg) {
  float value = 0.0f;
  if (std::sscanf(arg, "%f", &value) != 1 || std::isnan(value)) return std::nullopt;
  return value;
}

std::optional<int> grid_index(const char* arg) { return read_int(arg); }

}  // namespace tilvex::app
