#pragma once
// Two pieces of work at once, the later on a thread of its own.

#include <functional>

namespace tilvex::inline detail {

// Runs `later` on a thread of its own while `first` runs here; an
// exception in either comes out here once both are done. Without a thread
// to be had, the two run here in turn.
//
// The thread is started on another processor than this one, where the
// process may use another, and may then run anywhere: a new thread starts
// on its parent's processor, and waits there until the scheduler moves it,
// which took 4 ms on a two-processor virtual machine.
void together(const std::function<void()>& first, const std::function<void()>& later);

}  // namespace tilvex::inline detail
