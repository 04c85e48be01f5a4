#include "commit.hpp"

#include <cstddef>

namespace tilvex::grid {

Commit commit_of(std::span<const AnalysedPoint> batch, const CommitFiles& files) {
  Commit c;
  // Each target as its file and its first and last piece, made spans once
  // every piece is in (the vector moves while it grows).
  struct Range {
    ResultFile* file;
    std::size_t first, end;
  };
  std::vector<Range> ranges;
  const auto add = [&](ResultFile* file, auto&& put) {
    const std::size_t first = c.pieces.size();
    put();
    ranges.push_back({file, first, c.pieces.size()});
  };
  const auto lines = [&](const AnalysedPoint& p) {
    c.pieces.insert(c.pieces.end(), p.lines.begin(), p.lines.end());
  };
  if (files.one_file) {  // as the loop leaves it: lines, then summary, point by point
    for (const AnalysedPoint& p : batch) {
      if (!p.analysed) continue;
      add(files.output2, [&] { lines(p); });
      add(files.output, [&] { c.pieces.push_back(p.summary); });
    }
  } else {
    add(files.output2, [&] {
      for (const AnalysedPoint& p : batch)
        if (p.analysed) lines(p);
    });
    add(files.output, [&] {
      for (const AnalysedPoint& p : batch)
        if (p.analysed) c.pieces.push_back(p.summary);
    });
  }
  if (files.record != nullptr)
    add(files.record, [&] {
      for (const AnalysedPoint& p : batch) c.pieces.push_back(p.row);
    });
  const std::span<const std::string_view> all(c.pieces);
  for (const Range& r : ranges) c.targets.push_back({r.file, all.subspan(r.first, r.end - r.first)});
  return c;
}

}  // namespace tilvex::grid
