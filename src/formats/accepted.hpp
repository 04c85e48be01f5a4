#pragma once
// The accepted-resample lines tilvex appends to output_file2, read back:
// four grid indices, then phi, tr1, pl1, tr2, pl2, tr3 and pl3 (degrees).
// The values were floats printed with "%f", so they are read back as
// floats: the nearest float to the six decimals.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "text/error.hpp"
#include "tilvex/records.hpp"

namespace tilvex::formats {

struct AcceptedLine {
  Grid grid;
  float phi = 0.0f;
  float trend[3] = {}, plunge[3] = {};  // degrees
};

// A line that is not an accepted line. reason(): "NAME:LINE: " then
// "expected 11 fields (4 grid indices, phi and 3 trend/plunge pairs),
// found N", "field K is not an integer: W" or "field K is not a number: W";
// status 1. The parts are there for a caller that words it its own way.
class AcceptedLineError : public Error {
 public:
  AcceptedLineError(const std::string& name, std::size_t line, int field, std::size_t fields,
                    std::string_view word);
  std::size_t line;   // from 1
  int field;          // from 1 (1 to 4 an index, 5 to 11 a number); 0: `fields` fields, not 11
  std::size_t fields;
  std::string word;   // the field that does not read
};

// Line `number` of the file `name` (for messages); empty for a blank line.
// Eleven blank-separated fields: four ints as "%d" writes them (an
// optional '-', digits), then seven numbers as std::from_chars reads a
// float, with an optional '+'; "nan" and "-nan" are a quiet NaN, "inf" and
// "-inf" infinities; a number beyond the floats does not read. Throws
// AcceptedLineError.
std::optional<AcceptedLine> parse_accepted_line(std::string_view line, const std::string& name,
                                               std::size_t number);

// Hands `each` every accepted line of the committed part of the file
// `path`, in order, reading `chunk` bytes at a time (read_committed): the
// memory of one chunk and one line, whatever the file's size. Blank lines
// are skipped. Throws FileError, or AcceptedLineError at the first line
// that is not one (those before it have been handed over).
void read_accepted(const std::string& path, const std::function<void(const AcceptedLine&)>& each,
                   std::size_t chunk = std::size_t{1} << 20);

// The lines of one grid point, read as read_accepted reads them: `each`
// gets those of `chosen` if given, else those of the only grid point the
// file holds. Returns that grid point. Throws tilvex::Error (status 1) if
// the file holds no line ("NAME: holds no accepted resamples"), several
// grid points and no choice ("NAME: holds 2 grid points; choose one with
// --grid X Y Z T: 3 7 0 1, 4 7 0 1") or none of the chosen one ("NAME: no
// accepted resample for grid point 9 9 9 9"); FileError and
// AcceptedLineError as read_accepted.
Grid select_grid(const std::string& path, const std::optional<Grid>& chosen,
                 const std::function<void(const AcceptedLine&)>& each);

// "X Y Z T".
std::string grid_text(const Grid& g);

}  // namespace tilvex::formats
