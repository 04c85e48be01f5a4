#pragma once
// One point of a grid, analysed as tilvex would run it: its results, or
// the message tilvex would print for it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/input_file.hpp"
#include "files/result_files.hpp"
#include "formats/health.hpp"
#include "list.hpp"
#include "run/in_place.hpp"

namespace tilvex::grid {

// One point, analysed: its input (which holds its accepted lines) and its
// texts and the health notes of its input, or the message tilvex would
// print for it.
struct Outcome {
  explicit Outcome(std::shared_ptr<InputBuffers> buffers) : input(std::move(buffers)) {}

  InputFile input;
  std::optional<RunTexts> texts;
  std::string failure;
  std::string reason;  // the failure's, for standard error
  std::vector<formats::HealthNote> notes;  // none for a point that failed
  std::string row;     // its row of the table
  std::string record;  // its lines of the record: the row, then its notes' texts
};

// Reads and analyses the point's input at `level`, into a buffer from
// `buffers` where one is kept there; an input that is one of the result
// files fails, as in tilvex.
std::unique_ptr<Outcome> analyse_point(const Point& p, float level, const ResultFile& output,
                                       const ResultFile& output2, const std::shared_ptr<InputBuffers>& buffers);

}  // namespace tilvex::grid
