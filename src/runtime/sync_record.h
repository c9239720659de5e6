// What the last sync copied, kept in the runtime root so that the next sync can prove from metadata alone that
// an entry is still what it copied (after git's index: both sides' identities as they stood right after the
// copy).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/fs.h"
#include "runtime/line_text.h"

namespace runtime {

// The record's file in the runtime root. It is not one of the seven entries, and a sync never removes it.
inline constexpr const char* kSyncRecordName = ".launcher-sync-record";

// One file or link that a sync copied: the bundle's entry as it was read and the copy as it stood afterwards.
struct RecordedCopy {
  platform::FileIdentity source;
  platform::FileIdentity copy;
  friend bool operator==(const RecordedCopy&, const RecordedCopy&) = default;
};

struct RecordedFile {
  std::string_view path;  // below the runtime root, "python/bin/python3"; kept alive by the record's texts
  RecordedCopy copy;
  // The digest of the bundle's file as the payload manifest gave it when it was copied; none without one.
  std::optional<text::Digest> digest;
  // Whether the copy's data is known to have reached the disk (a flush ended after it was placed). Until then a
  // power cut may have left the file with its size, inode and times but not its data, so such a file is
  // trusted only in the boot that wrote the record.
  bool onDisk = false;
  // Where the file's line stood in the text it was decoded from (its offset and length there, after any mark),
  // so that a record written again from that text takes the line as it is; none for a file that was not decoded.
  std::size_t lineAt = 0, lineLength = 0;
  friend bool operator==(const RecordedFile& a, const RecordedFile& b) {
    return a.path == b.path && a.copy == b.copy && a.digest == b.digest && a.onDisk == b.onDisk;
  }
};

struct SyncRecord {
  // The bundle's "runtime" folder that the copies came from: where a bundle without a usable manifest is trusted.
  std::string embeddedRuntime;
  // The boot the record was written in (platform::FileSystem::bootSession): its files not yet on the disk are
  // trusted in that boot only.
  std::string boot;
  // The build whose payload the copies came from: the whole digest of its manifest; none without one.
  std::optional<text::Digest> build;
  // Each path once, in the order of platform::comparePaths: the order in which a scan meets them, so that a
  // sync walks the record beside the trees instead of looking each file up.
  std::vector<RecordedFile> files;
  text::SharedTexts texts;  // what the files' paths point into
  std::string_view source;  // the text the record was decoded from, if it was
  friend bool operator==(const SyncRecord& a, const SyncRecord& b) {
    return a.embeddedRuntime == b.embeddedRuntime && a.boot == b.boot && a.build == b.build && a.files == b.files;
  }
};

// Leaves out of `record` the files that it may no longer vouch for in the boot named `currentBoot`: those not
// known to be on the disk, unless the record was written in this boot. Returns how many went.
size_t forgetWhatAPowerCutMayHaveTaken(SyncRecord& record, std::string_view currentBoot);

// The record as text: a header line, the source folder, the boot, the build, the number of files, one line per
// file (both identities, the digest, the path; marked "~" while its data is not known to be on the disk) and an end
// line that repeats the number, so a record cut short anywhere is refused. The record of the earlier version, which
// said "flushed" or "not flushed" of all its files at once, is still read. A file decoded from `decodedFrom` (the text
// of an earlier record, its source) keeps its line from there, unchanged: at a suite's size, a record with one changed
// file is mostly copied rather than written out number by number.
std::string encodeSyncRecord(const SyncRecord& record, std::string_view decodedFrom = {});

// The record that `text` holds (kept as its source), or none when it is not whole and well formed, or does not
// list its files in order, each once. Never trusts a part.
std::optional<SyncRecord> decodeSyncRecord(std::string text);
// The same, for the record's file as it was mapped (kept alive by the record).
std::optional<SyncRecord> decodeSyncRecord(std::shared_ptr<const platform::FileText> file);

}  // namespace runtime
