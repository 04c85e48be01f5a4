// tilvex-plot: a picture of the accepted resamples of one grid point.
//
// tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [-o OUT.svg]
//
// Reads the lines tilvex appends to output_file2 and writes one standalone
// SVG: the axes on a lower-hemisphere equal-area net and a histogram of phi.
// Errors go to standard error, with status 1 (2 for a wrong command line);
// nothing is written then.

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "files/journal.hpp"
#include "plot/accepted.hpp"
#include "plot/stereonet.hpp"
#include "text/words.hpp"

namespace {

int usage() {
  std::fputs("usage: tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [-o OUT.svg]\n", stderr);
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "tilvex-plot: %s\n", message.c_str());
  return 1;
}

std::optional<int> whole_number(std::string_view s) {
  std::size_t end = 0;
  const auto v = tilvex::read_int(s, &end);
  return end == s.size() ? v : std::nullopt;
}

// Writes `text` to `path` whole or not at all: into a new file beside it,
// then renamed over it.
bool write_whole(const std::string& path, const std::string& text) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) {
      std::filesystem::remove(partial);
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(partial, path, ec);
  if (ec) std::filesystem::remove(partial);
  return !ec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("tilvex-plot %s\n", TILVEX_VERSION);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::printf(
        "usage: tilvex-plot ACCEPTED_FILE [--grid X Y Z T] [-o OUT.svg]\n\n"
        "Draws the accepted resamples of one grid point (the lines tilvex appends to\n"
        "output_file2) as one SVG: their axes on a lower-hemisphere equal-area net and a\n"
        "histogram of phi. Without -o the picture goes to standard output.\n");
    return 0;
  }
  using namespace tilvex::plot;
  std::string input, output;
  std::optional<tilvex::Grid> grid;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--grid") {
      if (i + 4 >= argc) return usage();
      std::optional<int> v[4];
      for (int k = 0; k < 4; ++k) v[k] = whole_number(argv[i + 1 + k]);
      if (!v[0] || !v[1] || !v[2] || !v[3]) return usage();
      grid = tilvex::Grid{*v[0], *v[1], *v[2], *v[3]};
      i += 4;
    } else if (arg == "-o") {
      if (i + 1 >= argc) return usage();
      output = argv[++i];
    } else if (input.empty() && !arg.empty() && arg[0] != '-') {
      input = arg;
    } else {
      return usage();
    }
  }
  if (input.empty()) return usage();

  std::ifstream in(input, std::ios::binary);
  if (!in || std::filesystem::is_directory(input)) return fail("cannot read " + input);
  std::ostringstream text;
  text << in.rdbuf();  // an empty file reads as no lines, reported below
  if (in.bad()) return fail("cannot read " + input);

  std::string svg;
  try {
    // Only whole runs: not what an append that died left behind.
    std::string whole = text.str();
    struct stat st {};
    if (::stat(input.c_str(), &st) == 0)
      whole.resize(static_cast<std::size_t>(tilvex::journal::committed_length(
          input, st.st_dev, st.st_ino, static_cast<off_t>(whole.size()))));
    const auto lines = select_grid(read_accepted(whole, input), grid ? &*grid : nullptr, input);
    const tilvex::Grid& g = lines.front().grid;
    svg = render_svg(lines, input + ", grid point " + std::to_string(g.x) + " " +
                                std::to_string(g.y) + " " + std::to_string(g.z) + " " +
                                std::to_string(g.t));
  } catch (const PlotError& e) {
    return fail(e.what());
  }

  if (output.empty()) {
    if (std::fwrite(svg.data(), 1, svg.size(), stdout) != svg.size() || std::fflush(stdout) != 0)
      return fail("cannot write the picture to standard output");
    return 0;
  }
  if (!write_whole(output, svg)) return fail("cannot write " + output);
  return 0;
}
