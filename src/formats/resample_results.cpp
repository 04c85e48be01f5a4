#include "resample_results.hpp"

#include "text/reader.hpp"

namespace tilvex::formats {

std::string not_resample_results_file(std::string_view text, std::string_view shown_name) {
  const std::string why = not_resample_results(text);
  return why.empty() ? why : std::string(shown_name) + " is not a resample results file: " + why;
}

}  // namespace tilvex::formats
