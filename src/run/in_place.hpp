#pragma once
// The program's own way through a run: the accepted-resample lines are
// formatted into the input text itself, behind pass 2, so that a run of a
// million resamples needs no second buffer of the same size.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/stress.hpp"
#include "text/reader.hpp"
#include "text/writer.hpp"
#include "tilvex/analyse.hpp"
#include "tilvex/records.hpp"

namespace tilvex::inline detail {

// The accepted-resample lines of one grid point, written over the bytes of
// the text that pass 2 has read and never reads again, while each fits
// there; from the first that does not, into a buffer of their own.
class InPlaceLines {
 public:
  InPlaceLines(std::span<char> text, const Grid& grid) : text_(text), prefix_(grid) {}

  // Adds the line of an accepted resample; pass 2 has read the first `read`
  // bytes of the text.
  void add(const Solution& solution, std::size_t read);

  // The lines so far, in order: those in the text, then the rest.
  std::array<std::string_view, 2> pieces() const {
    return {std::string_view(text_.data(), in_text_), overflow_};
  }

 private:
  std::span<char> text_;
  LinePrefix prefix_;
  std::size_t in_text_ = 0;  // bytes of lines at the start of the text
  bool overflowed_ = false;
  std::string overflow_;
};

// The accepted-resample lines of a run, in order, in pieces.
using LinePieces = std::vector<std::string_view>;

// What one run of the program appends: its accepted-resample lines and its
// summary line; and, if asked, the run's stress quantities.
struct RunTexts {
  Analysis analysis;
  InPlaceLines lines;
  std::vector<InPlaceLines> later;  // of the later parts, when read apart
  std::string summary;
  StressSummary stress;

  LinePieces pieces() const {
    LinePieces all;
    const auto add = [&](const InPlaceLines& l) {
      for (const std::string_view piece : l.pieces()) all.push_back(piece);
    };
    add(lines);
    for (const InPlaceLines& l : later) add(l);
    return all;
  }
};

// How a run in place goes.
struct InPlaceOptions {
  // Gather the stress quantities of the best fit and the accepted
  // resamples in pass 2 too.
  bool stress = false;
  // Told of every line as the reader first scans it, before the text is
  // written over.
  LineWatcher* watcher = nullptr;
  // With 2 or more, a text of at least `parts_from` bytes is read as up to
  // `parts` parts, on two threads, each part by whichever is free first,
  // where it can be split at records whose lines read whole (else, and
  // with stress, it is read as one).
  unsigned threads = 1;
  std::size_t parts = 8;
  std::size_t parts_from = std::size_t{256} << 10;
  // From `in_text_from` bytes, the similarities of the resamples are kept
  // in the text (in the tensor lines pass 2 steps over), not in a table of
  // 4 bytes a resample; without stress.
  std::size_t in_text_from = std::size_t{64} << 20;
  // With the similarities in the text, each part keeps those of its first
  // `guess_after` resamples, and from them guesses where the threshold
  // lies; it keeps the later ones near that guess too, so that the
  // threshold is found without reading the text again where the guess
  // holds; at most 64 times as many as the first. At least 1.
  std::size_t guess_after = 16384;
};

// As analyse(text, ...), for a text the caller gives up, as the program
// does: the lines for `grid` are formatted into `text` by InPlaceLines,
// whose content is otherwise lost. The results are those of one reading,
// to the bit, however it is read.
RunTexts analyse_in_place(std::span<char> text, float confidence_level, const Grid& grid,
                          const InPlaceOptions& options = {});

}  // namespace tilvex::inline detail
