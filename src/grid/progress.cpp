#include "progress.hpp"

#include <algorithm>
#include <cstdio>

#include "formats/table.hpp"

namespace tilvex::grid {

namespace {

constexpr std::string_view kMagic = "tilvex-grid progress\t";
constexpr std::string_view kWarning = "\twarning\t";

// Whether a recorded row is of a point that failed: its status, the sixth
// column, is not "ok".
bool row_failed(std::string_view row) {
  for (int column = 0; column < 5; ++column) {
    const std::size_t tab = row.find('\t');
    if (tab == std::string_view::npos) return true;  // no status: not a row of a point that was appended
    row.remove_prefix(tab + 1);
  }
  const std::size_t end = row.find_first_of("\t\n");  // of the status
  return row.substr(0, end) != "ok";
}

}  // namespace

std::string progress_header(std::size_t points, std::uint64_t fingerprint, std::string_view level,
                            std::size_t part_k, std::size_t part_n) {
  char list[32];
  std::snprintf(list, sizeof list, "%016llx", static_cast<unsigned long long>(fingerprint));
  return std::string(kMagic) + "points=" + std::to_string(points) + "\tlist=" + list +
         "\tlevel=" + std::string(level) + "\tpart=" + std::to_string(part_k) + "/" +
         std::to_string(part_n) + "\n";
}

std::string warning_lines(const std::vector<std::string>& texts) {
  std::string lines;
  for (const std::string& t : texts) {
    lines += kWarning;
    for (char c : t) lines += (c == '\n' || c == '\r') ? ' ' : c;
    lines += '\n';
  }
  return lines;
}

std::optional<Progress> read_progress(std::string_view text) {
  if (text.substr(0, kMagic.size()) != kMagic) return std::nullopt;
  Progress p;
  std::size_t at = text.find('\n');
  if (at == std::string_view::npos) return std::nullopt;
  p.header = std::string(text.substr(0, at + 1));
  ++at;
  // Only whole lines count: a row cut short was never committed.
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(at, end + 1 - at);
    if (line == kComplete) {
      p.complete = true;
      break;
    }
    at = end + 1;
    if (line.substr(0, kWarning.size()) == kWarning) {
      if (!p.warnings.empty())
        p.warnings.back().emplace_back(line.substr(kWarning.size(), line.size() - kWarning.size() - 1));
      continue;
    }
    p.rows += line;
    p.warnings.emplace_back();
    ++p.done;
    if (row_failed(line)) ++p.failed;
    if (static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1 < formats::kTableColumns.size())
      ++p.narrow;
  }
  p.length = at;
  return p;
}


}  // namespace tilvex::grid
