#include "committed_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "files/journal.hpp"
#include "files/posix.hpp"

namespace tilvex::formats {

FileError::FileError(const std::string& name, bool opened, int error_number)
    : Error(std::string(opened ? "cannot read '" : "cannot open '") + name + "': " + std::strerror(error_number), 1,
            std::string(opened ? "unable to read " : "unable to open ") + name),
      opened_(opened),
      error_number_(error_number) {}

void read_committed(const std::string& path, const std::function<void(std::string_view)>& take,
                    std::size_t chunk) {
  const posix::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) throw FileError(path, false, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) throw FileError(path, true, errno);
  // -1: no limit, read to the end.
  off_t left = S_ISREG(st.st_mode) ? journal::committed_length(path, st.st_dev, st.st_ino, st.st_size) : -1;
  std::unique_ptr<char[]> buf(new char[chunk]);
  while (left != 0) {
    const std::size_t want = left < 0 ? chunk : static_cast<std::size_t>(std::min<off_t>(left, static_cast<off_t>(chunk)));
    const ssize_t got = ::read(fd.get(), buf.get(), want);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileError(path, true, errno);
    }
    if (got == 0) break;  // the end, or a file cut shorter since (another run's roll-back)
    if (left > 0) left -= got;
    take(std::string_view(buf.get(), static_cast<std::size_t>(got)));
  }
}

std::string committed_text(const std::string& path) {
  std::string text;
  read_committed(path, [&](std::string_view piece) { text.append(piece); });
  return text;
}

void LineCutter::feed(std::string_view piece) {
  while (!piece.empty()) {
    const std::size_t end = piece.find('\n');
    if (end == std::string_view::npos) {
      carry_.append(piece);
      return;
    }
    if (carry_.empty()) {
      line_(piece.substr(0, end), ++number_);
    } else {
      carry_.append(piece.substr(0, end));
      line_(carry_, ++number_);
      carry_.clear();
    }
    piece.remove_prefix(end + 1);
  }
}

void LineCutter::finish() {
  if (!carry_.empty()) line_(carry_, ++number_);
  carry_.clear();
}

}  // namespace tilvex::formats
