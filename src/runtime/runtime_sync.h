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

// Entries that a sync moved aside, by this prefix, in the runtime root; nothing else there starts with it.
inline constexpr const char* kReplacedEntryPrefix = ".replaced-";

// Replaces the seven entries of `destination` with fresh copies from the bundle's "runtime/common" payload and
// its "runtime/<runtimeTarget>" payload, then repairs the copied tools' executable bits. Other entries of
// `destination` are left alone. Nothing is compared or skipped.
//
// A program may be running from `destination` and writing into it meanwhile, so no entry is ever deleted in
// place: each fresh copy is made under a hidden name in `destination` (kReplacedEntryPrefix), the old entry is
// moved aside whole by one atomic rename to another hidden name, and the fresh copy takes its place by a second
// rename. Whoever opens a path afterwards finds the complete fresh copy; descriptors that a program holds open
// keep working on the old one. The moved-aside entries are left for `removeReplacedEntries`, which the caller
// runs off the window's thread; entries that an earlier sync left behind (a crash, or a program still writing
// into them) are removed first, and a failure to remove them never fails the sync.
//
// Fails with runtime error 2 (no resources folder) or 3 (a payload is missing) before touching anything, or
// with the file system's own error at the first step that fails: the entries before it are fresh, the one in
// hand and those after it are the old ones (a partial copy never stands at an entry's path), and the repair
// has not run.
platform::Status syncEmbeddedRuntime(const RuntimeContext& context, const platform::Path& destination,
                                     const std::string& runtimeTarget);

// Removes every entry of `destination` that a sync moved aside. Never fails: an entry that cannot go now
// (something still writes into it) stays for a later call. Returns how many stay. Any thread may call it; it
// touches nothing but the moved-aside entries.
int removeReplacedEntries(platform::FileSystem& fileSystem, const platform::Path& destination);

}  // namespace runtime
