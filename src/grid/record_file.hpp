#pragma once
// The file of a grid's record, beside output_file: opened safely (never
// through a symlink, only a regular file of output_file's owner) and held
// locked for the whole life of its grid, so that two grids never share one.

#include <string>

#include "files/result_files.hpp"

namespace tilvex::grid {

// How the record could be opened: status 0 (opened and locked; `record`
// holds it), 2 (refused: `reason` says why, in words) or 213 (it cannot be
// opened: errno tells why).
struct RecordOpening {
  int status = 0;
  std::string reason;
};

// Opens (creating it if absent) the record `name` of the output file open
// at `output_fd`, named `output` as given, and locks it for life. Refused:
// a symlink, a file that is not regular, a file of another owner than
// output_file's, or a record another grid holds.
RecordOpening open_record(const std::string& name, const std::string& output, int output_fd,
                          ResultFile& record);

// The whole content of the file open at `fd`, read from its start.
bool read_whole(int fd, std::string& text);

// The time of the last change of the file open at `fd`, as an ISO date and
// time in UTC (2026-12-08T13:50:41Z).
std::string modified_at(int fd);

// The time now, the same way.
std::string utc_now();

}  // namespace tilvex::grid
