// What a press leaves to do once its result is shown: the flush of what its sync copied and the removal of
// what it set aside, under the runtime's lock. The next press waits for it before it takes the lock itself.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace flow {

class AfterPress {
 public:
  AfterPress() = default;
  AfterPress(const AfterPress&) = delete;
  AfterPress& operator=(const AfterPress&) = delete;
  // Waits for the work under way. (The launcher ends its process without running this: closing the window never
  // waits for the disk.)
  ~AfterPress();

  // Runs `work` on a thread of its own, once the work started before it has ended; on the calling thread when
  // the system refuses a thread. `work` owns what it needs, the runtime's lock among it.
  void start(std::function<void()> work);

  // Returns once the work started last has ended; when it has not yet, calls `waiting` first, on this thread.
  void wait(const std::function<void()>& waiting = nullptr);

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool running_ = false;
  std::thread thread_;
};

}  // namespace flow
