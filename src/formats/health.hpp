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
#include <string>
#include <string_view>
#include <vector>

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

// The fields an analysis of that file found unread, as a note appended to
// `notes` (nothing if there were none). The text is the one tilvex has
// always printed for them.
void add_unread(std::vector<HealthNote>& notes, const std::string& shown_name, const Analysis& analysis);

// The codes of `notes`, ';'-separated, as the table's notes column holds them.
std::string note_codes(const std::vector<HealthNote>& notes);

}  // namespace tilvex::formats
