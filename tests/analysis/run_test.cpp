#include "analysis/run.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "analysis/writer.hpp"

namespace tilvex {
namespace {

class Lines : public AcceptedSink {
 public:
  void accept(std::size_t index, const Solution& s) override {
    indices.push_back(index);
    append_accepted_line(text, Grid{1, -2, 3, 40}, s);
  }
  std::vector<std::size_t> indices;
  std::string text;
};

// The in-place texts against the plain analysis with its own formatting.
void expect_same_texts(const std::string& text, float level, bool expect_tail) {
  Lines lines;
  const Analysis a = analyse(text, level, lines);
  std::string summary;
  append_summary_line(summary, a.summary);

  std::string buffer = text;
  const RunTexts t = analyse_in_place(buffer, level, Grid{1, -2, 3, 40});
  EXPECT_EQ(std::string(t.head) + t.tail, lines.text);
  EXPECT_EQ(t.summary, summary);
  EXPECT_EQ(t.analysis.count, a.count);
  if (expect_tail) {
    EXPECT_FALSE(t.tail.empty());
  }
}

TEST(AnalyseInPlace, SameTextsAsTheAnalysis) {
  const std::string best = "1 0 0 0 0 -1\n0.5 10 20 120 5 240 78\n";
  std::string usual = best, tiny = best;
  for (int i = 0; i < 300; ++i) {
    usual += "0.98 0.1 -0.02 0.01 0.05 -1.01\n0.45 12.5 21.25 125 3 250 80\n";
    tiny += "1\n2\n";  // lines far longer than the records they come from
  }
  expect_same_texts(usual, 95, false);
  expect_same_texts(tiny, 95, true);
  // Lines that fit at first and then do not.
  expect_same_texts(usual + tiny, 50, true);
  expect_same_texts(best, 95, false);
  expect_same_texts("", 95, false);
}

TEST(AnalyseInPlace, SameTextsOnJunk) {
  std::mt19937 rng(99);
  const std::string pieces[] = {"1", " ", "\n", "-0.5", "x", "1e", "nan", "\t", "300", "0x1p-3", ".", "\n\n"};
  for (int round = 0; round < 500; ++round) {
    std::string text;
    for (int k = static_cast<int>(rng() % 400); k > 0; --k) text += pieces[rng() % std::size(pieces)];
    expect_same_texts(text, static_cast<float>(rng() % 120), false);
  }
}

}  // namespace
}  // namespace tilvex
