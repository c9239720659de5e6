#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <memory>
#include <thread>
#include <utility>

#include "platform/dispatch.h"

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

void dispatchGlobalUserInitiated(std::function<void()> work) { std::thread(std::move(work)).detach(); }

}  // namespace platform
