#pragma once
// The accepted-resample lines tilvex writes to output_file2, read back for
// plotting: four grid indices, then phi, tr1, pl1, tr2, pl2, tr3 and pl3.

#include <compare>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tilvex/records.hpp"

namespace tilvex::plot {

struct AcceptedLine {
  Grid grid;
  double phi = 0.0;
  double trend[3] = {}, plunge[3] = {};  // degrees
};

// A fault in the input or the request, with a message for the user.
class PlotError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One line, number `number` of the file `name` (for messages): empty for
// a blank line. Throws PlotError if it is not eleven fields as above.
std::optional<AcceptedLine> parse_accepted_line(std::string_view line, const std::string& name,
                                               std::size_t number);

// Reads every line of `text` (named `name` in messages). A line must hold
// eleven blank-separated fields: four integers and seven numbers (nan and
// inf count as numbers, as tilvex writes them). Blank lines are skipped.
// Throws PlotError naming the first line that is not so.
std::vector<AcceptedLine> read_accepted(std::string_view text, const std::string& name);

// The lines of one grid point: `chosen` if given; else the only grid point
// there is. Throws PlotError if the choice is missing and the lines hold
// several grid points (listing them), or if no line is left.
std::vector<AcceptedLine> select_grid(const std::vector<AcceptedLine>& lines,
                                      const Grid* chosen, const std::string& name);

}  // namespace tilvex::plot
