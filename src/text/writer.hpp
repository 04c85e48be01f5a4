#pragma once
// The two result formats. Values are single-precision floats widened to
// double for printing, exactly as printf prints them in the POSIX locale;
// NaN and infinity print as "nan", "-nan", "inf" and "-inf".

#include <string>

#include "format.hpp"
#include "tilvex/records.hpp"

namespace tilvex::inline detail {

// The most bytes one accepted-resample line takes.
inline constexpr int kMaxAcceptedLine = 4 * (kMaxInt + 1) + 7 * (kMaxFixed + 1);

// Writes one accepted-resample line at `out` and returns its end: the grid
// indices, then the resample's phi and its three trend/plunge pairs as read,
// in degrees, as "%d %d %d %d %f %f %f " "%f %f " "%f %f\n" print them.
// Writes at most kMaxAcceptedLine bytes.
char* write_accepted_line(char* out, const Grid& grid, const Solution& s);

// The grid indices as an accepted-resample line begins with them,
// "%d %d %d %d ", written once for the lines of a run.
class LinePrefix {
 public:
  explicit LinePrefix(const Grid& grid);
  // Writes one accepted-resample line as above, with these indices.
  char* write(char* out, const Solution& s) const;

 private:
  char text_[4 * (kMaxInt + 1)];
  std::size_t length_ = 0;
};

// Appends one accepted-resample line to `out`.
void append_accepted_line(std::string& out, const Grid& grid, const Solution& s);

// Appends the summary line to `out`: for phi and each trend and plunge the
// best-fit value, then the lower and upper bound, as
// "phi= %4.2f %4.2f %4.2f tr1= %7.2f %7.2f %7.2f pl1= %6.2f %6.2f %6.2f tr2= %7.2f %7.2f %7.2f "
// "pl2= %6.2f %6.2f %6.2f tr3= %7.2f %7.2f %7.2f pl3= %6.2f %6.2f %6.2f\n" print them.
void append_summary_line(std::string& out, const Summary& s);

}  // namespace tilvex::inline detail
