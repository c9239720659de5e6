// One launcher per user: the first start holds a lock that the system drops however the process ends, and
// listens on a local socket for later starts, which only ask it to bring its window to the front and then end.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/system/fs.h"

namespace platform {

class SingleInstance {
 public:
  // Claims `lockFile` (its folder is made when missing) for this process with an advisory lock (flock), held
  // until the returned object goes or the process ends, however it ends; whatever the file holds (a note from
  // another machine, a backup's, a reused process number) never matters. The holder listens on a socket in
  // `socketFolder` (a folder only the user can write), named after `lockFile`, so that one user's launchers
  // (and a test's own folder) meet there; a socket that an ended launcher left is replaced.
  //
  // When another process holds the lock, asks it over the socket to call its `onAnotherStart` and, once it has
  // answered, returns nothing: the caller should end. When no launcher answers within a moment (one that is
  // hung, or a socket that cannot be reached), or the lock file cannot be made at all, returns an object that
  // holds nothing: this process runs on its own.
  //
  // `onAnotherStart` runs on a thread of the listener's own, once for each later start. Call on one thread;
  // the returned object stops listening (and removes its socket) when it goes.
  static std::unique_ptr<SingleInstance> claim(FileSystem& fileSystem, const Path& lockFile,
                                               const std::optional<Path>& socketFolder,
                                               std::function<void()> onAnotherStart);

  virtual ~SingleInstance() = default;
};

}  // namespace platform
