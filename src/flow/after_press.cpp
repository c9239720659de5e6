#include "flow/after_press.h"

#include <system_error>

namespace flow {

AfterPress::~AfterPress() {
  wait();
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) thread_.join();
}

void AfterPress::start(std::function<void()> work) {
  wait();
  // The thread is made and collected under the lock, which the work takes as it ends: whoever sees it ended
  // sees the thread in place.
  std::unique_lock<std::mutex> lock(mutex_);
  if (thread_.joinable()) thread_.join();  // its work has ended: only the thread is left to collect
  running_ = true;
  try {
    thread_ = std::thread([this, work]() mutable {
      work();
      work = nullptr;  // what it held (the runtime's lock) goes before anyone is told that it ended
      std::lock_guard<std::mutex> ending(mutex_);
      running_ = false;
      ended_.notify_all();
    });
  } catch (const std::system_error&) {
    running_ = false;
    lock.unlock();
    work();
  }
}

void AfterPress::wait(const std::function<void()>& waiting) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!running_) return;
  if (waiting) {
    lock.unlock();
    waiting();
    lock.lock();
  }
  ended_.wait(lock, [this] { return !running_; });
}

}  // namespace flow
