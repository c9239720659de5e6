#include "backend/python_probe.h"

#include <optional>

namespace backend {

BundledPythonStatus bundledPythonStatus(const platform::FileSystem& fileSystem, const platform::Path& runtimeRoot) {
  std::optional<platform::Path> firstNotExecutable;
  for (const char* candidate : kPythonCandidates) {
    platform::Path location = runtimeRoot / candidate;
    if (!fileSystem.exists(location)) continue;
    if (fileSystem.isExecutable(location)) return {BundledPythonStatus::Kind::executable, location};
    if (!firstNotExecutable) firstNotExecutable = location;
  }
  if (firstNotExecutable) return {BundledPythonStatus::Kind::existsButNotExecutable, *firstNotExecutable};
  return {BundledPythonStatus::Kind::missing, runtimeRoot / kPythonCandidates[0]};
}

}  // namespace backend
