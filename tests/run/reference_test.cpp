// The program's own path through a run (the fast scan, the threshold by
// selection, the reused similarities, the bounded wrap, the in-place lines
// and the fast printing) against the straightforward pipeline, byte for
// byte, on the bundled files, generated ones and junk, at several levels.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "run/in_place.hpp"
#include "support/reference.hpp"
#include "support/run.hpp"

namespace tilvex::test {
namespace {

namespace fs = std::filesystem;

void expect_same_as_reference(const std::string& name, const std::string& text) {
  const Grid grid{3, -7, 0, 2147483647};
  for (float level : {95.0f, 68.3f, 50.0f, 100.0f, 0.5f, -3.0f, 150.0f}) {
    const ReferenceTexts want = reference_run(text, level, grid);
    std::string buffer = text;
    const RunTexts got = analyse_in_place(buffer, level, grid);
    const auto pieces = got.lines.pieces();
    ASSERT_EQ(got.summary, want.summary) << name << " at " << level;
    ASSERT_EQ(std::string(pieces[0]) + std::string(pieces[1]), want.lines) << name << " at " << level;
  }
}

TEST(Reference, BundledAndGeneratedFiles) {
  std::vector<fs::path> files;
  for (const char* dir : {TILVEX_TEST_DATA, TILVEX_EXAMPLES})
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().extension() == ".vrin") files.push_back(entry.path());
  ASSERT_GE(files.size(), 14u);
  for (const auto& f : files) expect_same_as_reference(f.string(), slurp(f));

  ScratchDir dir;
  for (const char* seed : {"11", "12", "13"}) {
    ASSERT_EQ(run(TILVEX_GENERATE, {"3000", seed}, dir / "generated.vrin").status, 0);
    expect_same_as_reference(std::string("generated ") + seed, slurp(dir / "generated.vrin"));
  }
}

// Random tokens and blanks. No infinity: an infinite best-fit trend makes
// the stepwise wrap take 21 million steps per axis (the bounded wrap is
// compared with it on such cases in its own test).
TEST(Reference, Junk) {
  std::mt19937 rng(2026);
  const std::string tokens[] = {"1", "-0.5", "x", "1e", "nan", "300", "0.98", "12", ".",
                                "-1", "0", "4000", "0x1p3", "-0", "1,5", "1e-40"};
  const std::string separators[] = {" ", " ", "\t", "\n", "\n", "\n\n", "", "\v"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int k = static_cast<int>(rng() % 150); k > 0; --k)
      text += tokens[rng() % std::size(tokens)] + separators[rng() % std::size(separators)];
    expect_same_as_reference("junk round " + std::to_string(round), text);
  }
}

}  // namespace
}  // namespace tilvex::test
