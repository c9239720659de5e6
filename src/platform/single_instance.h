// One launcher per user: the first start holds a lock file and listens for later starts, which only ask it to
// bring its window to the front and then end.
#pragma once

#include <functional>
#include <memory>

#include "platform/fs.h"

namespace platform::ui {

class SingleInstance {
 public:
  // Claims `lockFile` (its folder is made when missing) for this process. When another live process holds
  // it, asks that process to call its `onAnotherStart` and returns nothing: the caller should end. A lock left
  // by a process that has ended is taken over. A lock file that cannot be made at all does not stop this
  // process: it runs on its own then. The application object must exist; call on the main thread.
  // `onAnotherStart` runs on the main thread, from the event loop, each time another start asks.
  static std::unique_ptr<SingleInstance> claim(const Path& lockFile, std::function<void()> onAnotherStart);

  virtual ~SingleInstance() = default;
};

}  // namespace platform::ui
