#pragma once
// Two pieces of work at once, the later on a thread of its own.

#include <functional>

namespace tilvex::inline detail {

// Runs `later` on a thread of its own while `first` runs here; an
// exception in either comes out here once both are done. Without a thread
// to be had, the two run here in turn.
void together(const std::function<void()>& first, const std::function<void()>& later);

}  // namespace tilvex::inline detail
