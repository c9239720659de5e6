#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/qt/dispatch.h"

namespace platform {

void dispatchToMain(std::function<void()> work) {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) return;
  // Qt's event queue orders the hand-over already; the release and acquire make that order visible to the
  // thread sanitizer too, which cannot see into Qt's own locks.
  auto handOver = std::make_shared<std::pair<std::function<void()>, std::atomic<bool>>>(std::move(work), false);
  handOver->second.store(true, std::memory_order_release);
  QMetaObject::invokeMethod(
      application,
      [handOver] {
        if (handOver->second.load(std::memory_order_acquire)) handOver->first();
      },
      Qt::QueuedConnection);
}

void dispatchGlobalUserInitiated(std::function<void()> work) {
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    // No thread to be had (the system's limit is reached): the work still runs, on this thread.
    work();
  }
}

}  // namespace platform
