#pragma once
// The committed part of a result file, read a chunk at a time: what whole
// runs appended, not what an append that died left behind it (the journal
// of files/journal.hpp records the length to stop at).

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "text/error.hpp"

namespace tilvex::formats {

// A file that cannot be opened or read. reason(): "cannot open 'NAME': "
// or "cannot read 'NAME': " and the system's reason; fixed(): tilvex's
// words, "unable to open NAME" or "unable to read NAME"; status 1.
class FileError : public Error {
 public:
  FileError(const std::string& name, bool opened, int error_number);
  bool opened() const { return opened_; }
  int error_number() const { return error_number_; }

 private:
  bool opened_;
  int error_number_;
};

// Hands `take` the committed part of the file `path`, in order, in pieces
// of at most `chunk` bytes (one buffer of that size). A regular file is
// read up to its committed length as it stands when opened; anything else
// (a pipe) to its end. Throws FileError.
void read_committed(const std::string& path, const std::function<void(std::string_view)>& take,
                    std::size_t chunk = std::size_t{1} << 20);

// The committed part of `path`, whole. Throws FileError.
std::string committed_text(const std::string& path);

// Cuts pieces of text into lines, handing each (without its '\n') to a
// function with its number from 1. A line may span pieces; only such a
// line is copied. finish() hands over a last line without '\n'.
class LineCutter {
 public:
  using Line = std::function<void(std::string_view line, std::size_t number)>;
  explicit LineCutter(Line line) : line_(std::move(line)) {}
  void feed(std::string_view piece);
  void finish();

 private:
  Line line_;
  std::string carry_;
  std::size_t number_ = 0;
};

}  // namespace tilvex::formats
