// tilvex-grid-floor LIST JOBS FILE1 FILE2: the floor of a grid, for make
// bench to pair with tilvex-grid. Every point of LIST (a grid list: the
// input's name first on each line) read and analysed on JOBS threads
// straight through the library, and its texts appended to FILE1 (the
// summary) and FILE2 (the accepted lines) as soon as it is analysed, each
// by one write with O_APPEND, in whatever order the threads finish: no
// order, no lock, no journal, no record. With the stress quantities, which
// tilvex-grid gathers for its table, and the buffers of inputs done with
// kept for the next, as tilvex-grid keeps them.

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "files/input_file.hpp"
#include "run/in_place.hpp"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  tilvex::InputFile list;
  if (!list.open(argv[1]) || !list.read()) return 1;
  std::vector<std::string> inputs;
  for (std::string_view text = list.text(); !text.empty();) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    inputs.emplace_back(line.substr(0, line.find(' ')));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  const int jobs = std::atoi(argv[2]);
  int out[2];
  for (int k = 0; k < 2; ++k)
    if ((out[k] = open(argv[3 + k], O_WRONLY | O_APPEND | O_CREAT, 0644)) < 0) return 1;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  const auto buffers = std::make_shared<tilvex::InputBuffers>(std::size_t{8} << 20);
  std::vector<std::thread> threads;
  for (int j = 0; j < jobs; ++j)
    threads.emplace_back([&] {
      for (std::size_t i; (i = next++) < inputs.size();) {
        tilvex::InputFile f(buffers);
        if (!f.open(inputs[i]) || !f.read()) {
          failed = true;
          return;
        }
        const tilvex::RunTexts t = tilvex::analyse_in_place(f.bytes(), 95.0f, tilvex::Grid{1, 2, 3, 4}, {.stress = true});
        std::string lines;
        for (std::string_view piece : t.pieces()) lines += piece;
        if (t.summary.empty() ||
            write(out[0], t.summary.data(), t.summary.size()) != static_cast<ssize_t>(t.summary.size()) ||
            write(out[1], lines.data(), lines.size()) != static_cast<ssize_t>(lines.size()))
          failed = true;
      }
    });
  for (std::thread& t : threads) t.join();
  return failed ? 1 : 0;
}
