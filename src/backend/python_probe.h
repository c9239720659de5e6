// Finding the Python interpreter that a runtime root carries.
#pragma once

#include "platform/system/fs.h"

namespace backend {

// Outcome of the interpreter probe; every case carries one location.
struct BundledPythonStatus {
  enum class Kind {
    executable,              // `location` is the interpreter to run
    existsButNotExecutable,  // `location` is the first candidate that exists without execute permission
    missing,                 // `location` is the first candidate, the path that was looked for
  };
  Kind kind;
  platform::Path location;
  friend bool operator==(const BundledPythonStatus&, const BundledPythonStatus&) = default;
};

// The candidates, in order, under a runtime root.
inline constexpr const char* kPythonCandidates[] = {"python/bin/python3.11", "python/bin/python3", "python/bin/python"};

// Looks for an interpreter under `runtimeRoot`: the earliest executable candidate wins over any that exists
// without execute permission. A dangling link counts as absent. Only looks; changes nothing; never fails.
BundledPythonStatus bundledPythonStatus(const platform::FileSystem& fileSystem, const platform::Path& runtimeRoot);

}  // namespace backend
