// The thread that hears about broken leases. The kernel tells a lease holder that another open is
// waiting by a signal sent to one thread; this thread owns that signal, so the news is acted on
// at once whatever the other threads are doing (the window idle, a worker blocked).
#pragma once

#include <cstdint>
#include <functional>

namespace pennacle {

// The signal and the thread that waits for it, started on first use; false where the thread
// cannot be had. Leases are then not taken.
bool lease_watcher_ready(int* signal, int* tid);
// What to call when the lease on `fd` breaks; replaces an earlier callback for the descriptor.
// Returns the watch's token.
uint64_t watch_lease(int fd, std::function<void()> on_break);
// Forgets the watch with `token`; a break not yet handed to its callback is then ignored, one
// whose callback already runs goes on. A newer watch of the same descriptor stays.
void unwatch_lease(int fd, uint64_t token);

}  // namespace pennacle
