// One launcher per user: the first start holds a lock that the system drops however the process ends, and
// listens on a local socket for later starts, which only ask it to bring its window to the front and then end.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/system/fs.h"

namespace platform {

class SingleInstance {
 public:
  // Called on the listener's own thread for each later start, with `answer`, which tells that start that this
  // launcher has acted on it: call it (from any thread, at most once) only once the window came to the front.
  // A start that gets no answer within a moment runs on its own.
  using AnotherStart = std::function<void(std::function<void()> answer)>;

  // Claims `lockFile` (its folder is made when missing) for this process with an advisory lock (flock), held
  // until the returned object goes or the process ends, however it ends; whatever the file holds (a note from
  // another machine, a backup's, a reused process number) never matters. The holder listens on a socket in
  // `socketFolder` (a folder only the user can write), named after the lock file's identity (its device and
  // inode), so that one user's launchers meet there however the path to the data folder is spelled (a home
  // reached through a link); a socket that an ended launcher left is replaced.
  //
  // When another process holds the lock, asks it over the socket to act and, once it has answered, returns
  // nothing: the caller should end. Never waits longer than about 2 s in all: a launcher that is stopped, whose
  // window thread hangs, or whose queue is full lets this start run on its own, as does a lock file that cannot
  // be made. Then, and when this process holds the lock but cannot listen, `aloneBecause()` says why.
  //
  // Every descriptor it makes is closed on exec from the start. Call on one thread; the returned object stops
  // listening (and removes its socket) when it goes.
  static std::unique_ptr<SingleInstance> claim(FileSystem& fileSystem, const Path& lockFile,
                                               const std::optional<Path>& socketFolder, AnotherStart onAnotherStart);

  virtual ~SingleInstance() = default;

  // Empty when this process answers later starts; else, in one line, why later starts will not find it (no
  // private folder, a socket path too long, a bind that failed, a lock that could not be made or whose holder
  // did not answer).
  const std::string& aloneBecause() const { return aloneBecause_; }

 protected:
  std::string aloneBecause_;
};

// A folder for the user's sockets that only the user can write, on systems without a per-user temporary folder:
// `runtimeDirectory` ($XDG_RUNTIME_DIR) when it is an absolute path to a folder of the user's own that no one
// else may write; else "lanqi-launcher-<uid>" in `temporaryRoot`, made with mode 0700 when missing and taken only
// while it is such a folder (not a link, not another user's). None when neither can be had. Prints nothing.
std::optional<Path> privateSocketFolder(const std::optional<std::string>& runtimeDirectory, const Path& temporaryRoot);

}  // namespace platform
