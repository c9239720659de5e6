#include <QCoreApplication>
#include <QMetaObject>

#include <thread>

#include "platform/dispatch.h"

namespace platform {

void dispatchToMain(std::function<void()> work) {
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) return;
  QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

void dispatchGlobalUserInitiated(std::function<void()> work) { std::thread(std::move(work)).detach(); }

}  // namespace platform
