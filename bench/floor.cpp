// tilvex-floor INPUT BYTES1 FILE1 BYTES2 FILE2: the floor of one tilvex
// run, for make bench to pair with it. Reads INPUT whole into memory, as
// tilvex does, and appends BYTES1 bytes to FILE1 and BYTES2 to FILE2 (as
// many as tilvex appends), in blocks of 1 MiB. Nothing else: the least a
// run that reads its input and appends its results can cost.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 6) return 2;
  const int in = open(argv[1], O_RDONLY);
  struct stat st {};
  if (in < 0 || fstat(in, &st) != 0) return 1;
  std::vector<char> text(static_cast<std::size_t>(st.st_size));
  for (std::size_t got = 0; got < text.size();) {
    const ssize_t n = read(in, text.data() + got, text.size() - got);
    if (n <= 0) return 1;
    got += static_cast<std::size_t>(n);
  }
  close(in);
  const std::vector<char> block(1 << 20, '0');
  for (int f = 0; f < 2; ++f) {
    long left = std::atol(argv[2 + 2 * f]);
    const int out = open(argv[3 + 2 * f], O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (out < 0) return 1;
    while (left > 0) {
      const ssize_t n = write(out, block.data(), static_cast<std::size_t>(std::min<long>(left, 1 << 20)));
      if (n <= 0) return 1;
      left -= n;
    }
    close(out);
  }
  return text.empty() ? 1 : 0;
}
