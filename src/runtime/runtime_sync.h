// Copying the embedded runtime out of the application bundle into a runtime root.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/system/error.h"
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

// What one sync did.
struct SyncReport {
  int entriesKept = 0;      // of the seven, found equal to the bundle's and left exactly as they were
  int entriesReplaced = 0;  // of the seven, with anything inside copied anew or removed
  std::uint64_t filesCopied = 0;
  std::uint64_t bytesCopied = 0;
  bool recordTrusted = false;           // false: there was no usable record of the last sync, so every file was copied
  bool flushPending = false;            // the record vouches for data that may not be on the disk yet: see flushRuntime
  std::vector<std::string> mountsLeft;  // drives mounted inside the entries where the bundle has nothing: kept
  // Why the bundle's payload manifest was not used, if it was not: its copies are then trusted only at the same
  // path and device.
  std::string withoutManifest;
};

// Told how far the copying of one sync has come, from 0 to 100, each value at most once, on the sync's thread.
// Not called when there is nothing to copy.
using SyncProgress = std::function<void(int percent)>;

// Makes the seven entries of `destination` equal to the bundle's "runtime/common" and "runtime/<runtimeTarget>"
// payloads, exactly as a fresh copy would leave them, then repairs the tools' executable bits. Other entries of
// `destination` are left alone.
//
// Only what differs is copied. The runtime root keeps a record (kSyncRecordName) of every file and link that a
// sync copied, with the identity of the bundle's entry as it was read and of the copy right after it was put
// in place; a later sync walks both trees by metadata alone (no file is read) and keeps a file only when both
// identities (inode, size, modification and change time, mode; not the device) still match the record. Anything
// else is copied anew: a file edited in place (its change time moved), a bundle file replaced by one of the same
// size and times (another inode or change time), a bundle copied elsewhere, and everything when the record is
// missing or not whole, and each file that a record of an earlier boot does not hold as on the disk. A bundle moved, or
// reached through another mount, keeps its files' identities and copies nothing again. A name that vanishes or changes
// kind in `destination` while it is read is taken as it now is; one that vanishes in the bundle fails the sync.
//
// A drive mounted inside `destination` (a file system of its own, or a folder bound there) is not the sync's:
// nothing below it is read, moved or removed. Where the bundle has nothing at its place the drive stays, with the
// folders that lead to it, and the report names it; where the bundle needs its place, the sync fails (EBUSY)
// naming it, before anything changes.
//
// A program may be running from `destination` and writing into it meanwhile, so nothing is written in place:
// each piece (a file, or a whole folder that is missing or of another kind) is copied under a hidden folder in
// `destination` (kReplacedEntryPrefix) and swapped in by one atomic rename or exchange; files that nothing
// changed keep their inode. Where the disk holds the copies and the old pieces at once, each entry's pieces are
// all copied (on two threads) before any is swapped in, an entry in which nothing stays is one piece, and the
// old pieces and whatever does not belong in the entries wait in the hidden folder for `removeLeftovers`,
// which the caller runs later; where it does not, each piece is swapped in as soon as it is copied and the old
// one goes at once, so a sync needs room only for one piece.
// Leftovers of earlier syncs are removed first (removeLeftovers); a failure to remove them never fails the sync.
// The caller holds the runtime lock.
//
// Fails with runtime error 2 (no resources folder) or 3 (a payload is missing) before touching anything, or
// with the file system's own error at the first step that fails: every entry is then whole (each file old or
// new, never a part), the repair has not run, and the record is not rewritten, so the next sync copies again
// whatever this one did not finish. The record is written unflushed (see flushRuntime). Blocks the calling
// thread; any thread may call it.
platform::Result<SyncReport> syncEmbeddedRuntime(const RuntimeContext& context, const platform::Path& destination,
                                                 const std::string& runtimeTarget,
                                                 const SyncProgress& progress = nullptr);

// Makes the files that the record in `destination` holds as not yet on the disk (those copied since the last
// flush that ended) reach it, then marks them so, provided the record is still the one it read, so that they are
// trusted after a power cut too. A sync does not flush, to keep the disk's wait off the press: run this once the
// work that needed the runtime has started. The runtime root's file system is flushed whole where one call
// reaches its disk; a file on another file system, or each file where that call stops short of the disk (FUSE,
// stacked file systems, macOS), is flushed by itself. Nothing to do when every file is on the disk already, or
// the record is missing, or of an earlier boot. A stop at any moment leaves the record as it was: its files not
// on the disk are trusted in this boot only, and after a restart only they are copied again. Blocks for as long
// as the disk takes. The caller holds the runtime lock.
platform::Status flushRuntime(platform::FileSystem& fileSystem, const platform::Path& destination);

// Removes what earlier syncs left in `destination`: the entries they moved aside and a record they were still
// writing, whatever process each is named after. Call it only while holding the runtime lock (lockRuntime),
// which proves that no other launcher is at work there. Never fails: an entry that cannot go now (something
// still writes into it) stays for a later call. Returns how many stay. Any thread may call it; it touches
// nothing else.
int removeLeftovers(platform::FileSystem& fileSystem, const platform::Path& destination);

}  // namespace runtime
