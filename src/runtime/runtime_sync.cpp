#include "runtime/runtime_sync.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <numeric>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include "platform/system/process.h"
#include "runtime/executable_repair.h"
#include "runtime/payload_manifest.h"
#include "runtime/runtime_error.h"
#include "runtime/sync_record.h"

namespace runtime {
namespace {

using platform::EntryKind;
using platform::ScannedEntry;

// Room kept free beyond the copies before old pieces are left for later removal.
constexpr std::uint64_t kSpareBytes = 256ull << 20;

// What an earlier sync left in the runtime root: a folder it moved pieces aside into, or a record it was still
// writing when it was stopped.
bool isLeftover(const std::string& name) {
  static const std::string recordTemporary = platform::atomicWriteTemporaryPrefix(kSyncRecordName);
  return name.rfind(kReplacedEntryPrefix, 0) == 0 || name.rfind(recordTemporary, 0) == 0;
}

// True when `now` is the version of an entry that `recorded` describes: the same inode, size, times and mode.
// The device is left out, so that the same files reached through another mount (an app moved, or run from
// where the system put it) are known as the same.
bool sameVersion(const platform::FileIdentity& recorded, const platform::FileIdentity& now) {
  return recorded.inode == now.inode && recorded.size == now.size && recorded.modifiedNs == now.modifiedNs &&
         recorded.changedNs == now.changedNs && recorded.mode == now.mode;
}

// Failures of a rename or an exchange that another way of swapping can get past.
bool raced(const platform::Error& error) {
  const int code = error.code();
  return error.domain() == platform::kPosixErrorDomain && (code == ENOTSUP || code == EISDIR || code == ENOTDIR ||
                                                           code == ENOTEMPTY || code == EEXIST || code == ENOENT);
}

std::string joined(const std::string& parent, const std::string& child) {
  return child.empty() ? parent : parent + "/" + child;
}

// How far the record vouches for its copies in this sync.
struct Trust {
  const PayloadManifest* manifest = nullptr;  // the bundle's manifest, when it describes the payload
  bool sameBuild = false;                     // the record's copies came from the build that manifest describes
  bool samePlace = false;                     // the record's copies came from this bundle folder
};

// The manifest's line for the file `path` of an entry (`described`: the entry's lines, whose paths start with a
// payload's folder of `prefix` bytes); none when it has none.
const ManifestEntry* describedFile(std::span<const ManifestEntry> described, size_t prefix, std::string_view path) {
  auto at = std::lower_bound(described.begin(), described.end(), path, [&](const ManifestEntry& entry, auto p) {
    return platform::comparePaths(std::string_view(entry.path).substr(prefix), p) < 0;
  });
  return at != described.end() && std::string_view(at->path).substr(prefix) == path ? &*at : nullptr;
}

// True when the record's line `file` vouches for the bundle's file as it stands now (`now`, which the manifest
// describes by `described`, if usable). Within one build, by the identities, wherever the bundle now lives; once
// the build changed, by the digest and the mode, since two builds may give a same-size edit the same inode,
// size and times; without a usable manifest, or for a line without a digest, by the identities at the same place
// and device only.
bool vouches(const RecordedFile& file, const platform::FileIdentity& now, const ManifestEntry* described,
             const Trust& trust) {
  if (trust.sameBuild) return sameVersion(file.copy.source, now);
  if (described && file.digest) return *file.digest == described->digest && file.copy.source.mode == now.mode;
  return trust.samePlace && sameVersion(file.copy.source, now) && file.copy.source.device == now.device;
}

// What has to change in one of the seven entries, found by comparing the bundle's tree, the runtime root's tree
// and the record.
struct EntryPlan {
  struct Piece {
    std::string relative;   // below the runtime root
    platform::Path source;  // the bundle's entry, or what is below it
    bool folder;            // as the bundle has it
    // Each file and link of the piece (below it, "" for the piece itself) as the bundle's tree was read.
    std::vector<std::pair<std::string, platform::FileIdentity>> files;
  };
  std::vector<Piece> copies;          // copied whole and swapped in
  std::vector<std::string> removals;  // not in the bundle: moved out
  std::vector<RecordedFile*> kept;    // proven unchanged: the record's lines, in order
  size_t updated = 0;                 // of those, lines that now name a new build's file
  // The entry's lines in a usable manifest, whose paths start with the payload's folder, of `prefix` bytes.
  std::span<const ManifestEntry> described;
  size_t prefix = 0;
  std::vector<std::string> mounts;     // drives mounted where the bundle has nothing: left where they are
  std::optional<std::string> blocked;  // a drive mounted where a piece of the bundle has to go
  std::uint64_t bytes = 0;             // to copy
};

// The first mount point below the folder at `at` in `tree`, if any.
const ScannedEntry* mountBelow(const std::vector<ScannedEntry>& tree, size_t at) {
  for (size_t k = at + 1; k < tree.size() && platform::isBelow(tree[k].relativePath, tree[at].relativePath); ++k) {
    if (tree[k].mountPoint) return &tree[k];
  }
  return nullptr;
}

// Walks the two trees side by side (a scan lists both in the same order) and decides, entry by entry, what
// stays, what is copied whole and what goes. Below a piece that is copied or removed whole nothing more is
// looked at. A drive mounted in the runtime root is not ours: nothing below it is looked at, moved or removed; a
// folder that leads to one is emptied of everything else rather than removed, and one that is in the way of the
// bundle blocks the entry. A file stays when the record vouches for it (see vouches) and its copy is as placed;
// a line kept across builds is made to name the new build's file. `described`: the entry's lines in a usable
// manifest, whose paths start with a payload's folder of `prefix` bytes.
EntryPlan planEntry(const char* name, const std::vector<ScannedEntry>& source,
                    const std::vector<ScannedEntry>& existing, std::span<RecordedFile> recorded, const Trust& trust,
                    std::span<const ManifestEntry> described, size_t prefix) {
  EntryPlan plan;
  std::string key;  // the record's name of the file at hand, built in place
  size_t i = 0, j = 0, r = 0, m = 0;
  auto skipBelow = [](const std::vector<ScannedEntry>& tree, size_t& at, const std::string& folder) {
    while (at < tree.size() && platform::isBelow(tree[at].relativePath, folder)) ++at;
  };
  while (i < source.size() || j < existing.size()) {
    const int order = i == source.size()     ? 1
                      : j == existing.size() ? -1
                                             : platform::comparePaths(source[i].relativePath, existing[j].relativePath);
    if (order > 0) {  // only in the runtime root
      const std::string& relative = existing[j].relativePath;
      if (existing[j].mountPoint) {
        plan.mounts.push_back(joined(name, relative));
        ++j;
      } else if (mountBelow(existing, j)) {
        ++j;  // the folder stays for the drive in it; everything else in it goes, name by name
      } else {
        plan.removals.push_back(joined(name, relative));
        skipBelow(existing, ++j, relative);
      }
      continue;
    }
    const ScannedEntry& entry = source[i];
    const ScannedEntry* copy = order == 0 ? &existing[j] : nullptr;
    if (copy && copy->mountPoint) {
      plan.blocked = joined(name, copy->relativePath);
      return plan;
    }
    if (entry.kind == EntryKind::directory) {
      // A folder is kept when a folder with the same permissions stands there; its contents are compared next.
      if (copy && copy->kind == EntryKind::directory && copy->identity.mode == entry.identity.mode) {
        ++i, ++j;
        continue;
      }
    } else if (copy && copy->kind == entry.kind) {
      // The record's lines go in the scan's order too: the file's line, if any, is the next one not before it.
      key.assign(name);
      if (!entry.relativePath.empty()) key.append("/").append(entry.relativePath);
      while (r < recorded.size() && platform::comparePaths(recorded[r].path, key) < 0) ++r;
      auto suffix = [&](size_t at) { return std::string_view(described[at].path).substr(prefix); };
      while (m < described.size() && platform::comparePaths(suffix(m), key) < 0) ++m;
      const ManifestEntry* line = m < described.size() && suffix(m) == key ? &described[m] : nullptr;
      if (r < recorded.size() && recorded[r].path == key && sameVersion(recorded[r].copy.copy, copy->identity) &&
          vouches(recorded[r], entry.identity, line, trust)) {
        RecordedFile& kept = recorded[r];
        if (!trust.sameBuild && line) {  // now the new build's file, by its identity and digest
          plan.updated += kept.copy.source != entry.identity || kept.digest != line->digest;
          kept.copy.source = entry.identity;
          kept.digest = line->digest;
          kept.lineLength = 0;
        }
        plan.kept.push_back(&kept);
        ++i, ++j;
        continue;
      }
    }
    // Copied whole: the entry with everything below it, unless that would move a drive mounted below it.
    if (const ScannedEntry* mount = copy ? mountBelow(existing, j) : nullptr) {
      plan.blocked = joined(name, mount->relativePath);
      return plan;
    }
    EntryPlan::Piece piece{joined(name, entry.relativePath), {}, entry.kind == EntryKind::directory, {}};
    const std::string& folder = entry.relativePath;
    const size_t first = i;
    for (; i < source.size() && (i == first || platform::isBelow(source[i].relativePath, folder)); ++i) {
      const ScannedEntry& file = source[i];
      if (file.kind == EntryKind::regular) plan.bytes += file.identity.size;
      if (file.kind == EntryKind::directory) continue;
      const std::string& path = file.relativePath;
      piece.files.emplace_back(i == first ? "" : folder.empty() ? path : path.substr(folder.size() + 1), file.identity);
    }
    if (copy) skipBelow(existing, ++j, folder);
    plan.copies.push_back(std::move(piece));
  }
  return plan;
}

// Makes the plan of an entry in which no file stays one piece: the whole entry.
void wholeWhereNothingStays(EntryPlan& plan, const char* name, const platform::Path& sourceEntry,
                            const std::vector<ScannedEntry>& source) {
  if (!plan.kept.empty() || !plan.mounts.empty() || (plan.copies.size() <= 1 && plan.removals.empty())) return;
  EntryPlan::Piece whole{name, sourceEntry, true, {}};
  for (const ScannedEntry& entry : source) {
    if (entry.kind != EntryKind::directory) whole.files.emplace_back(entry.relativePath, entry.identity);
  }
  plan.copies.assign(1, std::move(whole));
  plan.removals.clear();
}

// Puts pieces in place in the runtime root, through one hidden folder of this sync's own.
class Placer {
 public:
  Placer(platform::FileSystem& fileSystem, const platform::Path& destination, bool roomy)
      : fileSystem_(fileSystem), destination_(destination), roomy_(roomy) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    hidden_ = destination / (std::string(kReplacedEntryPrefix) + std::to_string(platform::currentProcessId()) + "-" +
                             std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
  }

  // A new place in the hidden folder, made on first use. Called by one thread at a time.
  platform::Result<platform::Path> reserve() {
    // In folders of a few hundred names each: a folder of tens of thousands makes every name made or moved in
    // it slower.
    const int number = ++count_;
    const platform::Path folder = hidden_ / std::to_string(number / kNamesPerFolder);
    if (number == 1 || number % kNamesPerFolder == 0) {
      if (platform::Status made = fileSystem_.createDirectories(folder); !made) return made.error();
    }
    return folder / std::to_string(number);
  }

  // Copies the bundle's entry to `fresh`, a reserved place. Any thread may call it.
  platform::Status copy(const platform::Path& source, const platform::Path& fresh,
                        const platform::CopyProgress& progress) {
    return fileSystem_.copyTree(source, fresh, progress);
  }

  // Puts `fresh`, the copy of `piece`, in its place in one step. Whatever stood there lands in the hidden folder
  // (to be removed later, or at once when room is short); a file is simply renamed over when room is short,
  // which frees the old one (a folder in its place makes that rename fail, and the two steps below take over).
  platform::Status place(const platform::Path& fresh, const EntryPlan::Piece& piece) {
    const platform::Path target = destination_ / piece.relative;
    platform::Status placed;
    if (!fileSystem_.existsWithoutFollowing(target) || (!roomy_ && !piece.folder)) {
      placed = fileSystem_.rename(fresh, target);
    } else if ((placed = fileSystem_.exchange(fresh, target))) {
      discard(fresh);
    }
    // A system without the exchange, or a program that made or removed something at the path meanwhile.
    return placed || !raced(placed.error()) ? placed : swapInTwoSteps(fresh, target);
  }

  // Moves `relative` out of the runtime root. An entry that is gone already is no failure.
  platform::Status remove(const std::string& relative) {
    const platform::Path target = destination_ / relative;
    platform::Result<platform::Path> reserved = reserve();
    if (!reserved) return reserved.error();
    const platform::Path& aside = reserved.value();
    if (platform::Status moved = fileSystem_.rename(target, aside); !moved) {
      return fileSystem_.existsWithoutFollowing(target) ? moved : platform::Status::success();
    }
    discard(aside);
    return platform::Status::success();
  }

 private:
  // An old piece goes at once when room is short; else it waits for removeLeftovers.
  void discard(const platform::Path& old) {
    if (!roomy_) (void)fileSystem_.removeTree(old);
  }

  // Where the system cannot exchange, or a program makes something at the path meanwhile: whatever is there
  // moves aside by one rename, then `fresh` takes its place by another; should that fail for good, the old
  // entry is put back.
  platform::Status swapInTwoSteps(const platform::Path& fresh, const platform::Path& target) {
    std::optional<platform::Path> old;
    for (int attempt = 0;; ++attempt) {
      if (fileSystem_.existsWithoutFollowing(target)) {
        platform::Result<platform::Path> reserved = reserve();
        if (!reserved) return reserved.error();
        const platform::Path& aside = reserved.value();
        platform::Status moved = fileSystem_.rename(target, aside);
        if (!moved && moved.error().code() != ENOENT) return moved;  // gone meanwhile: nothing to move aside
        if (moved && !old) old = aside;
      }
      platform::Status placed = fileSystem_.rename(fresh, target);
      if (placed) {
        if (old) discard(*old);
        return placed;
      }
      if (attempt == 2 || !fileSystem_.existsWithoutFollowing(target)) {
        if (old && !fileSystem_.existsWithoutFollowing(target)) (void)fileSystem_.rename(*old, target);
        return placed;
      }
    }
  }

  platform::FileSystem& fileSystem_;
  const platform::Path& destination_;
  const bool roomy_;
  static constexpr int kNamesPerFolder = 256;
  platform::Path hidden_;
  int count_ = 0;
};

// Counts copied files and bytes into percentages, each told once. Any thread may add.
class ProgressCounter {
 public:
  ProgressCounter(const SyncProgress& progress, std::uint64_t total) : progress_(progress), total_(total) {}
  void add(std::uint64_t bytes, std::uint64_t files) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ += bytes;
    files_ += files;
    int percent = total_ == 0 ? 100 : static_cast<int>(std::min<std::uint64_t>(100, done_ * 100 / total_));
    if (percent != told_ && progress_) progress_(told_ = percent);
  }
  std::uint64_t bytes() const { return done_; }
  std::uint64_t files() const { return files_; }

 private:
  std::mutex mutex_;
  const SyncProgress& progress_;
  std::uint64_t total_;
  std::uint64_t done_ = 0, files_ = 0;
  int told_ = -1;
};

// Copies `pieces` to `places` on this thread and a second one, taking turns, so that two processors share
// the work; stops starting new copies once one has failed. Returns the first failure in the pieces' order.
platform::Status copyAll(Placer& placer, const std::vector<EntryPlan::Piece>& pieces,
                         const std::vector<platform::Path>& places, const platform::CopyProgress& progress) {
  std::vector<std::optional<platform::Error>> failures(pieces.size());
  std::atomic<bool> failed = false;
  auto work = [&](size_t first) {
    for (size_t k = first; k < pieces.size() && !failed; k += 2) {
      if (platform::Status copied = placer.copy(pieces[k].source, places[k], progress); !copied) {
        failures[k] = copied.error();
        failed = true;
      }
    }
  };
  std::optional<std::thread> helper;
  if (pieces.size() > 1) {
    try {
      helper.emplace(work, 1);
    } catch (const std::system_error&) {
      work(1);  // no second thread to be had: this one does it all
    }
  }
  work(0);
  if (helper) helper->join();
  for (const std::optional<platform::Error>& failure : failures) {
    if (failure) return *failure;
  }
  return platform::Status::success();
}

// True when `copied` is the modification time `given` as a file system stores it: the same, or cut to its step
// (exFAT keeps hundredths of a second, HFS+ and many network shares whole seconds, FAT two). A program that
// writes the copy sets the time to its clock, which falls on such a step near `given` only by chance.
bool storedAs(std::int64_t given, std::int64_t copied) {
  constexpr std::int64_t kStep = 10'000'000;
  constexpr std::uint64_t kCoarsest = 2'000'000'000;
  const auto apart = [](std::int64_t low, std::int64_t high) {  // in unsigned arithmetic: no overflow
    return static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
  };
  return copied == given ||
         (copied % kStep == 0 && (copied < given ? apart(copied, given) : apart(given, copied)) < kCoarsest);
}

// Adds to `record` each file of a piece that now stands in place as it was copied: its size (and, for a
// file, its modification time) as the bundle's entry was read. One that a program changed since is left out,
// so the next sync copies it again. The paths are kept in `texts`.
void recordPiece(const platform::FileSystem& fileSystem, const platform::Path& destination,
                 const EntryPlan::Piece& piece, const EntryPlan& entry, std::vector<RecordedFile>& record,
                 text::SharedTexts& texts) {
  platform::Result<std::vector<ScannedEntry>> placed =
      fileSystem.scan(destination / piece.relative, platform::TreeState::busy);
  if (!placed) return;
  auto source = piece.files.begin();
  for (const ScannedEntry& file : placed.value()) {
    if (file.kind == EntryKind::directory) continue;
    while (source != piece.files.end() && platform::comparePaths(source->first, file.relativePath) < 0) ++source;
    if (source == piece.files.end()) return;
    if (source->first != file.relativePath || source->second.size != file.identity.size) continue;
    if (file.kind == EntryKind::regular && !storedAs(source->second.modifiedNs, file.identity.modifiedNs)) continue;
    RecordedFile& line = record.emplace_back();
    line.path = texts.keep(joined(piece.relative, file.relativePath));
    line.copy = RecordedCopy{source->second, file.identity};
    if (const ManifestEntry* described = describedFile(entry.described, entry.prefix, line.path)) {
      line.digest = described->digest;
    }
  }
}

// Moves the kept lines and the new ones, both in order and none in both, to the end of `out`, in order.
void mergeInto(std::vector<RecordedFile>& out, const std::vector<RecordedFile*>& kept,
               std::vector<RecordedFile>& copied) {
  auto k = kept.begin();
  for (RecordedFile& file : copied) {
    for (; k != kept.end() && platform::comparePaths((*k)->path, file.path) < 0; ++k) out.push_back(std::move(**k));
    out.push_back(std::move(file));
  }
  for (; k != kept.end(); ++k) out.push_back(std::move(**k));
}

using Scan = platform::Result<std::vector<ScannedEntry>>;

// The bundle's two payloads, which the seven entries come from.
struct Payloads {
  platform::Path embedded, common, target;
  std::string folderOf(const PlannedEntry& entry) const {
    return (entry.fromCommonPayload ? common : target).filename().string();
  }
  platform::Path sourceOf(const PlannedEntry& entry) const {
    return (entry.fromCommonPayload ? common : target) / entry.name;
  }
};

// Both sides of the seven entries, each in the plan's order, and the record, as they were read.
struct Reading {
  std::vector<Scan> bundle, runtime;
  std::optional<SyncRecord> record;
  std::optional<PayloadManifest> manifest;
};

// Reads the bundle's seven trees (on a second thread), the record and the bundle's manifest (on a third: the
// system spreads the three over the processors there are) and the runtime root's seven trees, by metadata alone. Before
// the runtime root is read it is made when missing and cleared of earlier syncs' leftovers; nothing else changes. A
// tree that could not be read is a failed scan in `reading`; fails only when `destination` cannot be made.
platform::Status scanBothSides(platform::FileSystem& fileSystem, const Payloads& payloads,
                               const platform::Path& destination, Reading& reading) {
  std::future<std::vector<Scan>> bundle = std::async(std::launch::async, [&] {
    std::vector<Scan> scans;
    for (const PlannedEntry& entry : kCopyPlan)
      scans.push_back(fileSystem.scan(payloads.sourceOf(entry), platform::TreeState::still));
    return scans;
  });
  std::future<void> record = std::async(std::launch::async, [&] {
    // Both are mapped, not read: at a suite's size they are tens of megabytes that the press would otherwise
    // copy into fresh memory.
    if (auto file = fileSystem.mapFile(destination / kSyncRecordName)) {
      reading.record = decodeSyncRecord(std::move(file).value());
      if (reading.record) forgetWhatAPowerCutMayHaveTaken(*reading.record, fileSystem.bootSession());
    }
    if (auto file = fileSystem.mapFile(payloads.embedded.parent_path() / kPayloadManifestName)) {
      const std::string common = payloads.common.filename().string(), target = payloads.target.filename().string();
      const std::string_view kept[] = {common, target};
      reading.manifest = decodePayloadManifest(std::move(file).value(), kept);
    }
  });
  platform::Status made = fileSystem.createDirectories(destination);
  if (made) {
    removeLeftovers(fileSystem, destination);  // from a crash or a busy tree; never fails the sync
    for (const PlannedEntry& entry : kCopyPlan)
      reading.runtime.push_back(fileSystem.scan(destination / entry.name, platform::TreeState::busy));
  }
  reading.bundle = bundle.get();
  record.wait();
  return made;
}

// What a sync does, entry by entry, in the plan's order.
struct SyncPlan {
  std::vector<EntryPlan> entries;
  std::uint64_t bytes = 0;   // to copy
  bool roomy = false;        // the disk holds the copies beside the old pieces
  size_t keptFiles = 0;      // of the record's, proven unchanged
  bool recordStays = false;  // every recorded file kept and nothing else changes
  Trust trust;
  std::string untrustedManifest;  // why the bundle's manifest is not used, if it is not
};

// True when the manifest's lines `described` name the bundle's files and links of one entry (`source`, as
// scanned), each with its size: the manifest describes the payload as it now stands, but for same-size edits.
bool describes(std::span<const ManifestEntry> described, size_t prefix, const std::vector<ScannedEntry>& source,
               std::string_view name) {
  size_t m = 0;
  for (const ScannedEntry& entry : source) {
    if (entry.kind == EntryKind::directory) continue;
    if (m == described.size() || (entry.kind == EntryKind::symlink) != described[m].link ||
        entry.identity.size != described[m].size) {
      return false;
    }
    const std::string_view path = std::string_view(described[m++].path).substr(prefix);
    if (entry.relativePath.empty()
            ? path != name
            : !(path.size() == name.size() + 1 + entry.relativePath.size() && path.starts_with(name) &&
                path[name.size()] == '/' && path.ends_with(entry.relativePath))) {
      return false;
    }
  }
  return m == described.size();
}

// Decides what each entry needs from the two trees and the record (see planEntry), where each piece comes from,
// and whether the disk has room to copy everything before anything is swapped in; where it has, an entry in
// which nothing stays is one piece. Fails when a tree could not be read or the bundle lacks an entry.
platform::Status planSync(platform::FileSystem& fileSystem, const Payloads& payloads, const platform::Path& destination,
                          Reading& reading, SyncPlan& plan) {
  std::optional<SyncRecord>& record = reading.record;
  for (size_t k = 0; k < std::size(kCopyPlan); ++k) {
    const Scan &bundle = reading.bundle[k], &existing = reading.runtime[k];
    if (!bundle) return bundle.error();
    if (bundle.value().empty())
      return platform::posixError(ENOENT, "无法读取“" + payloads.sourceOf(kCopyPlan[k]).string() + "”");
    if (!existing) return existing.error();
  }
  // The manifest is used only where it describes the payload; the record, by the rules of vouches.
  const std::optional<PayloadManifest>& manifest = reading.manifest;
  std::array<std::span<const ManifestEntry>, std::size(kCopyPlan)> described{};
  plan.untrustedManifest = manifest ? "" : "no payload manifest";
  for (size_t k = 0; k < std::size(kCopyPlan) && manifest; ++k) {
    const std::string folder = payloads.folderOf(kCopyPlan[k]);
    described[k] = platform::entriesAt(std::span(manifest->entries), folder + "/" + kCopyPlan[k].name);
    if (!describes(described[k], folder.size() + 1, reading.bundle[k].value(), kCopyPlan[k].name)) {
      plan.untrustedManifest = "the payload manifest does not describe the payload";
    }
  }
  if (plan.untrustedManifest.empty()) plan.trust.manifest = &*manifest;
  plan.trust.sameBuild = plan.trust.manifest && record && record->build == manifest->whole;
  plan.trust.samePlace = record && record->embeddedRuntime == payloads.embedded.string();
  for (size_t k = 0; k < std::size(kCopyPlan); ++k) {
    const Scan &bundle = reading.bundle[k], &existing = reading.runtime[k];
    const size_t prefix = payloads.folderOf(kCopyPlan[k]).size() + 1;
    const std::span<const ManifestEntry> lines = plan.trust.manifest ? described[k] : std::span<const ManifestEntry>();
    plan.entries.push_back(
        planEntry(kCopyPlan[k].name, bundle.value(), existing.value(),
                  record ? platform::entriesAt(std::span(record->files), kCopyPlan[k].name) : std::span<RecordedFile>(),
                  plan.trust, lines, prefix));
    plan.entries.back().described = lines;
    plan.entries.back().prefix = prefix;
    if (const std::optional<std::string>& mount = plan.entries.back().blocked) {
      return platform::posixError(EBUSY, "“" + (destination / *mount).string() +
                                             "”处挂载着另一个文件系统，运行环境的文件无法放入，启动器也不会移动它");
    }
    plan.bytes += plan.entries.back().bytes;
    plan.keptFiles += plan.entries.back().kept.size();
  }
  const std::optional<text::Digest> build =
      plan.trust.manifest ? std::optional(plan.trust.manifest->whole) : std::nullopt;
  plan.recordStays = record && record->build == build && plan.keptFiles == record->files.size() &&
                     std::all_of(plan.entries.begin(), plan.entries.end(), [](const EntryPlan& entry) {
                       return entry.copies.empty() && entry.removals.empty() && entry.updated == 0;
                     });
  platform::Result<std::uint64_t> free = fileSystem.freeSpace(destination);
  plan.roomy = free && free.value() >= plan.bytes + kSpareBytes;
  for (size_t k = 0; k < plan.entries.size(); ++k) {
    EntryPlan& entry = plan.entries[k];
    const platform::Path source = payloads.sourceOf(kCopyPlan[k]);
    // An entry in which nothing at all stays (a new version) is copied and swapped in whole, in one tree copy
    // and one exchange, rather than file by file: the same end, at the cost of one copy.
    if (plan.roomy) wholeWhereNothingStays(entry, kCopyPlan[k].name, source, reading.bundle[k].value());
    const std::string_view name = kCopyPlan[k].name;
    for (EntryPlan::Piece& piece : entry.copies) {
      piece.source = source;
      if (piece.relative != name) piece.source /= piece.relative.substr(name.size() + 1);
    }
  }
  return platform::Status::success();
}

// Puts every piece of the plan in place and moves out what does not belong, entry by entry, counting into
// `report`. Where there is room, an entry's pieces are all copied, on two threads, before any is swapped in, so
// a copy that fails leaves the entry as it was; else each goes in as soon as it is copied. Fails at the first
// step that fails, every entry whole (each file old or new).
platform::Status placeAll(platform::FileSystem& fileSystem, const platform::Path& destination, const SyncPlan& plan,
                          const SyncProgress& progress, SyncReport& report) {
  Placer placer(fileSystem, destination, plan.roomy);
  ProgressCounter counter(progress, plan.bytes);
  const platform::CopyProgress copiedFile = [&](std::uint64_t bytes) { counter.add(bytes, 1); };
  if (plan.bytes > 0) counter.add(0, 0);
  for (const EntryPlan& entry : plan.entries) {
    const bool changed = !entry.copies.empty() || !entry.removals.empty();
    ++(changed ? report.entriesReplaced : report.entriesKept);
    std::vector<platform::Path> places;
    for (const EntryPlan::Piece& piece : entry.copies) {
      platform::Result<platform::Path> place = placer.reserve();
      if (!place) return place.error();
      places.push_back(place.value());
      if (plan.roomy) continue;
      if (platform::Status copied = placer.copy(piece.source, place.value(), copiedFile); !copied) return copied;
      if (platform::Status placed = placer.place(place.value(), piece); !placed) return placed;
    }
    if (plan.roomy) {
      if (platform::Status copied = copyAll(placer, entry.copies, places, copiedFile); !copied) return copied;
      for (size_t k = 0; k < entry.copies.size(); ++k) {
        if (platform::Status placed = placer.place(places[k], entry.copies[k]); !placed) return placed;
      }
    }
    for (const std::string& relative : entry.removals) {
      if (platform::Status removed = placer.remove(relative); !removed) return removed;
    }
  }
  report.bytesCopied = counter.bytes();
  report.filesCopied = counter.files();
  return platform::Status::success();
}

// Writes the record of what now stands in the runtime root: the kept lines as they were read, moved over, and
// each copied file as it stands now (after the repair, which may have changed the modes of fresh tools). Left as
// it was when every recorded file was kept and none was added. A record that cannot be written costs only a
// full copy next time.
void writeNextRecord(platform::FileSystem& fileSystem, const Payloads& payloads, const platform::Path& destination,
                     SyncPlan& plan, const Reading& reading) {
  // The kept lines' paths are views of the record read, which outlives this one: it is written, never kept.
  SyncRecord next;
  next.embeddedRuntime = payloads.embedded.string();
  next.boot = fileSystem.bootSession();
  if (plan.trust.manifest) next.build = plan.trust.manifest->whole;
  next.files.reserve(plan.keptFiles);
  const std::optional<SyncRecord>& record = reading.record;
  size_t copiedFiles = 0;
  std::array<size_t, std::size(kCopyPlan)> order;  // the entries in the record's order
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(),
            [](size_t a, size_t b) { return platform::comparePaths(kCopyPlan[a].name, kCopyPlan[b].name) < 0; });
  for (size_t k : order) {
    std::vector<RecordedFile> copied;
    for (const EntryPlan::Piece& piece : plan.entries[k].copies) {
      recordPiece(fileSystem, destination, piece, plan.entries[k], copied, next.texts);
    }
    copiedFiles += copied.size();
    mergeInto(next.files, plan.entries[k].kept, copied);
  }
  const bool updated =
      std::any_of(plan.entries.begin(), plan.entries.end(), [](const EntryPlan& entry) { return entry.updated != 0; });
  if (record && copiedFiles == 0 && plan.keptFiles == record->files.size() && record->build == next.build && !updated) {
    return;
  }
  (void)fileSystem.writeFileAtomically(destination / kSyncRecordName,
                                       encodeSyncRecord(next, record ? record->source : ""));
}

}  // namespace

platform::Result<SyncReport> syncEmbeddedRuntime(const RuntimeContext& context, const platform::Path& destination,
                                                 const std::string& runtimeTarget, const SyncProgress& progress) {
  platform::FileSystem& fileSystem = context.fileSystem;
  if (!context.resourceDirectory) return runtimeError(RuntimeErrorCode::noResources);
  const platform::Path embedded = *context.resourceDirectory / "runtime";
  const Payloads payloads{embedded, embedded / commonRuntimeDirectoryName, embedded / runtimeTarget};
  if (!fileSystem.exists(payloads.common) || !fileSystem.exists(payloads.target)) {
    return runtimeError(RuntimeErrorCode::noMatchingPayload);
  }
  // Every tree is read, by metadata alone, before anything in it changes.
  Reading reading;
  if (platform::Status scanned = scanBothSides(fileSystem, payloads, destination, reading); !scanned) {
    return scanned.error();
  }
  SyncPlan plan;
  if (platform::Status planned = planSync(fileSystem, payloads, destination, reading, plan); !planned) {
    return planned.error();
  }
  SyncReport report;
  report.recordTrusted = reading.record.has_value();
  report.withoutManifest = plan.untrustedManifest;
  for (const EntryPlan& entry : plan.entries) {
    report.mountsLeft.insert(report.mountsLeft.end(), entry.mounts.begin(), entry.mounts.end());
  }
  if (platform::Status placed = placeAll(fileSystem, destination, plan, progress, report); !placed) {
    return placed.error();
  }
  if (platform::Status repaired = repairManagedRuntimeExecutables(fileSystem, destination); !repaired) {
    return repaired.error();
  }
  if (!plan.recordStays) writeNextRecord(fileSystem, payloads, destination, plan, reading);
  report.flushPending = !plan.recordStays || std::any_of(reading.record->files.begin(), reading.record->files.end(),
                                                         [](const RecordedFile& file) { return !file.onDisk; });
  return report;
}

platform::Status flushRuntime(platform::FileSystem& fileSystem, const platform::Path& destination) {
  const platform::Path recordFile = destination / kSyncRecordName;
  platform::Result<std::string> text = fileSystem.readFile(recordFile);
  if (!text) return platform::Status::success();  // no record: nothing is vouched for
  std::optional<SyncRecord> record = decodeSyncRecord(std::move(text).value());
  // In a record of an earlier boot what is not on the disk is distrusted already; the next sync copies it again.
  if (!record || record->boot != fileSystem.bootSession()) return platform::Status::success();
  std::vector<const RecordedFile*> pending;
  for (const RecordedFile& file : record->files) {
    if (!file.onDisk) pending.push_back(&file);
  }
  if (pending.empty()) return platform::Status::success();
  // The file system of the runtime root is that of the record in it. A file on another one, or every file where
  // the file system's own flush stops short of the disk, is flushed by itself.
  const Scan self = fileSystem.scan(recordFile, platform::TreeState::busy);
  const bool known = self && !self.value().empty();
  const std::uint64_t device = known ? self.value()[0].identity.device : 0;
  platform::Result<bool> whole = fileSystem.flushFileSystem(destination);
  if (!whole) return whole.error();
  std::vector<platform::Path> own;
  for (const RecordedFile* file : pending) {
    if (!whole.value() || !known || file->copy.copy.device != device) own.push_back(destination / file->path);
  }
  if (platform::Status flushed = fileSystem.flushFiles(own); !flushed) return flushed;
  // Only now, and only while the record is still the one whose files were flushed: a record marked before the
  // data is on the disk would vouch for what a power cut can still take.
  platform::Result<std::string> now = fileSystem.readFile(recordFile);
  if (!now || now.value() != record->source) return platform::Status::success();
  for (RecordedFile& file : record->files) file.onDisk = true;
  return fileSystem.writeFileAtomically(recordFile, encodeSyncRecord(*record, record->source));
}

int removeLeftovers(platform::FileSystem& fileSystem, const platform::Path& destination) {
  platform::Result<std::vector<std::string>> names = fileSystem.list(destination);
  if (!names) return 0;
  int staying = 0;
  for (const std::string& name : names.value()) {
    if (!isLeftover(name)) continue;
    // A program that still writes into the tree can refill a folder between emptying it and removing it;
    // a few tries get past short bursts, and the next call clears what is left.
    bool removed = false;
    for (int attempt = 0; attempt < 3 && !removed; ++attempt) {
      removed =
          fileSystem.removeTree(destination / name).ok() || !fileSystem.existsWithoutFollowing(destination / name);
    }
    if (!removed) ++staying;
  }
  return staying;
}

}  // namespace runtime
