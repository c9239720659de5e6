// Copying the embedded runtime out of the application bundle into a runtime root.
#pragma once

#include <string>

#include "platform/error.h"
#include "runtime/runtime_layout.h"

namespace runtime {

// One entry of the copy plan: a name and the payload it comes from.
struct PlannedEntry {
  const char* name;
  bool fromCommonPayload;
};

// The copy plan, in the order in which the entries are handled.
inline constexpr PlannedEntry kCopyPlan[] = {
    {"README.md", true}, {"requirements.txt", true}, {"scripts", true}, {"web_lite3", true},
    {"python", false},   {"wheelhouse", false},      {"ffmpeg", false},
};

// Replaces the seven entries of `destination` with fresh copies from the bundle's "runtime/common" payload and
// its "runtime/<runtimeTarget>" payload, then repairs the copied tools' executable bits. Each entry is removed
// whole (whatever it is, a dangling link included) and copied anew; other entries of `destination` are left
// alone. Nothing is compared or skipped.
//
// Fails with runtime error 2 (no resources folder) or 3 (a payload is missing) before touching anything, or
// with the file system's own error at the first step that fails: the entries before it are fresh, the one in
// hand may be gone, the ones after it are untouched, and the repair has not run.
platform::Status syncEmbeddedRuntime(const RuntimeContext& context, const platform::Path& destination,
                                     const std::string& runtimeTarget);

}  // namespace runtime
