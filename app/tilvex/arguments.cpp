#include "arguments.hpp"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tilvex::app {

namespace {

// White space as the standard scan knows it in the POSIX locale.
bool blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::string file_name(const char* arg) {
  while (blank(*arg)) ++arg;
  const char* end = arg;
  while (*end != '\0' && !blank(*end)) ++end;
  return std::string(arg, end);
}

std::optional<float> confidence_level(const char* arg) {
  float value = 0.0f;
  if (std::sscanf(arg, "%f", &value) != 1 || std::isnan(value)) return std::nullopt;
  return value;
}

std::optional<int> grid_index(const char* arg) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(arg, &end, 10);
  if (end == arg || errno == ERANGE || value < INT_MIN || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace tilvex::app
