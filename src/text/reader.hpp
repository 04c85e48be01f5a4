#pragma once
// Reading a resample results file held in memory.
//
// The file is a best-fit record (a tensor line and a solution line) followed
// by one such record per resample. Pass 1 counts the resample records and
// needs only their tensors; pass 2 reads exactly that many records again.
// A field that does not parse keeps the value it held before: the value of
// the previous record, or 0 where there is none.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "tilvex/records.hpp"

namespace tilvex::inline detail {

// The physical lines of a text, one per read, as a line-oriented stream read
// gives them: a line keeps its newline, a last line without one still counts,
// and a read at the end of the text fails and keeps the line last read.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  // Reads the next line; false at the end of the text. Its first `skip`
  // bytes are not searched for its newline (the line holds at least that
  // many and a newline).
  bool next(std::size_t skip = 0) {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_ + skip);
    end = (end == std::string_view::npos) ? text_.size() : end + 1;
    line_ = text_.substr(pos_, end - pos_);
    pos_ = end;
    ++number_;
    return true;
  }
  // The line last read, its newline included; empty before the first read.
  std::string_view line() const { return line_; }
  // Bytes of the text read so far.
  std::size_t consumed() const { return pos_; }
  // The number of the line last read, from 1; 0 before the first read.
  std::size_t number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
  std::string_view line_;
};

// Fields that did not read as numbers: each kept the value it had before.
struct UnreadFields {
  std::size_t count = 0;
  std::size_t first_line = 0;  // from 1; 0 if there is none
  int first_field = 0;         // from 1
};

// How many newlines `text` holds.
std::size_t count_lines(std::string_view text);

// Why the text cannot be a resample results file: its first line converts
// no field under the standard scan (it is blank, or does not begin with a
// number after its blanks). Empty if it may be one.
std::string not_resample_results(std::string_view text);

// Whether the first line holds more than six numbers, as no resample
// results file does (an accepted-resamples file has eleven).
bool first_line_too_long(std::string_view text);

// What a reader tells of each line of the text as it scans it the first
// time: the best-fit record's two lines, then the tensor lines (pass 1),
// then the solution lines (pass 2). Every line of the text is told once,
// in that order, so a watcher can judge the file without reading it again.
class LineWatcher {
 public:
  virtual ~LineWatcher() = default;
  // Line `number` (from 1), its bytes `line` (with its newline, if it has
  // one): `converted` fields were read into `fields`; `plain` as
  // scan_fields tells it.
  virtual void scanned(std::size_t number, std::string_view line, const float* fields, int converted,
                       bool plain) = 0;
  // A new watcher of the same kind for a part of the file read apart, its
  // lines told from 1; null if the watcher cannot take parts.
  virtual std::unique_ptr<LineWatcher> part() const { return nullptr; }
  // Takes in what `part` (made by part()) was told, its lines being those
  // after the first `lines_before` of the file, and after all told here.
  virtual void join(const LineWatcher& /*part*/, std::size_t /*lines_before*/) {}
};

// Both passes over one resample results file.
class ResampleReader {
 public:
  // Reads the best-fit record from the first two lines. With a single line,
  // the best-fit solution is scanned from that line too. A `watcher`, if
  // given, is told of every line as it is first scanned.
  explicit ResampleReader(std::string_view text, LineWatcher* watcher = nullptr);

  // A reader of resample records alone, from the first line of `text`
  // (the later part of a file, split at a record), with `best` as its
  // best-fit record. Lines are numbered, and told, from 1 in `text`.
  ResampleReader(std::string_view text, const Record& best, LineWatcher* watcher);

  const Record& best() const { return best_; }

  // Pass 1: reads the tensor line of the next resample record and steps over
  // its solution line without parsing or testing it. Null at the end of the
  // text: then no record was read.
  const Components* next_tensor();

  // The tensor line next_tensor() read last, and whether its record has no
  // solution line (the text ended).
  std::string_view tensor_line() const { return tensor_line_; }
  bool cut() const { return cut_; }

  // Pass 2: goes back to the first resample record. The resample fields keep
  // the values they hold, so a field that does not parse in the first
  // record of pass 2 takes the last value of pass 1.
  void restart();

  // True when pass 2 reads every tensor exactly as pass 1 did: the first
  // record's tensor line gave all six fields in pass 1, so no field of a
  // later record carries a value that differs between the passes.
  bool tensors_repeat() const { return first_tensor_complete_; }

  // Pass 2: reads the next record, its tensor line parsed only if
  // `read_tensor` (else stepped over, for when tensors_repeat() holds and the
  // pass-1 values serve). It does not test for the end of the text: a read
  // there keeps the line last read, so a missing solution line is scanned
  // from its own tensor line.
  // The first `skip` bytes of the tensor line are not searched for its
  // newline (they may hold anything when it is not read).
  const Record& next_record(bool read_tensor, std::size_t skip = 0);

  // The number of the line last read, from 1 (after pass 1: the lines of
  // the text).
  std::size_t line() const { return cursor_.number(); }

  // Bytes of the text read so far: pass 2 never reads them again.
  std::size_t consumed() const { return cursor_.consumed(); }

  // The fields of the lines read so far that did not read as numbers (each
  // line counted once: the tensor lines in pass 1, the solution lines in
  // pass 2).
  const UnreadFields& unread() const { return unread_; }

 private:
  std::string_view text_;
  LineCursor cursor_;
  Record best_;
  Record resample_;
  bool first_tensor_read_ = false;
  bool first_tensor_complete_ = false;
  UnreadFields unread_;
  LineWatcher* watcher_;
  int header_lines_ = 2;  // before the first resample record
  std::string_view tensor_line_;
  bool cut_ = false;

  void note(int converted, int expected);
  // Scans the line last read into `fields`, telling the watcher if `first`.
  int scan(float* fields, int count, bool first);
  int scan_tensor(Components& c, bool first) { return scan(c.s, 6, first); }
  int scan_solution(Solution& s, bool first);
};

}  // namespace tilvex::inline detail
