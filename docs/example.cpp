// Using tilvex as a library: a program that holds its bootstrap as numbers
// analyses it without writing a file, and gets the same result as the
// command line would from the file those numbers make.
//
// Built and run by the tests (target tilvex-example).

#include <cstdio>
#include <string>
#include <vector>

#include <tilvex/analyse.hpp>

int main() {
  // The best fit and four resamples, as an inversion program holds them:
  // six tensor components, then phi and trend/plunge of axes 1 to 3.
  const tilvex::Record best{{{1, 0, 0, 0, 0, -1}}, {0.5f, {{355, 10}, {120, 5}, {240, 78}}}};
  const std::vector<tilvex::Record> resamples = {
      {{{1, 0.1f, 0, 0, 0, -1}}, {0.45f, {{0, 12}, {125, 3}, {250, 80}}}},
      {{{0.9f, 0, 0.2f, 0.1f, 0, -1}}, {0.55f, {{350, 7}, {300, -4}, {235, 75}}}},
      {{{0, 1, 0, 0, 0, 0}}, {0.9f, {{45, 30}, {135, 0}, {300, 60}}}},
      {{{1, 0, 0, 0, 0.05f, -0.9f}}, {0.4f, {{175, -12}, {118, 6}, {60, -79}}}},
  };

  // From the numbers: the threshold, the accepted resamples and the bounds.
  const tilvex::Result r = tilvex::analyse(best, resamples, 75.0f);
  std::printf("%zu resamples, threshold %.5f, accepted:", r.analysis.count,
              static_cast<double>(r.analysis.threshold));
  for (std::size_t i : r.accepted) std::printf(" %zu", i);
  const tilvex::Summary& s = r.analysis.summary;
  std::printf("\nphi %.2f to %.2f, trend of axis 1 %.2f to %.2f\n", static_cast<double>(s.phi.low),
              static_cast<double>(s.phi.high), static_cast<double>(s.trend[0].low),
              static_cast<double>(s.trend[0].high));

  // The texts the command line would append to its two result files.
  std::fputs(tilvex::format_summary(r).c_str(), stdout);
  std::fputs(tilvex::format_accepted(r, {3, 7, 0, 1}).c_str(), stdout);

  // The same from the bytes of a resample results file.
  const std::string file =
      "1 0 0 0 0 -1\n0.5 355 10 120 5 240 78\n"
      "1 0.1 0 0 0 -1\n0.45 0 12 125 3 250 80\n"
      "0.9 0 0.2 0.1 0 -1\n0.55 350 7 300 -4 235 75\n"
      "0 1 0 0 0 0\n0.9 45 30 135 0 300 60\n"
      "1 0 0 0 0.05 -0.9\n0.4 175 -12 118 6 60 -79\n";
  const tilvex::Result from_file = tilvex::analyse(file, 75.0f);
  const bool same = from_file.accepted == r.accepted &&
                    tilvex::format_summary(from_file) == tilvex::format_summary(r) &&
                    tilvex::format_accepted(from_file, {3, 7, 0, 1}) ==
                        tilvex::format_accepted(r, {3, 7, 0, 1});
  std::printf("the file gives %s\n", same ? "the same" : "something else");
  return same ? 0 : 1;
}
