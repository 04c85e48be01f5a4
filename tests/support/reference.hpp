#pragma once
// The straightforward pipeline, slow and plain, as an oracle for the fast
// one: each line scanned by the standard "%f" scan on a copy, every
// similarity computed twice, the table sorted whole with a stable sort,
// the axis test with the library sine and cosine, the trend wrapped one
// step at a time, and the texts printed by printf.

#include <string>
#include <string_view>

#include "tilvex/records.hpp"

namespace tilvex::test {

struct ReferenceTexts {
  std::string summary;  // output_file's line
  std::string lines;    // output_file2's lines
};

ReferenceTexts reference_run(std::string_view text, float confidence_level, const Grid& grid);

}  // namespace tilvex::test
