#include "runtime/runtime_sync.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "runtime/executable_repair.h"
#include "runtime/runtime_error.h"
#include "runtime/sync_record.h"

namespace runtime {
namespace {

using platform::EntryKind;
using platform::ScannedEntry;

// Room kept free beyond the copies before old pieces are left for later removal.
constexpr std::uint64_t kSpareBytes = 256ull << 20;

bool isReplacedEntry(const std::string& name) { return name.rfind(kReplacedEntryPrefix, 0) == 0; }

// Failures of a rename or an exchange that another way of swapping can get past.
bool raced(const platform::Error& error) {
  const int code = error.code();
  return error.domain() == platform::kPosixErrorDomain && (code == ENOTSUP || code == EISDIR || code == ENOTDIR ||
                                                           code == ENOTEMPTY || code == EEXIST || code == ENOENT);
}

std::string joined(const std::string& parent, const std::string& child) {
  return child.empty() ? parent : parent + "/" + child;
}

// What has to change in one of the seven entries, found by comparing the bundle's tree, the runtime root's tree
// and the record.
struct EntryPlan {
  struct Piece {
    std::string relative;  // below the runtime root
    platform::Path source;
  };
  std::vector<Piece> copies;                                        // copied whole and swapped in
  std::vector<std::string> removals;                                // not in the bundle: moved out
  std::vector<std::pair<std::string, RecordedCopy>> kept;           // proven unchanged
  std::unordered_map<std::string, platform::FileIdentity> sources;  // what each copied file was read as
  std::uint64_t bytes = 0;
};

EntryPlan planEntry(const char* name, const platform::Path& sourceEntry, const std::vector<ScannedEntry>& source,
                    const std::vector<ScannedEntry>& existing, const SyncRecord* record) {
  EntryPlan plan;
  std::unordered_map<std::string_view, const ScannedEntry*> there;
  there.reserve(existing.size());
  for (const ScannedEntry& entry : existing) there.emplace(entry.relativePath, &entry);
  // Paths (below the entry) that are replaced or removed whole: nothing below them is looked at again.
  std::unordered_set<std::string_view> whole;
  auto insideWhole = [&](std::string_view path) {
    if (whole.count("")) return true;
    for (size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1)) {
      if (whole.count(path.substr(0, slash))) return true;
    }
    return false;
  };

  for (const ScannedEntry& entry : source) {
    const std::string full = joined(name, entry.relativePath);
    const bool file = entry.kind != EntryKind::directory;
    if (file) plan.sources.emplace(full, entry.identity);
    if (insideWhole(entry.relativePath)) {
      if (entry.kind == EntryKind::regular) plan.bytes += entry.identity.size;
      continue;
    }
    auto found = there.find(entry.relativePath);
    const ScannedEntry* copy = found == there.end() ? nullptr : found->second;
    if (!file) {
      // A folder is kept when a folder with the same permissions stands there; its contents are compared below.
      if (copy && copy->kind == EntryKind::directory && copy->identity.mode == entry.identity.mode) continue;
    } else if (copy && copy->kind == entry.kind && record) {
      auto recorded = record->files.find(full);
      if (recorded != record->files.end() && recorded->second.source == entry.identity &&
          recorded->second.copy == copy->identity) {
        plan.kept.emplace_back(full, recorded->second);
        continue;
      }
    }
    plan.copies.push_back({full, entry.relativePath.empty() ? sourceEntry : sourceEntry / entry.relativePath});
    whole.insert(entry.relativePath);
    if (entry.kind == EntryKind::regular) plan.bytes += entry.identity.size;
  }

  std::unordered_set<std::string_view> inBundle;
  inBundle.reserve(source.size());
  for (const ScannedEntry& entry : source) inBundle.insert(entry.relativePath);
  for (const ScannedEntry& entry : existing) {
    if (inBundle.count(entry.relativePath) || insideWhole(entry.relativePath)) continue;
    plan.removals.push_back(joined(name, entry.relativePath));
    whole.insert(entry.relativePath);
  }
  return plan;
}

// Puts pieces in place in the runtime root, through one hidden folder of this sync's own.
class Placer {
 public:
  Placer(platform::FileSystem& fileSystem, const platform::Path& destination, bool roomy)
      : fileSystem_(fileSystem), destination_(destination), roomy_(roomy) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    hidden_ = destination / (std::string(kReplacedEntryPrefix) + std::to_string(::getpid()) + "-" +
                             std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
  }

  // Copies the bundle's entry under the hidden folder; returns where the copy lies.
  platform::Result<platform::Path> copy(const platform::Path& source, const platform::CopyProgress& progress) {
    if (!made_) {
      if (platform::Status made = fileSystem_.createDirectories(hidden_); !made) return made.error();
      made_ = true;
    }
    platform::Path fresh = hiddenName();
    if (platform::Status copied = fileSystem_.copyTree(source, fresh, progress); !copied) return copied.error();
    return fresh;
  }

  // Puts `fresh` at `relative` in one step. Whatever stood there lands in the hidden folder (to be removed
  // later, or at once when room is short); a file is simply renamed over when room is short, which frees it.
  platform::Status place(const platform::Path& fresh, const std::string& relative) {
    const platform::Path target = destination_ / relative;
    platform::Status placed;
    if (!fileSystem_.existsWithoutFollowing(target)) {
      placed = fileSystem_.rename(fresh, target);
    } else if (!roomy_ && !isDirectory(fresh) && !isDirectory(target)) {
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
    if (!made_) {
      if (platform::Status made = fileSystem_.createDirectories(hidden_); !made) return made;
      made_ = true;
    }
    const platform::Path aside = hiddenName();
    if (platform::Status moved = fileSystem_.rename(target, aside); !moved) {
      return fileSystem_.existsWithoutFollowing(target) ? moved : platform::Status::success();
    }
    discard(aside);
    return platform::Status::success();
  }

 private:
  platform::Path hiddenName() { return hidden_ / std::to_string(++count_); }

  bool isDirectory(const platform::Path& path) const {
    platform::Result<std::vector<ScannedEntry>> found = fileSystem_.scan(path);
    return found && !found.value().empty() && found.value()[0].kind == EntryKind::directory;
  }

  // An old piece goes at once when room is short; else it waits for removeReplacedEntries.
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
        platform::Path aside = hiddenName();
        if (platform::Status moved = fileSystem_.rename(target, aside); !moved) return moved;
        if (!old) old = aside;
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
  platform::Path hidden_;
  bool made_ = false;
  int count_ = 0;
};

// Counts copied bytes into percentages, each told once.
class ProgressCounter {
 public:
  ProgressCounter(const SyncProgress& progress, std::uint64_t total) : progress_(progress), total_(total) {}
  void add(std::uint64_t bytes) {
    done_ += bytes;
    int percent = total_ == 0 ? 100 : static_cast<int>(std::min<std::uint64_t>(100, done_ * 100 / total_));
    if (percent != told_ && progress_) progress_(told_ = percent);
  }
  std::uint64_t done() const { return done_; }

 private:
  const SyncProgress& progress_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  int told_ = -1;
};

// Adds to `record` each file of a piece that now stands in place as it was copied: its size (and, for a
// file, its modification time) as the bundle's entry was read. One that a program changed since is left out,
// so the next sync copies it again.
void recordPiece(const platform::FileSystem& fileSystem, const platform::Path& destination, const std::string& relative,
                 const EntryPlan& plan, SyncRecord& record) {
  platform::Result<std::vector<ScannedEntry>> placed = fileSystem.scan(destination / relative);
  if (!placed) return;
  for (const ScannedEntry& entry : placed.value()) {
    if (entry.kind == EntryKind::directory) continue;
    const std::string full = joined(relative, entry.relativePath);
    auto source = plan.sources.find(full);
    if (source == plan.sources.end() || source->second.size != entry.identity.size) continue;
    if (entry.kind == EntryKind::regular && source->second.modifiedNs != entry.identity.modifiedNs) continue;
    record.files.emplace(full, RecordedCopy{source->second, entry.identity});
  }
}

}  // namespace

platform::Result<SyncReport> syncEmbeddedRuntime(const RuntimeContext& context, const platform::Path& destination,
                                                 const std::string& runtimeTarget, const SyncProgress& progress) {
  platform::FileSystem& fileSystem = context.fileSystem;
  if (!context.resourceDirectory) return runtimeError(RuntimeErrorCode::noResources);
  const platform::Path embedded = *context.resourceDirectory / "runtime";
  const platform::Path commonPayload = embedded / commonRuntimeDirectoryName;
  const platform::Path targetPayload = embedded / runtimeTarget;
  if (!fileSystem.exists(commonPayload) || !fileSystem.exists(targetPayload)) {
    return runtimeError(RuntimeErrorCode::noMatchingPayload);
  }

  if (platform::Status made = fileSystem.createDirectories(destination); !made) return made.error();
  removeReplacedEntries(fileSystem, destination);  // left over from a crash or a busy tree; never fails the sync

  SyncReport report;
  std::optional<SyncRecord> record;
  if (platform::Result<std::string> text = fileSystem.readFile(destination / kSyncRecordName)) {
    record = decodeSyncRecord(text.value());
    if (record && record->embeddedRuntime != embedded.string()) record.reset();
  }
  report.recordTrusted = record.has_value();

  // Compared first, all seven, by metadata alone; nothing is changed before every tree has been read.
  std::vector<EntryPlan> plans;
  std::uint64_t total = 0;
  for (const PlannedEntry& entry : kCopyPlan) {
    const platform::Path source = (entry.fromCommonPayload ? commonPayload : targetPayload) / entry.name;
    platform::Result<std::vector<ScannedEntry>> bundle = fileSystem.scan(source);
    if (!bundle) return bundle.error();
    if (bundle.value().empty()) return platform::posixError(ENOENT, "无法读取“" + source.string() + "”");
    platform::Result<std::vector<ScannedEntry>> existing = fileSystem.scan(destination / entry.name);
    if (!existing) return existing.error();
    plans.push_back(planEntry(entry.name, source, bundle.value(), existing.value(), record ? &*record : nullptr));
    total += plans.back().bytes;
  }

  platform::Result<std::uint64_t> free = fileSystem.freeSpace(destination);
  const bool roomy = free && free.value() >= total + kSpareBytes;
  Placer placer(fileSystem, destination, roomy);
  ProgressCounter counter(progress, total);
  const platform::CopyProgress copied = [&](std::uint64_t bytes) {
    counter.add(bytes);
    ++report.filesCopied;
  };
  if (total > 0) counter.add(0);
  SyncRecord next{embedded.string(), {}};
  for (EntryPlan& plan : plans) {
    const bool changed = !plan.copies.empty() || !plan.removals.empty();
    ++(changed ? report.entriesReplaced : report.entriesKept);
    for (auto& [path, copy] : plan.kept) next.files.emplace(std::move(path), copy);
    // Where there is room, the entry's pieces are all copied before any is swapped in, so a copy that fails
    // leaves the entry as it was.
    std::vector<std::pair<platform::Path, const EntryPlan::Piece*>> staged;
    for (const EntryPlan::Piece& piece : plan.copies) {
      platform::Result<platform::Path> fresh = placer.copy(piece.source, copied);
      if (!fresh) return fresh.error();
      if (roomy) {
        staged.emplace_back(fresh.value(), &piece);
      } else if (platform::Status placed = placer.place(fresh.value(), piece.relative); !placed) {
        return placed.error();
      }
    }
    for (const auto& [fresh, piece] : staged) {
      if (platform::Status placed = placer.place(fresh, piece->relative); !placed) return placed.error();
    }
    for (const std::string& relative : plan.removals) {
      if (platform::Status removed = placer.remove(relative); !removed) return removed.error();
    }
  }
  report.bytesCopied = counter.done();

  if (platform::Status repaired = repairManagedRuntimeExecutables(fileSystem, destination); !repaired) {
    return repaired.error();
  }
  // Taken after the repair, which may have changed the modes of fresh tools.
  for (const EntryPlan& plan : plans) {
    for (const EntryPlan::Piece& piece : plan.copies) recordPiece(fileSystem, destination, piece.relative, plan, next);
  }
  if (!record || next != *record) {
    // A record that cannot be written costs only a full copy next time.
    (void)fileSystem.writeFileAtomically(destination / kSyncRecordName, encodeSyncRecord(next));
  }
  return report;
}

int removeReplacedEntries(platform::FileSystem& fileSystem, const platform::Path& destination) {
  platform::Result<std::vector<std::string>> names = fileSystem.list(destination);
  if (!names) return 0;
  int staying = 0;
  for (const std::string& name : names.value()) {
    if (!isReplacedEntry(name)) continue;
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
