// The thread that hears about broken leases. The kernel tells a lease holder that another open is
// waiting by a signal sent to one thread; this thread owns that signal, so the news is acted on
// at once whatever the other threads are doing (the window idle, a worker blocked).
#pragma once

#include <functional>

namespace pennacle {

// The signal and the thread that waits for it, started on first use; false where the thread
// cannot be had. Leases are then not taken.
bool lease_watcher_ready(int* signal, int* tid);
// What to call when the lease on `fd` breaks; replaces an earlier callback for the descriptor.
void watch_lease(int fd, std::function<void()> on_break);
// Forgets the descriptor; a break already in flight for it is then ignored.
void unwatch_lease(int fd);

}  // namespace pennacle
