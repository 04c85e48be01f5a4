#include "list.hpp"

#include "text/error.hpp"
#include "text/words.hpp"

namespace tilvex::grid {

std::vector<Point> read_list(std::string_view text, const std::string& name) {
  std::vector<Point> points;
  std::size_t number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    const std::vector<std::string_view> fields = words(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    if (fields.size() != 5) {
      throw Error(name + ":" + std::to_string(number) +
                      ": expected 5 fields (input xgrid ygrid zgrid tgrid), found " + std::to_string(fields.size()),
                  2);
    }
    int index[4];
    for (int k = 0; k < 4; ++k) {
      const std::string_view f = fields[1 + k];
      std::size_t used = 0;
      const auto v = read_int(f, &used);
      if (!v || used != f.size() || f[0] == '+') {
        throw Error(name + ":" + std::to_string(number) + ": field " + std::to_string(2 + k) +
                        " is not an int: " + std::string(f),
                    2);
      }
      index[k] = *v;
    }
    points.push_back({std::string(fields[0]), Grid{index[0], index[1], index[2], index[3]}, number});
  }
  return points;
}

std::span<const Point> part_of(std::span<const Point> points, std::size_t k, std::size_t n) {
  const std::size_t base = points.size() / n, extra = points.size() % n;
  const std::size_t first = k * base + std::min(k, extra);
  return points.subspan(first, base + (k < extra ? 1 : 0));
}

std::uint64_t fingerprint(std::span<const Point> points) {
  std::uint64_t h = 0xcbf29ce484222325u;  // FNV-1a, 64 bits
  const auto mix = [&h](std::string_view bytes) {
    for (unsigned char c : bytes) h = (h ^ c) * 0x100000001b3u;
  };
  for (const Point& p : points) {
    mix(p.input);
    for (int v : {p.grid.x, p.grid.y, p.grid.z, p.grid.t}) mix(" " + std::to_string(v));
    mix("\n");
  }
  return h;
}

}  // namespace tilvex::grid
