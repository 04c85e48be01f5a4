// End-to-end: the result files of whole runs on the files in data/, byte for
// byte.

#include <gtest/gtest.h>

#include <string>

#include "../support/run.hpp"

namespace tilvex::test {
namespace {

const std::string kData = TILVEX_TEST_DATA;

struct Case {
  const char* file;
  const char* level;
  const char* summary;
  const char* accepted;  // grid 1 2 3 4
};

// The axes 2 and 3 of the axis cases match the best fit exactly.
#define REST_OF_AXES \
  " tr2=  120.00  120.00  120.00 pl2=   5.00   5.00   5.00 tr3=  240.00  240.00  240.00 pl3=  78.00  78.00  78.00\n"
#define REST_OF_LINE " 120.000000 5.000000 240.000000 78.000000\n"

const Case kCases[] = {
    {"worked.vrin", "75",
     "phi= 0.50 0.40 0.55 tr1=  355.00  350.00  360.00 pl1=  10.00   7.00  12.00 "
     "tr2=  120.00  118.00  125.00 pl2=   5.00   3.00   6.00 tr3=  240.00  235.00  250.00 "
     "pl3=  78.00  75.00  80.00\n",
     "1 2 3 4 0.450000 0.000000 12.000000 125.000000 3.000000 250.000000 80.000000\n"
     "1 2 3 4 0.550000 350.000000 7.000000 300.000000 -4.000000 235.000000 75.000000\n"
     "1 2 3 4 0.400000 175.000000 -12.000000 118.000000 6.000000 60.000000 -79.000000\n"},
    // Bounds are not folded into 0..360.
    {"axis-past-north.vrin", "75",
     "phi= 0.50 0.60 0.60 tr1=  350.00  350.00  365.00 pl1=  10.00  10.00  12.00" REST_OF_AXES,
     "1 2 3 4 0.600000 5.000000 12.000000" REST_OF_LINE},
    // 190/-18 points away from 10/20: reversed to 10/18. The line keeps the values as read.
    {"axis-reversed.vrin", "75",
     "phi= 0.50 0.60 0.60 tr1=   10.00   10.00   10.00 pl1=  20.00  18.00  20.00" REST_OF_AXES,
     "1 2 3 4 0.600000 190.000000 -18.000000" REST_OF_LINE},
    // 45/0 against 135/0: d is exactly 0, so the axis is not reversed.
    {"axis-perpendicular.vrin", "75",
     "phi= 0.50 0.60 0.60 tr1=   45.00   45.00  135.00 pl1=   0.00   0.00   0.00" REST_OF_AXES,
     "1 2 3 4 0.600000 135.000000 0.000000" REST_OF_LINE},
    {"axis-opposite.vrin", "75",
     "phi= 0.50 0.60 0.60 tr1=   45.00   45.00   45.00 pl1=   0.00   0.00   0.00" REST_OF_AXES,
     "1 2 3 4 0.600000 225.000000 0.000000" REST_OF_LINE},
    // An all-zero tensor has a NaN similarity, so the threshold is NaN and
    // nothing is accepted. The plunge 0.475 sits below 0.475 as a float, its
    // bounds above it after the degree-radian round trip.
    {"none-accepted.vrin", "75",
     "phi= 0.50 1.00 0.00 tr1=   10.00   10.00   10.00 pl1=   0.47   0.48   0.48" REST_OF_AXES,
     ""},
    {"best-only.vrin", "95",
     "phi= 0.50 1.00 0.00 tr1=   10.00   10.00   10.00 pl1=  20.00  20.00  20.00" REST_OF_AXES,
     ""},
    // One line: the best-fit solution is scanned from the tensor line; pl3 has no value.
    {"single-line.vrin", "95",
     "phi= 1.00 1.00 0.00 tr1=    0.00    0.00    0.00 pl1=   0.00   0.00   0.00 "
     "tr2=    0.00    0.00    0.00 pl2=   0.00   0.00   0.00 tr3=   -1.00   -1.00   -1.00 "
     "pl3=   0.00   0.00   0.00\n",
     ""},
    // A blank line is a line: the one in the middle shifts the pairing, so
    // the third record's tensor is a solution line and its solution the
    // final blank line, which repeats the second record's.
    {"blank-lines.vrin", "75",
     "phi= 0.50 0.45 1.00 tr1=   10.00   -0.00   12.00 pl1=  20.00   0.10  22.00 "
     "tr2=  120.00  120.00  180.00 pl2=   5.00  -0.00   5.00 tr3=  240.00  240.00  359.00 "
     "pl3=  78.00  78.00  80.00\n",
     "1 2 3 4 0.450000 12.000000 22.000000 125.000000 3.000000 250.000000 80.000000\n"
     "1 2 3 4 1.000000 0.000000 0.100000 0.000000 0.000000 -1.000000 80.000000\n"
     "1 2 3 4 1.000000 0.000000 0.100000 0.000000 0.000000 -1.000000 80.000000\n"},
    // The last record has no solution line and no final newline: its
    // solution is scanned from its tensor line, pl3 carried over.
    {"missing-solution.vrin", "75",
     "phi= 0.50 0.45 0.90 tr1=   10.00   10.00   14.00 pl1=  20.00  20.00  22.00 "
     "tr2=  120.00  120.00  125.00 pl2=   5.00   3.00   5.00 tr3=  240.00  240.00  250.00 "
     "pl3=  78.00  78.00  80.00\n",
     "1 2 3 4 0.450000 12.000000 22.000000 125.000000 3.000000 250.000000 80.000000\n"
     "1 2 3 4 0.900000 14.000000 21.000000 122.000000 4.000000 245.000000 80.000000\n"},
    // Fields after one that does not parse keep the previous record's values.
    {"unparsed-fields.vrin", "75",
     "phi= 0.50 0.40 0.55 tr1=   10.00    8.00   12.00 pl1=  20.00  18.00  22.00 "
     "tr2=  120.00  120.00  125.00 pl2=   5.00   3.00   5.00 tr3=  240.00  240.00  250.00 "
     "pl3=  78.00  78.00  80.00\n",
     "1 2 3 4 0.450000 12.000000 22.000000 125.000000 3.000000 250.000000 80.000000\n"
     "1 2 3 4 0.550000 8.000000 18.000000 125.000000 3.000000 250.000000 80.000000\n"
     "1 2 3 4 0.400000 11.000000 21.000000 121.000000 4.000000 241.000000 79.000000\n"},
    // Infinite, NaN and huge trends end the wrap loops; a NaN deviation
    // never extends a range. 1e6 degrees wraps with float steps that lose
    // more than two degrees.
    {"extreme-trends.vrin", "75",
     "phi= 0.50 0.60 0.60 tr1=   10.00    -inf     inf pl1=  20.00  20.00  21.00 "
     "tr2=  120.00   97.36  120.00 pl2=   5.00  -5.00   5.00 "
     "tr3=  240.00   82.70 1000000015047466219876688855040.00 pl3=  78.00  78.00  78.00\n",
     "1 2 3 4 0.600000 inf 20.000000 nan 5.000000 1000000015047466219876688855040.000000 "
     "78.000000\n"
     "1 2 3 4 0.600000 -inf 21.000000 1000000.000000 5.000000 -1000000.000000 78.000000\n"},
    // The first tensor line is short, so pass 2 reads its missing fields
    // from the last record of pass 1: its similarity rises from 0.71 to 1
    // and it reaches the threshold (0.9986, the third of three).
    {"first-record-short.vrin", "10",
     "phi= 0.50 0.60 0.70 tr1=   10.00   10.00   12.00 pl1=  20.00  20.00  22.00 "
     "tr2=  120.00  120.00  122.00 pl2=   5.00   5.00   7.00 tr3=  240.00  240.00  242.00 "
     "pl3=  78.00  78.00  80.00\n",
     "1 2 3 4 0.600000 11.000000 21.000000 121.000000 6.000000 241.000000 79.000000\n"
     "1 2 3 4 0.700000 12.000000 22.000000 122.000000 7.000000 242.000000 80.000000\n"},
};

TEST(Results, WholeRunsByteForByte) {
  ScratchDir dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.file);
    std::filesystem::remove(dir / "out.txt");
    std::filesystem::remove(dir / "out2.txt");
    Outcome o = run(TILVEX_BINARY,
                    {kData + "/" + c.file, dir / "out.txt", c.level, dir / "out2.txt", "1", "2",
                     "3", "4"},
                    dir / "stdout");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.printed, "");
    EXPECT_EQ(slurp(dir / "out.txt"), c.summary);
    EXPECT_EQ(slurp(dir / "out2.txt"), c.accepted);
  }
}

}  // namespace
}  // namespace tilvex::test
