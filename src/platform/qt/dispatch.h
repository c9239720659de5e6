// Hand-over of work between the main thread and background threads.
#pragma once

#include <functional>

namespace platform {

// Runs `work` once on the main thread, in a later turn of the event loop. Any thread may call it. Work
// submitted after the event loop has ended is dropped.
void dispatchToMain(std::function<void()> work);

// Runs `work` once on a background thread of user-initiated priority, at once, and returns without waiting.
// Nothing waits for it when the application ends. Any thread may call it. Should the system refuse a new
// thread, the work runs on the calling thread before this returns.
void dispatchGlobalUserInitiated(std::function<void()> work);

}  // namespace platform
