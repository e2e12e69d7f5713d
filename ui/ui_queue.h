// The one queue to the user-interface thread (run_on_ui_thread and post_to_ui_thread in
// ui/window_runtime.h): property access and events from workers, list and status-bar view updates,
// fatal boxes and the end of the program all reach that thread through it, in the order they were
// queued.
#pragma once

#include <QObject>

namespace pennacle {

// Makes the queue's receiver on the calling thread, the user-interface thread (once; runtime_start
// does it). Until then nothing is queued: run_on_ui_thread runs its call at once and
// post_to_ui_thread drops it.
void start_ui_queue();
bool ui_queue_started();
// The object the queue's wake-ups are posted to; the runtime's own connections use it as their
// context. Only the queue's own event makes it run queued calls.
QObject* ui_queue_receiver();

}  // namespace pennacle
