#pragma once
// Two pieces of work at once, the later on a thread of its own.

#include <cstddef>
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

// work(k, thread) for every k below `count`, each once, here and on one
// more thread (as `together`); each thread takes the next k as soon as it
// is free, so that a thread that runs slower takes fewer. `thread` is 0
// here, 1 on the other. In no fixed order: each k's work must stand alone.
void together_each(std::size_t count, const std::function<void(std::size_t k, int thread)>& work);

}  // namespace tilvex::inline detail
