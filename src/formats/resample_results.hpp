#pragma once
// The refusal of an input that is not a resample results file, as every
// program and the Python package word it.

#include <string>
#include <string_view>

namespace tilvex::formats {

// Why `text`, the file shown as `shown_name`, cannot be a resample results
// file: "'run.vrin' is not a resample results file: its first line is
// blank" (or "... does not begin with a number"); empty if it may be one.
// `shown_name` is the name as the caller's messages show a file: quoted
// ('run.vrin') by tilvex, tilvex-grid and the Python package, as it is by
// tilvex-plot.
std::string not_resample_results_file(std::string_view text, std::string_view shown_name);

}  // namespace tilvex::formats
