// Temporary folders and small files for tests. Each TempDir is removed whole when it goes out of scope.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/system/fs.h"

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const platform::Path& path() const { return path_; }
  platform::Path operator/(std::string_view name) const { return path_ / name; }

 private:
  platform::Path path_;
};

// Writes `content` to `path`, making missing parent folders, and sets its mode.
void writeFile(const platform::Path& path, std::string_view content, unsigned mode = 0644);

// Reads a whole file; empty when it cannot be read.
std::string readFile(const platform::Path& path);

// Writes a shell script (a "#!/bin/sh" line is prepended) with mode 0755.
void writeScript(const platform::Path& path, std::string_view body);

// The permission bits of `path` (links not followed), or -1.
int modeOf(const platform::Path& path);

// Creates `path` (or empties it) as a busy program does, never failing: what cannot be made is left.
void touch(const platform::Path& path);

// Runs `step` with a growing count on a thread of its own until it goes out of scope, as a busy program would
// beside the code under test.
class Busy {
 public:
  explicit Busy(std::function<void(int)> step)
      : thread_([this, step = std::move(step)] {
          for (int i = 0; !stop_; ++i) step(i);
        }) {}
  ~Busy() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

}  // namespace testing_support
