#include "run/in_place.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "text/writer.hpp"

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
  const auto pieces = t.lines.pieces();
  EXPECT_EQ(std::string(pieces[0]) + std::string(pieces[1]), lines.text);
  EXPECT_EQ(t.summary, summary);
  EXPECT_EQ(t.analysis.count, a.count);
  if (expect_tail) {
    EXPECT_FALSE(pieces[1].empty());
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

// Asked for, the stress quantities gathered in pass 2 are those of the best
// fit and every accepted resample (as stress_summary gives them from the
// analysis's own solutions); not asked for, none are gathered.
TEST(AnalyseInPlace, GathersTheStressQuantitiesOfTheAcceptedResamples) {
  const std::string text = [] {
    std::string t = "1 0 0 0 0 -1\n0.5 10 20 120 5 240 78\n";
    for (int i = 0; i < 200; ++i) {
      char line[160];
      std::snprintf(line, sizeof line, "0.98 0.1 -0.02 0.01 0.05 -1.01\n0.%02d %d 2%d 1%02d 5 240 7%d\n", 30 + i % 40,
                    5 + i % 11, i % 9, 15 + i % 13, i % 10);
      t += line;
    }
    return t;
  }();
  const Result r = analyse(text, 90.0f);
  Solution best;
  best.phi = r.analysis.summary.phi.best;
  for (int k = 0; k < 3; ++k)
    best.axis[k] = {r.analysis.summary.trend[k].best, r.analysis.summary.plunge[k].best};
  const StressSummary want = stress_summary(best, r.solutions);
  std::string buffer = text;
  const StressSummary got = analyse_in_place(buffer, 90.0f, Grid{}, {.stress = true}).stress;
  ASSERT_GT(want.regime_count, 0u);
  EXPECT_NE(want.shmax.low, want.shmax.high);
  EXPECT_EQ(got.shmax.best, want.shmax.best);
  EXPECT_EQ(got.shmax.low, want.shmax.low);
  EXPECT_EQ(got.shmax.high, want.shmax.high);
  EXPECT_EQ(got.regime, want.regime);
  EXPECT_EQ(got.regime_count, want.regime_count);
  EXPECT_EQ(got.regime_share, want.regime_share);
  EXPECT_EQ(got.regime_index.low, want.regime_index.low);
  EXPECT_EQ(got.regime_index.high, want.regime_index.high);
  buffer = text;
  EXPECT_EQ(analyse_in_place(buffer, 90.0f, Grid{}).stress.regime_count, 0u);
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

std::uint32_t bits(float f) { return std::bit_cast<std::uint32_t>(f); }

std::vector<std::uint32_t> bits_of(const Solution& s) {
  std::vector<std::uint32_t> v{bits(s.phi)};
  for (const Axis& a : s.axis) {
    v.push_back(bits(a.trend));
    v.push_back(bits(a.plunge));
  }
  return v;
}

std::vector<std::uint32_t> bits_of(const Summary& s) {
  std::vector<std::uint32_t> v;
  for (const Bounds& b : {s.phi, s.trend[0], s.plunge[0], s.trend[1], s.plunge[1], s.trend[2],
                          s.plunge[2]})
    for (float f : {b.best, b.low, b.high}) v.push_back(bits(f));
  return v;
}

// A float printed with nine significant digits reads back as itself.
std::string line_of(const float* values, int count) {
  std::string line;
  char buf[32];
  for (int k = 0; k < count; ++k) {
    std::snprintf(buf, sizeof buf, "%s%.9g", k ? " " : "", static_cast<double>(values[k]));
    line += buf;
  }
  return line + "\n";
}

std::string text_of(const Record& r) {
  const Solution& s = r.solution;
  const float solution[7] = {s.phi, s.axis[0].trend, s.axis[0].plunge, s.axis[1].trend,
                             s.axis[1].plunge, s.axis[2].trend, s.axis[2].plunge};
  return line_of(r.tensor.s, 6) + line_of(solution, 7);
}

// The records a program holds give, bit for bit, what the file they print
// to gives.
TEST(Analyse, RecordsEqualTheFileTheyPrintTo) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> small(-1.0f, 1.0f), angle(-400.0f, 800.0f);
  for (int round = 0; round < 200; ++round) {
    auto value = [&](bool is_angle) {
      switch (rng() % 16) {
        case 0: return std::bit_cast<float>(static_cast<std::uint32_t>(rng()) & 0xff7fffffu);  // no NaN
        case 1: return 0.0f;
        case 2: return -0.0f;
        case 3: return std::numeric_limits<float>::infinity();
        default: return is_angle ? angle(rng) : small(rng);
      }
    };
    auto record = [&] {
      Record r;
      for (float& c : r.tensor.s) c = value(false);
      r.solution.phi = small(rng);
      for (Axis& a : r.solution.axis) a = {value(true), value(true)};
      return r;
    };
    const Record best = record();
    std::vector<Record> resamples(rng() % 60);
    for (Record& r : resamples) r = record();
    std::string text = text_of(best);
    for (const Record& r : resamples) text += text_of(r);

    const float level = static_cast<float>(rng() % 110);
    const Result from_records = analyse(best, resamples, level);
    const Result from_text = analyse(text, level);
    ASSERT_EQ(from_records.analysis.count, resamples.size());
    ASSERT_EQ(from_text.analysis.count, resamples.size());
    ASSERT_EQ(bits(from_records.analysis.threshold), bits(from_text.analysis.threshold));
    ASSERT_EQ(from_records.accepted, from_text.accepted);
    ASSERT_EQ(bits_of(from_records.analysis.summary), bits_of(from_text.analysis.summary));
    for (std::size_t i = 0; i < from_text.solutions.size(); ++i)
      ASSERT_EQ(bits_of(from_records.solutions[i]), bits_of(from_text.solutions[i]));
    ASSERT_EQ(format_accepted(from_records, Grid{1, 2, 3, 4}),
              format_accepted(from_text, Grid{1, 2, 3, 4}));
    ASSERT_EQ(format_summary(from_records), format_summary(from_text));
  }
}

// A watcher that keeps what it is told, line by line.
class Told : public LineWatcher {
 public:
  void scanned(std::size_t number, std::string_view line, const float* fields, int converted,
               bool plain) override {
    char facts[160];
    int n = std::snprintf(facts, sizeof facts, "%zu %d %d |", number, converted, plain ? 1 : 0);
    for (int k = 0; k < converted; ++k)
      n += std::snprintf(facts + n, sizeof facts - static_cast<std::size_t>(n), " %a", static_cast<double>(fields[k]));
    lines.emplace_back(number, std::string(facts) + " | " + std::string(line));
  }
  std::unique_ptr<LineWatcher> part() const override { return std::make_unique<Told>(); }
  void join(const LineWatcher& part, std::size_t before) override {
    for (const auto& [number, facts] : static_cast<const Told&>(part).lines) {
      const std::size_t space = facts.find(' ');
      lines.emplace_back(number + before, std::to_string(number + before) + facts.substr(space));
    }
  }
  // Each line's facts, in line order.
  std::vector<std::string> sorted() const {
    std::vector<std::pair<std::size_t, std::string>> copy = lines;
    std::sort(copy.begin(), copy.end());
    std::vector<std::string> out;
    for (const auto& l : copy) out.push_back(l.second);
    return out;
  }
  std::vector<std::pair<std::size_t, std::string>> lines;
};

// A text read in parts on two threads, or with the similarities kept in
// its own bytes, gives what one reading gives, to the bit: the lines,
// the summary, the counts, the unread fields and what a watcher is told of
// each line. The texts have faults anywhere, and
// most near the middle: fields missing or too many, a blank line (which
// turns every record after it), swapped lines, nan, junk, a last record
// cut short or without its newline; so that a cut between parts falls at a
// sound record, at an unsound one, and at none.
TEST(AnalyseInPlace, PartsGiveWhatOneReadingGives) {
  std::mt19937 rng(2026);
  const auto uniform = [&](double lo, double hi) {
    return static_cast<float>(lo + (hi - lo) * static_cast<double>(rng() % 1000001) / 1e6);
  };
  const std::vector<std::string> faults = {"1 2 3\n",  "\n", "0.5 1 2 3 4 5 6 7\n", "nan 0 0 0 0 1\n", "1 x 0 0 0 1\n",
                                           "1 0 0 0 0 1 9\n", "0.5 10 20 30\r\n", "  \t\n",
                                           "1 2 3 4\n", "1 2 3 45\n"};  // 8 and 9 bytes: room for a similarity or not
  int split = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<std::string> lines;
    const int records = 1 + static_cast<int>(rng() % 60);
    for (int r = 0; r <= records; ++r) {
      float t[6], s[7];
      for (float& v : t) v = uniform(-1, 1);
      s[0] = uniform(-0.1, 1.1);
      for (int k = 0; k < 3; ++k) s[1 + 2 * k] = uniform(-400, 400), s[2 + 2 * k] = uniform(-95, 95);
      lines.push_back(rng() % 2 ? line_of(t, 6) : line_of(t, 6).insert(0, " "));
      lines.push_back(line_of(s, 7));
      if (rng() % 4 == 0) std::swap(lines[lines.size() - 1], lines[lines.size() - 2]);
    }
    for (int f = static_cast<int>(rng() % 4); f > 0; --f) {
      const std::size_t middle = lines.size() / 2, at = rng() % 3 == 0 ? rng() % lines.size() : middle - 3 + rng() % 6;
      const std::string& fault = faults[rng() % faults.size()];
      if (rng() % 2) lines.insert(lines.begin() + static_cast<long>(std::min(at, lines.size())), fault);
      else lines[std::min(at, lines.size() - 1)] = fault;
    }
    if (rng() % 5 == 0) lines.pop_back();
    std::string text;
    for (const std::string& l : lines) text += l;
    if (rng() % 5 == 0) text.pop_back();
    const float level = static_cast<float>(rng() % 101);

    std::string one = text;
    Told told_one;
    const RunTexts a = analyse_in_place(one, level, Grid{1, -2, 3, 40}, {.watcher = &told_one});
    std::string lines_one;
    for (std::string_view piece : a.pieces()) lines_one += piece;
    // In two parts and in up to 16 (each taken by whichever thread is free);
    // so, the similarities in the text; as one, the similarities in the
    // text; and so, the threshold guessed from the first resample or three
    // of each part.
    constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
    struct Way {
      unsigned threads;
      std::size_t parts, in_text_from, guess_after;
    };
    for (const auto& [threads, parts, in_text_from, guess_after] :
         {Way{2u, 2, kNever, 16384}, {2u, 16, kNever, 16384}, {2u, 2, 0, 16384}, {2u, 5, 0, 16384},
          {1u, 2, 0, 16384}, {2u, 16, 0, 1}, {1u, 2, 0, 3}}) {
      std::string two = text;
      Told told_two;
      const RunTexts b = analyse_in_place(two, level, Grid{1, -2, 3, 40},
                                          {.watcher = &told_two,
                                           .threads = threads,
                                           .parts = parts,
                                           .parts_from = 0,
                                           .in_text_from = in_text_from,
                                           .guess_after = guess_after});
      split += !b.later.empty() && in_text_from == kNever ? 1 : 0;
      std::string lines_two;
      for (std::string_view piece : b.pieces()) lines_two += piece;
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(parts) + " parts, in the text from " +
                   std::to_string(in_text_from) +
                   ", guessed after " + std::to_string(guess_after));
      ASSERT_EQ(lines_two, lines_one) << text;
      ASSERT_EQ(b.summary, a.summary) << text;
      ASSERT_EQ(b.analysis.count, a.analysis.count);
      ASSERT_EQ(b.analysis.accepted, a.analysis.accepted);
      ASSERT_EQ(std::bit_cast<std::uint32_t>(b.analysis.threshold),
                std::bit_cast<std::uint32_t>(a.analysis.threshold));
      ASSERT_EQ(b.analysis.unread_fields, a.analysis.unread_fields) << text;
      ASSERT_EQ(b.analysis.first_unread_line, a.analysis.first_unread_line) << text;
      ASSERT_EQ(b.analysis.first_unread_field, a.analysis.first_unread_field) << text;
      ASSERT_EQ(told_two.sorted(), told_one.sorted()) << text;
    }
  }
  EXPECT_GT(split, 150);  // most texts were read in parts
  EXPECT_LT(split, 350);  // and some could not be
}

// A resample whose tensor line is too short to hold its similarity keeps
// it apart; the similarities in the text around it are each read once when
// the threshold gathers those near it (here all share the top of their
// keys: 0.8988 to 0.9015), at every level.
TEST(AnalyseInPlace, ASimilarityKeptApartIsReadOnceAmongThoseInTheText) {
  std::string text = "1 0 0 0 0 1\n0.5 10 20 30 40 50 60\n";
  for (const char* e : {"0.480", "0.482", "", "0.484", "0.486", "0.488"})
    text += *e == 0 ? "1 2 3 4\n0.5 11 21 31 41 51 61\n"  // (the first resample must read whole)
                    : std::string("1 ") + e + " 0 0 0 1\n0.5 12 22 32 42 52 62\n";
  constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
  for (int level = 0; level <= 100; level += 5) {
    std::string held = text, in_text = text;
    const RunTexts a = analyse_in_place(held, static_cast<float>(level), Grid{1, 2, 3, 4}, {.in_text_from = kNever});
    const RunTexts b = analyse_in_place(in_text, static_cast<float>(level), Grid{1, 2, 3, 4}, {.in_text_from = 0});
    EXPECT_EQ(std::bit_cast<std::uint32_t>(b.analysis.threshold), std::bit_cast<std::uint32_t>(a.analysis.threshold))
        << "level " << level;
    EXPECT_EQ(b.analysis.accepted, a.analysis.accepted) << "level " << level;
  }
}

// The threshold found from the similarities kept near a part's guess, and
// by reading the text where the guess fails: resamples in no order (the
// guess holds), in the order of their similarity, either way (the first
// resamples say nothing of the threshold), and with more near the guess
// than may be kept. Each must give what the table of similarities gives.
TEST(AnalyseInPlace, AThresholdGuessedWellOrBadlyIsTheTables) {
  constexpr int kRecords = 3000;
  std::vector<std::string> records;
  for (int k = 0; k < kRecords; ++k) {
    // The similarity to the best fit falls as k grows; every tenth ties.
    const float t[6] = {1, static_cast<float>(k - k % 10) / kRecords, 0, 0, 0, 1};
    const float s[7] = {0.5f, static_cast<float>(k % 360), 10, 20, 30, 40, 50};
    records.push_back(line_of(t, 6) + line_of(s, 7));
  }
  std::vector<std::string> shuffled = records;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  std::vector<std::string> reversed(records.rbegin(), records.rend());
  constexpr std::size_t kNever = std::numeric_limits<std::size_t>::max();
  for (const auto* order : {&shuffled, &records, &reversed}) {
    std::string text = "1 0 0 0 0 1\n0.5 10 20 30 40 50 60\n";
    for (const std::string& r : *order) text += r;
    for (int level = 0; level <= 100; level += 7) {
      std::string held = text;
      const RunTexts a = analyse_in_place(held, static_cast<float>(level), Grid{1, 2, 3, 4}, {.in_text_from = kNever});
      std::string lines_a;
      for (std::string_view piece : a.pieces()) lines_a += piece;
      // 200 first: the guess holds where the order is none. 8 first: at
      // most 512 kept near, fewer than there are.
      for (const std::size_t guess_after : {200, 8})
        for (const unsigned threads : {1u, 2u}) {
          std::string in_text = text;
          const RunTexts b = analyse_in_place(
              in_text, static_cast<float>(level), Grid{1, 2, 3, 4},
              {.threads = threads, .parts_from = 0, .in_text_from = 0, .guess_after = guess_after});
          std::string lines_b;
          for (std::string_view piece : b.pieces()) lines_b += piece;
          const std::string where = "level " + std::to_string(level) + ", guessed after " +
                                    std::to_string(guess_after) + ", " + std::to_string(threads) + " threads";
          EXPECT_EQ(std::bit_cast<std::uint32_t>(b.analysis.threshold),
                    std::bit_cast<std::uint32_t>(a.analysis.threshold))
              << where;
          EXPECT_EQ(lines_b, lines_a) << where;
        }
    }
  }
}

}  // namespace
}  // namespace tilvex
