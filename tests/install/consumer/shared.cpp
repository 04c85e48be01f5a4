// Links the static library into a shared object: it must be
// position-independent.
#include <tilvex/analyse.hpp>

std::size_t count_resamples(const char* text) { return tilvex::analyse(text, 95.0f).analysis.count; }
