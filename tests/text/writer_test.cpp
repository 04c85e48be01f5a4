#include "text/writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace tilvex {
namespace {

Solution solution(float phi, float t1, float p1, float t2, float p2, float t3, float p3) {
  Solution s;
  s.phi = phi;
  s.axis[0] = {t1, p1};
  s.axis[1] = {t2, p2};
  s.axis[2] = {t3, p3};
  return s;
}

TEST(Writer, AcceptedLinesCarryGridAndValuesAsRead) {
  std::string out;
  append_accepted_line(out, Grid{3, 7, 0, 1}, solution(0.55f, 350, 7, 300, -4, 235, 75));
  append_accepted_line(out, Grid{-1, 2147483647, 0, -2147483647 - 1},
                       solution(-0.0f, 61.3f, NAN, -INFINITY, 1e30f, 1e-7f, -5e-7f));  // -5e-7f is just under 5e-7 in size
  EXPECT_EQ(out,
            "3 7 0 1 0.550000 350.000000 7.000000 300.000000 -4.000000 235.000000 75.000000\n"
            "-1 2147483647 0 -2147483648 -0.000000 61.299999 nan -inf "
            "1000000015047466219876688855040.000000 0.000000 -0.000000\n");
}

TEST(Writer, SummaryLineOfTheWorkedExample) {
  Summary s;
  s.phi = {0.5f, 0.4f, 0.55f};
  const float t[3][3] = {{355, 350, 360}, {120, 118, 125}, {240, 235, 250}};
  const float p[3][3] = {{10, 7, 12}, {5, 3, 6}, {78, 75, 80}};
  for (int k = 0; k < 3; ++k) {
    s.trend[k] = {t[k][0], t[k][1], t[k][2]};
    s.plunge[k] = {p[k][0], p[k][1], p[k][2]};
  }
  std::string out;
  append_summary_line(out, s);
  EXPECT_EQ(out,
            "phi= 0.50 0.40 0.55 tr1=  355.00  350.00  360.00 pl1=  10.00   7.00  12.00 "
            "tr2=  120.00  118.00  125.00 pl2=   5.00   3.00   6.00 "
            "tr3=  240.00  235.00  250.00 pl3=  78.00  75.00  80.00\n");
}

TEST(Writer, SummaryWidthsAreMinimums) {
  // Wide values push the rest of the line right; 0.475f sits below 0.475.
  Summary s;
  s.phi = {12345.678f, -1.0f, NAN};
  s.trend[0] = {1e9f, -INFINITY, 123.4f};
  s.plunge[0] = {0.475f, 0.47500002f, -0.0f};
  std::string out;
  append_summary_line(out, s);
  EXPECT_EQ(out,
            "phi= 12345.68 -1.00  nan tr1= 1000000000.00    -inf  123.40 "
            "pl1=   0.47   0.48  -0.00 tr2=    0.00    0.00    0.00 "
            "pl2=   0.00   0.00   0.00 tr3=    0.00    0.00    0.00 "
            "pl3=   0.00   0.00   0.00\n");
}

}  // namespace
}  // namespace tilvex
