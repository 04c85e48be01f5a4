#pragma once
// The health of a resample results file: what in it a reader should look
// at before trusting the result, each finding one line of words. The checks
// change nothing: the analysis reads the file as it always does.
//
//   wide       a first line of more than six numbers
//   cut        the file ends inside a record (its solution line is missing)
//   swapped    a record's lines hold 7 numbers, then 6
//   fields     a record's lines hold other than 6, then 7 numbers
//   nonfinite  a value that reads as nan or inf
//   phi        phi outside [0, 1]
//   plunge     a plunge outside [-90, 90]
//   unread     fields that did not read as numbers (from the analysis)

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/reader.hpp"
#include "tilvex/analyse.hpp"

namespace tilvex::formats {

// One finding: its short code (the table's notes column), the line of its
// first case (from 1), how many cases (records, or fields for unread) and
// the whole line of words, which names the file as `shown_name`.
struct HealthNote {
  std::string code;
  std::size_t line = 0;
  std::size_t count = 0;
  std::string text;
};

// The findings on `text`, the bytes of the file shown as `shown_name`
// (quoted, as 'run.vrin'), in the order of the codes above (unread
// aside); empty for a clean file. One pass over the bytes; it reads only the values it checks
// (phi and the plunges of each solution line), and every token only as far
// as telling whether it may be nan or inf. Must see the text before an
// in-place analysis overwrites it. Allocates only the notes.
std::vector<HealthNote> health_of(std::string_view text, const std::string& shown_name);

// The same findings, gathered as a reader scans the file for an analysis
// (given to ResampleReader or analyse_in_place): the lines read as plain
// numbers are judged from the values read, the rest from their bytes, so
// the file is not read again. Its notes equal health_of's on the text.
struct HealthTallies;
class HealthWatch final : public LineWatcher {
 public:
  HealthWatch();
  ~HealthWatch() override;
  void scanned(std::size_t number, std::string_view line, const float* fields, int converted,
               bool plain) override;
  std::unique_ptr<LineWatcher> part() const override;
  void join(const LineWatcher& part, std::size_t lines_before) override;
  // The findings, once the analysis is done.
  std::vector<HealthNote> notes(const std::string& shown_name) const;

 private:
  // A tensor line that is not six finite numbers.
  struct OddLine {
    std::size_t line;
    int tokens;
    bool nonfinite;
  };
  bool wide_ = false;
  std::size_t lines_ = 0;
  std::vector<OddLine> odd_;
  std::size_t next_odd_ = 0;
  std::unique_ptr<HealthTallies> records_;
};

// The fields an analysis of that file found unread, as a note appended to
// `notes` (nothing if there were none). The text is the one tilvex has
// always printed for them.
void add_unread(std::vector<HealthNote>& notes, const std::string& shown_name, const Analysis& analysis);

// The codes of `notes`, ';'-separated, as the table's notes column holds them.
std::string note_codes(const std::vector<HealthNote>& notes);

}  // namespace tilvex::formats
