#include "notes.hpp"

#include <cstdio>

#include "words.hpp"

namespace tilvex::inline detail {

namespace {
std::string quoted(std::string_view s) { return "'" + std::string(s) + "'"; }
}  // namespace

std::string level_note(float level, std::string_view as_given) {
  if (level > 0.0f && level <= 1.0f)
    return std::string(as_given) + " is read as " + std::string(as_given) + " per cent; for " +
           std::to_string(static_cast<int>(level * 100.0f + 0.5f)) + " per cent write " +
           std::to_string(static_cast<int>(level * 100.0f + 0.5f));
  if (level <= 0.0f)
    return "a confidence level of " + std::string(as_given) +
           " per cent keeps only the most similar resamples";
  if (level > 100.0f)
    return "a confidence level above 100 per cent (" + std::string(as_given) +
           ") keeps every resample";
  return "";
}

std::string trailing_note(std::string_view what, std::string_view arg, std::size_t used) {
  std::size_t end = arg.size();
  while (end > used && is_blank(arg[end - 1])) --end;
  if (used >= end) return "";
  return std::string(what) + " " + quoted(arg) + " is read as " + quoted(arg.substr(0, used)) +
         " (the rest is ignored)";
}

std::size_t level_length(const char* arg) {
  float value = 0.0f;
  int used = 0;
  if (std::sscanf(arg, "%f%n", &value, &used) != 1) return 0;
  return static_cast<std::size_t>(used);
}

}  // namespace tilvex::inline detail
