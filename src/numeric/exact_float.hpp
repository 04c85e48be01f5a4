#pragma once
// Build checks for the arithmetic: results are exact to the last bit only
// where every float operation is done in single precision, as written.
// Included by every source file that does float arithmetic.

#include <cfloat>

static_assert(FLT_EVAL_METHOD == 0,
              "float expressions must be evaluated in single precision (not x87)");

#if defined(__FAST_MATH__)
#error "tilvex must not be built with -ffast-math: it changes the results"
#endif
