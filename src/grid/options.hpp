#pragma once
// What a grid is asked to do: its files, level, threads, part and record.

#include <cstddef>
#include <string>

namespace tilvex::grid {

struct Options {
  std::string output, output2;  // the result files, named as tilvex takes them
  std::string level_text;       // as given, for the record
  float level = 95.0f;
  unsigned jobs = 1;
  std::size_t part_k = 0, part_n = 1;
  std::string table;     // the table's path; empty for none
  std::string netcdf;    // the netCDF file's path; empty for none
  std::string list;      // the list's name as given ("-": standard input)
  std::string progress;  // the record's path
  bool resume = false;
  bool again = false;  // a new copy of a grid that is recorded
  bool sync = false;   // TILVEX_SYNC=1
};

}  // namespace tilvex::grid
