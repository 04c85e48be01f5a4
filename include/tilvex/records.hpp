#pragma once
// The records of a resample results file and the summary of one run.
// Every value is a single-precision float, as read from the file or as
// accumulated; angles are in degrees.

#include <compare>

namespace tilvex {

// The six independent components of a symmetric 3x3 tensor, in file order:
// s11 s12 s13 s22 s23 s33.
struct Components {
  float s[6] = {};
};

// Trend and plunge of one principal axis, in degrees.
struct Axis {
  float trend = 0.0f;
  float plunge = 0.0f;
};

// A solution line: the shape ratio phi and the three principal axes, in file
// order phi tr1 pl1 tr2 pl2 tr3 pl3.
struct Solution {
  float phi = 0.0f;
  Axis axis[3];
};

// One record of the file: a tensor line and its solution line.
struct Record {
  Components tensor;
  Solution solution;
};

// A best-fit value with the lower and upper bound of its confidence range.
struct Bounds {
  float best = 0.0f;
  float low = 0.0f;
  float high = 0.0f;
};

// What one run appends to output_file: phi, then trend and plunge per axis.
struct Summary {
  Bounds phi;
  Bounds trend[3];
  Bounds plunge[3];
};

// The four grid indices that label a run's accepted-resample lines.
struct Grid {
  int x = 0, y = 0, z = 0, t = 0;
  auto operator<=>(const Grid&) const = default;
};

}  // namespace tilvex
