// The runtime layer against temporary bundles and roots: the target, the executable-bit repair and the sync.

#include <future>

#include "flow/press_log.h"
#include "runtime/executable_repair.h"
#include "runtime/payload.h"
#include "runtime/payload_manifest.h"
#include "runtime/runtime_lock.h"
#include "runtime/runtime_sync.h"
#include "runtime/runtime_target.h"
#include "runtime/sync_record.h"
#include "support/faulty_file_system.h"
#include "support/test.h"

namespace {

using Operation = testing_support::FaultyFileSystem::Operation;
using testing_support::RuntimeWorld;

TEST(RuntimeTarget, HardwareNamesAreComparedWholeAfterTrimmingAndLowerCasing) {
  struct Row {
    const char* output;
    std::optional<std::string> target;
  };
  const Row rows[] = {
      {"arm64\n", "macos-arm64"},           {"aarch64", "macos-arm64"}, {" X86_64 ", "macos-x86_64"},
      {"amd64\r\n", "macos-x86_64"},        {"arm64e", std::nullopt},   {"", std::nullopt},
      {"\u3000arm64\u3000", "macos-arm64"},
  };
  for (const Row& row : rows) EXPECT_EQ(runtime::runtimeTargetForHardwareName(row.output), row.target) << row.output;
}

// Every regular file below the two tool folders becomes 0755, at any depth, hidden or not; folders, links and
// everything else keep their modes, and nothing outside the runtime root is reached, through links or not.
TEST(RepairExecutableBits, SetsToolsTo0755AndNothingElse) {
  TempDir world;
  platform::PosixFileSystem fs;
  const platform::Path root = world / "root";
  EXPECT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());  // no tool folders: no failure
  struct File {
    const char* name;
    unsigned mode, repaired;
  };
  const File files[] = {{"python/bin/python3.11", 0644, 0755},
                        {"python/bin/.hidden", 0700, 0755},
                        {"python/bin/sub/deeper/tool", 0600, 0755},
                        {"python/lib/module.py", 0644, 0644},
                        {"elsewhere.txt", 0640, 0640},
                        {"../system/bin/setuid-tool", 04755, 04755}};
  for (const File& file : files) writeFile(root / file.name, "x", file.mode);
  std::filesystem::create_symlink("../../elsewhere.txt", root / "python/bin/link");
  ::chmod((root / "python/bin/sub").c_str(), 0750);
  std::filesystem::create_directory_symlink(world / "system", root / "ffmpeg");  // ffmpeg/bin lies outside
  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());
  for (const File& file : files) EXPECT_EQ(modeOf(root / file.name), file.repaired) << file.name;
  EXPECT_EQ(modeOf(root / "python/bin/sub"), 0750u);

  // A tool folder linked to a place inside the root is walked.
  std::filesystem::remove_all(root / "python/bin");
  writeFile(root / "python/real-bin/python3.11", "x", 0644);
  std::filesystem::create_directory_symlink("real-bin", root / "python/bin");
  ASSERT_TRUE(runtime::repairManagedRuntimeExecutables(fs, root).ok());
  EXPECT_EQ(modeOf(root / "python/real-bin/python3.11"), 0755);
}

// Something put in a tool's place, or in the place of the folder that holds it, between the walk and the
// permission change neither redirects the change nor holds the window: a link's target keeps its mode, and a
// pipe is not waited on.
TEST(RepairExecutableBits, AnEntrySwappedInAfterTheWalkIsLeftAlone) {
  for (const char* swapped : {"link", "pipe", "folder", "gone"}) {  // gone: the suite removed a tool of its own
    TempDir world;
    testing_support::FaultyFileSystem fs;
    writeFile(world / "outside/tool", "x", 0600);
    writeFile(world / "root/python/bin/sub/tool", "x", 0644);
    fs.before = [&](Operation, const platform::Path& tool) {
      if (std::string(swapped) == "folder") {  // the folder moves away and a link to outside takes its name
        if (std::filesystem::is_symlink(tool.parent_path())) return;
        std::filesystem::rename(tool.parent_path(), world / "root/python/bin/moved");
        std::filesystem::create_directory_symlink(world / "outside", tool.parent_path());
        return;
      }
      std::filesystem::remove(tool);
      if (std::string(swapped) == "pipe") ::mkfifo(tool.c_str(), 0600);
      if (std::string(swapped) == "link") std::filesystem::create_symlink(world / "outside/tool", tool);
    };
    auto repaired =
        std::async(std::launch::async, [&] { return runtime::repairManagedRuntimeExecutables(fs, world / "root"); });
    ASSERT_EQ(repaired.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the repair hangs";
    EXPECT_TRUE(repaired.get().ok()) << swapped;
    EXPECT_EQ(modeOf(world / "outside/tool"), 0600) << swapped;
  }
}

// A press waits out another launcher's short hold on the runtime (a long one is named: the widget tests).
TEST(RuntimeLock, WaitsOutAShortHold) {
  RuntimeWorld world;
  std::filesystem::create_directories(world.root.parent_path());
  auto other = world.fileSystem.tryLockFile(world.root.parent_path() / runtime::kRuntimeLockName, "other\n");
  ASSERT_TRUE(other.ok() && other.value().held);
  std::unique_ptr<platform::HeldLock> otherHolds = std::move(std::move(other).value().held);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    otherHolds.reset();
  });
  auto taken = runtime::lockRuntime(world.fileSystem, world.root, "this", std::chrono::seconds(10));
  release.join();
  ASSERT_TRUE(taken.ok());
  EXPECT_TRUE(taken.value().held);
}

// Every entry below `root` with its mode, link target and content, so two trees can be compared whole; or, with
// `identity`, every file and link below the seven entries with its inode and change time: what a program running
// from the runtime, or the system's per-file verification, would see change.
std::map<std::string, std::string> scanned(const platform::Path& root, bool identity = false) {
  std::map<std::string, std::string> found;
  const auto entries = platform::PosixFileSystem().scan(root, platform::TreeState::still);
  for (const platform::ScannedEntry& e : entries.value()) {
    const std::string top = e.relativePath.substr(0, e.relativePath.find('/'));
    const bool seven = std::any_of(std::begin(runtime::kCopyPlan), std::end(runtime::kCopyPlan),
                                   [&](const auto& entry) { return entry.name == top; });
    if (identity && seven && e.kind != platform::EntryKind::directory) {
      found[e.relativePath] = std::to_string(e.identity.inode) + "/" + std::to_string(e.identity.changedNs);
    } else if (!identity) {
      found[e.relativePath] = std::to_string(e.identity.mode) +
                              (e.kind == platform::EntryKind::symlink
                                   ? " -> " + std::filesystem::read_symlink(root / e.relativePath).string()
                               : e.kind == platform::EntryKind::regular ? " = " + readFile(root / e.relativePath)
                                                                        : "");
    }
  }
  return found;
}

// A managed root synced from version 1 and cleaned as the flow cleans it, and a bundle at version 2.
struct SyncWorld {
  RuntimeWorld world;
  testing_support::FaultyFileSystem& faulty = world.fileSystem;
  runtime::RuntimeContext v2{faulty, world.dir / "v2", world.support};
  std::map<std::string, std::string> cleanV2;

  SyncWorld() {
    testing_support::writePayloads(world.dir / "v2", "v2");
    // Every file of the new version differs, its link too.
    const platform::Path link = world.dir / "v2/runtime/macos-arm64/python/bin/python3";
    std::filesystem::remove(link);
    std::filesystem::create_symlink("./python3.11", link);
    testing_support::writeManifest(world.dir / "v2");
    RuntimeWorld reference;
    reference.context.resourceDirectory = world.dir / "v2";
    EXPECT_TRUE(runtime::syncEmbeddedRuntime(reference.context, reference.root, "macos-arm64").ok());
    cleanV2 = settled(reference.root);
    EXPECT_TRUE(sync(world.context).ok());
    writeFile(world.root / "venv/keep", "user data beside the seven");
  }
  platform::Result<runtime::SyncReport> sync(const runtime::RuntimeContext& context) {
    return runtime::syncEmbeddedRuntime(context, world.root, "macos-arm64");
  }
  // The root as the next press sees it once the run has removed what the sync moved aside, without the
  // sync's record and the user's data beside the seven.
  std::map<std::string, std::string> settled(const platform::Path& root) {
    EXPECT_EQ(runtime::removeLeftovers(world.fileSystem, root), 0);
    std::filesystem::remove_all(root / "venv");
    std::filesystem::remove(root / runtime::kSyncRecordName);
    return scanned(root);
  }
  std::map<std::string, std::string> settled() { return settled(world.root); }
  // "v1", "v2" or "absent" for each entry of the plan in its order, read from a file only a complete copy holds.
  std::string versions() {
    std::string all;
    for (const char* probe : {"README.md", "requirements.txt", "scripts/launcher_backend.py", "web_lite3/index.html",
                              "python/lib/site.py", "wheelhouse/sample-1.0-py3-none-any.whl", "ffmpeg/bin/ffmpeg"}) {
      const std::string text = std::filesystem::exists(world.root / probe) ? readFile(world.root / probe) : "";
      all += text.find("v2") != std::string::npos ? "v2 " : text.find("v1") != std::string::npos ? "v1 " : "absent ";
    }
    return all;
  }
};

// A fresh copy: the seven entries with their links, nothing else, the bundle only read; each entry made whole again on
// the next sync, whatever stood in its place, with or without the system's exchange of two entries; leftovers of a
// crash cleared.
TEST(SyncEmbeddedRuntime, ReplacesEachEntryWholeAndLeavesOthersAlone) {
  for (bool withoutExchange : {false, true}) {
    SyncWorld sync;
    sync.faulty.withoutExchange = withoutExchange;
    platform::Path root = sync.world.root;
    EXPECT_EQ(std::filesystem::read_symlink(root / "python/bin/python3"), "python3.11");
    EXPECT_FALSE(std::filesystem::exists(root / "not-in-plan.txt"));
    EXPECT_EQ(modeOf(sync.world.resources / "runtime/macos-arm64/python/bin/python3.11"), 0644);

    std::filesystem::remove(root / "README.md");
    std::filesystem::create_directories(root / "README.md/sub");  // a folder where a file belongs
    writeFile(sync.world.dir / "user-data/important.txt", "keep me");
    std::filesystem::remove_all(root / "wheelhouse");
    std::filesystem::create_directory_symlink(sync.world.dir / "user-data", root / "wheelhouse");  // goes as a link
    std::filesystem::remove_all(root / "ffmpeg");
    std::filesystem::create_symlink(sync.world.dir / "gone", root / "ffmpeg");  // dangling
    // Left by crashes, whatever process each is named after (PID 1 always runs).
    const std::vector<platform::Path> leftovers = {root / ".replaced-python.old-1", root / ".replaced-1-7",
                                                   root / ("." + std::string(runtime::kSyncRecordName) + ".tmp-1")};
    for (const platform::Path& leftover : leftovers) writeFile(leftover / "lib/site.py", "left by a crash");
    sync.faulty.before = [&](Operation operation, const platform::Path& from) {  // gone just before it is moved aside
      if (operation == Operation::rename && from == root / "requirements.txt") std::filesystem::remove(from);
    };

    ASSERT_TRUE(sync.sync(sync.v2).ok());
    sync.faulty.before = nullptr;
    // Where the disk has room, what was replaced waits, set aside, for the run to end before it is removed.
    std::string setAside;
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
      if (entry.path().filename().string().rfind(runtime::kReplacedEntryPrefix, 0) != 0) continue;
      for (const auto& below : std::filesystem::recursive_directory_iterator(entry.path()))
        if (below.is_regular_file()) setAside += readFile(below.path());
    }
    EXPECT_NE(setAside.find("# v1"), std::string::npos) << "the old python/lib/site.py";
    for (const platform::Path& leftover : leftovers) EXPECT_FALSE(std::filesystem::exists(leftover)) << leftover;
    EXPECT_EQ(readFile(root / "venv/keep"), "user data beside the seven");
    EXPECT_EQ(sync.settled(), sync.cleanV2);
    EXPECT_EQ(readFile(sync.world.dir / "user-data/important.txt"), "keep me");
    ASSERT_TRUE(sync.sync(sync.v2).ok());
    EXPECT_EQ(sync.settled(), sync.cleanV2);
  }
}

// A press copies exactly what differs from the bundle, found from metadata alone and never from sizes and times
// only: files that nothing changed keep their inode and change time, and the root ends as a fresh copy would.
// Across builds trust follows the manifest's digests; without a usable manifest, the same place and device.
TEST(SyncEmbeddedRuntime, CopiesExactlyWhatDiffers) {
  const platform::Path site = "python/lib/site.py";
  struct Row {
    const char* change;
    std::set<std::string> copied;  // files and links that get a new identity; {"*"}: all of them
    bool recordRewritten;
    int pieces = -1;                   // copied whole, when not one for each file
    const char* withoutManifest = "";  // why the press did without the bundle's manifest
  };
  const char* undescribed = "the payload manifest does not describe the payload";
  const std::set<std::string> lib = {"python/lib/site.py", "python/lib/sample/__init__.py",
                                     "python/lib/sample-1.0.dist-info/METADATA"};
  const Row rows[] = {
      {"nothing", {}, false},
      {"a copy edited in place, its time set back", {"python/lib/site.py"}, true},
      {"a bundle file rewritten in place, same size and time", {"python/lib/site.py"}, true},
      {"a bundle file dated beyond 2262", {"python/lib/site.py"}, true},
      {"a file added to the bundle", {"python/lib/added.py"}, true, -1, undescribed},
      {"a tool's mode changed", {"python/bin/python3.11"}, true},
      {"a folder's mode changed", lib, true, 1},
      {"a file added inside an entry", {}, false},
      {"a file where a folder belongs", {"web_lite3/index.html", "web_lite3/odd\tname\nwith\\.js"}, true, 1},
      {"the record cut short", {"*"}, true},
      {"the record's lines out of order", {"*"}, true},
      {"the record missing", {"*"}, true},
      {"the record in the earlier format", {}, true},
      {"the record in the earlier format, the app without its manifest", {}, false, -1, "no payload manifest"},
      {"the bundle copied elsewhere", {"*"}, true},
      {"the app moved", {}, false},
      {"the app reached through another mount", {}, false},
      {"a new build on an image: a same-size edit keeps every identity number", {"scripts/launcher_backend.py"}, true},
      {"a new build on an image at another path and device, the same edit", {"scripts/launcher_backend.py"}, true},
      {"an upgrade that replaces every file of the app, one changed", {"README.md"}, true},
      {"the app at the same place without its manifest", {}, true, -1, "no payload manifest"},
      {"the app moved without its manifest", {"*"}, true, -1, "no payload manifest"},
      {"the app reached through another mount without its manifest", {"*"}, true, -1, "no payload manifest"},
      {"a new build in which a file's mode alone changed", {"README.md"}, true},
      {"a runtime on a file system that keeps times in steps of 2 s", {}, false},
      // A power cut forgets the data of every file copied since the last flush, keeping each one's size, inode
      // and times, and starts a new boot: the record is trusted only for what reached the disk.
      {"a power cut after the flush", {}, false},
      {"a power cut before the flush", {"*"}, true},
      {"a power cut during the flush", {"*"}, true},
      {"a power cut after a flushed press and one that copied a file", {"python/lib/site.py"}, true},
  };
  for (const Row& row : rows) {
    SyncWorld sync;
    const platform::Path root = sync.world.root, bundle = sync.world.dir / "v2/runtime/macos-arm64";
    const std::string change = row.change;
    if (change.find("steps of 2 s") != std::string::npos) sync.faulty.coarseSeconds = 2;
    ASSERT_TRUE(sync.sync(sync.v2).ok());
    if (change == "a copy edited in place, its time set back") {
      auto time = std::filesystem::last_write_time(root / site);
      writeFile(root / site, "# v9");
      std::filesystem::last_write_time(root / site, time);
    }
    if (change == "a bundle file rewritten in place, same size and time") {
      auto time = std::filesystem::last_write_time(bundle / site);
      std::ofstream(bundle / site, std::ios::in | std::ios::out) << "# v3";  // the same inode
      std::filesystem::last_write_time(bundle / site, time);
    }
    if (change == "a bundle file dated beyond 2262") {
      struct timespec times[2] = {{0, UTIME_OMIT}, {10'413'792'000, 5}};  // in 2300
      ::utimensat(AT_FDCWD, (bundle / site).c_str(), times, 0);
    }
    if (change == "a file added to the bundle") writeFile(bundle / "python/lib/added.py", "# new");
    if (change == "a tool's mode changed") ::chmod((root / "python/bin/python3.11").c_str(), 0700);
    if (change == "a folder's mode changed") ::chmod((root / "python/lib").c_str(), 0700);
    if (change == "a file added inside an entry") writeFile(root / "scripts/added.py", "stray");
    if (change == "a file where a folder belongs") {
      std::filesystem::remove_all(root / "web_lite3");
      writeFile(root / "web_lite3", "x");
    }
    const platform::Path record = root / runtime::kSyncRecordName;
    if (change == "the record cut short") std::filesystem::resize_file(record, std::filesystem::file_size(record) - 1);
    if (change == "the record missing") std::filesystem::remove(record);
    if (change.starts_with("the record in the earlier format")) {  // no build, no digests; "not flushed" of all
      std::string text = readFile(record), earlier;
      size_t at = 0;
      for (int line = 0; at < text.size(); ++line) {
        std::string one = text.substr(at, text.find('\n', at) + 1 - at);
        at += one.size();
        if (line == 0) one = "lanqi-launcher sync record 2\n";
        if (line == 3) one = "not flushed\n";  // in place of the build
        if (one.starts_with("~")) one.erase(0, 1);
        const size_t digest = one.find('\t', one.find('\t') + 1);
        if (line > 4 && digest != std::string::npos) one.erase(digest, one.find('\t', digest + 1) - digest);
        earlier += one;
      }
      writeFile(record, earlier);
    }
    if (change == "the record's lines out of order") {  // the first two files', after five lines of header
      std::string text = readFile(record);
      size_t first = 0;
      for (int line = 0; line < 5; ++line) first = text.find('\n', first) + 1;
      const size_t second = text.find('\n', first) + 1, third = text.find('\n', second) + 1;
      writeFile(record, text.substr(0, first) + text.substr(second, third - second) +
                            text.substr(first, second - first) + text.substr(third));
    }
    runtime::RuntimeContext context = sync.v2;
    if (change == "the bundle copied elsewhere") {
      std::filesystem::copy(sync.world.dir / "v2", sync.world.dir / "moved",
                            std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
      context.resourceDirectory = sync.world.dir / "moved";
    }
    if (change == "the app moved") {
      std::filesystem::rename(sync.world.dir / "v2", sync.world.dir / "Applications");
      context.resourceDirectory = sync.world.dir / "Applications";
    }
    if (change == "the app reached through another mount") sync.faulty.otherMount = sync.world.dir / "v2";
    const platform::Path script = "runtime/common/scripts/launcher_backend.py";
    if (change.starts_with("a new build on an image")) {  // built again, its inode numbers and times the same
      const platform::FileIdentity was =
          sync.faulty.scan(sync.world.dir / "v2" / script, platform::TreeState::still).value()[0].identity;
      writeFile(sync.world.dir / "v2" / script, "print('backend v9')");
      const struct timespec times[2] = {{0, UTIME_OMIT},
                                        {was.modifiedNs / 1'000'000'000, was.modifiedNs % 1'000'000'000}};
      ::utimensat(AT_FDCWD, (sync.world.dir / "v2" / script).c_str(), times, 0);
      testing_support::writeManifest(sync.world.dir / "v2");
      platform::Path at = sync.world.dir / "v2";
      if (change.find("another path") != std::string::npos) {
        std::filesystem::rename(at, sync.world.dir / "mnt");
        at = sync.faulty.otherMount = sync.world.dir / "mnt";
        context.resourceDirectory = at;
      }
      sync.faulty.disguised[at / script] = was;
    }
    if (change.starts_with("an upgrade that replaces every file")) {
      std::filesystem::copy(sync.world.dir / "v2", sync.world.dir / "upgraded",
                            std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
      std::filesystem::remove_all(sync.world.dir / "v2");
      writeFile(sync.world.dir / "upgraded/runtime/common/README.md", "readme v2, corrected");
      testing_support::writeManifest(sync.world.dir / "upgraded");
      context.resourceDirectory = sync.world.dir / "upgraded";
    }
    if (change.ends_with("without its manifest")) {
      std::filesystem::remove(sync.world.dir / "v2" / runtime::kPayloadManifestName);
      if (change.find("moved") != std::string::npos) {
        std::filesystem::rename(sync.world.dir / "v2", sync.world.dir / "Applications");
        context.resourceDirectory = sync.world.dir / "Applications";
      }
      if (change.find("another mount") != std::string::npos) sync.faulty.otherMount = sync.world.dir / "v2";
    }
    if (change == "a new build in which a file's mode alone changed") {
      ::chmod((sync.world.dir / "v2/runtime/common/README.md").c_str(), 0600);
      testing_support::writeManifest(sync.world.dir / "v2");
    }
    if (change == "a power cut during the flush") {  // the flush never ends
      sync.faulty.before = [&](Operation operation, auto&) {
        if (operation == Operation::flush) sync.faulty.powerCut(root);
      };
      sync.faulty.failAt(Operation::flush, 1);
    }
    if (change == "a power cut after a flushed press and one that copied a file") {  // closed before its flush
      ASSERT_TRUE(runtime::flushRuntime(sync.faulty, root).ok());
      std::filesystem::remove(root / site);
      ASSERT_TRUE(sync.sync(sync.v2).ok());
    }
    const bool cut = change.starts_with("a power cut");
    if (cut && change != "a power cut before the flush" && change.find("one that copied") == std::string::npos) {
      EXPECT_EQ(runtime::flushRuntime(sync.faulty, root).ok(), change == "a power cut after the flush");
    }
    if (cut && change != "a power cut during the flush") sync.faulty.powerCut(root);
    const std::map<std::string, std::string> before = scanned(root, true);
    // The record's inode, 0 while there is none: a record made anew may get the inode number of one removed.
    auto recordInode = [&] {
      struct stat st;
      return ::lstat(record.c_str(), &st) == 0 ? st.st_ino : ino_t{0};
    };
    ino_t recordBefore = recordInode();
    sync.faulty.countAnew();

    platform::Result<runtime::SyncReport> report = sync.sync(context);
    ASSERT_TRUE(report.ok()) << change;
    EXPECT_EQ(report.value().withoutManifest, row.withoutManifest) << change;
    flow::PressRecord logged;
    logged.sync = report.value();
    EXPECT_EQ(
        flow::formatPressRecord(logged).find(", trusted by identity at the same path only: ") != std::string::npos,
        *row.withoutManifest != '\0')
        << change;
    // Every record stands unflushed but one: the flushed one that stays.
    EXPECT_EQ(report.value().flushPending, change != "a power cut after the flush") << change;
    const std::map<std::string, std::string> after = scanned(root, true);
    std::set<std::string> copied;
    for (const auto& [path, identity] : after) {
      auto was = before.find(path);
      if (was == before.end() || was->second != identity) copied.insert(path);
    }
    if (row.copied == std::set<std::string>{"*"}) {
      EXPECT_EQ(copied.size(), after.size()) << change;
    } else {
      EXPECT_EQ(copied, row.copied) << change;
      EXPECT_EQ(sync.faulty.calls(Operation::copy), row.pieces < 0 ? static_cast<int>(row.copied.size()) : row.pieces)
          << change;
    }
    EXPECT_EQ(recordInode() != recordBefore, row.recordRewritten) << change;
    // Two syncs equal one: the next finds nothing to copy in what this one left, and its record stands. (A record
    // kept in the earlier format is written anew by the flush after the press.)
    if (change.ends_with("format, the app without its manifest")) {
      ASSERT_TRUE(runtime::flushRuntime(sync.faulty, root).ok());
    }
    recordBefore = recordInode();
    sync.faulty.countAnew();
    ASSERT_TRUE(sync.sync(context).ok()) << change;
    EXPECT_EQ(sync.faulty.calls(Operation::copy), 0) << change;
    EXPECT_EQ(scanned(root, true), after) << change;
    EXPECT_EQ(recordInode(), recordBefore) << change;
    if (change == "a bundle file rewritten in place, same size and time") {
      EXPECT_EQ(readFile(root / site), "# v3");
    } else if (change == "a file added to the bundle") {
      EXPECT_EQ(readFile(root / "python/lib/added.py"), "# new");
    } else if (change.starts_with("a new build on an image")) {
      EXPECT_EQ(readFile(root / "scripts/launcher_backend.py"), "print('backend v9')");
    } else if (change == "a new build in which a file's mode alone changed") {
      EXPECT_EQ(modeOf(root / "README.md"), 0600u);
    } else if (change.starts_with("an upgrade")) {
      EXPECT_EQ(readFile(root / "README.md"), "readme v2, corrected");
    } else {
      EXPECT_EQ(sync.settled(), sync.cleanV2) << change;
    }
  }
}

// A flush reaches what the last presses copied and nothing more: the runtime's file system whole where one call
// reaches its disk, each file by itself where it does not (a stacked file system) or where the file lies on
// another file system; the record is marked only if it is still the one whose files were flushed.
TEST(SyncEmbeddedRuntime, AFlushMarksOnlyWhatReachedTheDisk) {
  const std::set<std::string> python = {"python/bin/python3", "python/bin/python3.11",
                                        "python/lib/sample-1.0.dist-info/METADATA", "python/lib/sample/__init__.py",
                                        "python/lib/site.py"};
  struct Row {
    const char* where;
    std::set<std::string> byThemselves;  // "*": every file that the press copied
    bool marked = true;
  };
  const Row rows[] = {
      {"a disk's file system", {}},
      {"a stacked file system", {"*"}},
      {"python on a file system of its own", python},
      {"the record rewritten meanwhile", {}, false},
  };
  for (const Row& row : rows) {
    SyncWorld sync;
    const platform::Path root = sync.world.root, record = root / runtime::kSyncRecordName;
    const std::string where = row.where;
    sync.faulty.stacked = where == "a stacked file system";
    if (where == "python on a file system of its own") sync.faulty.otherMount = root / "python";
    ASSERT_TRUE(sync.sync(sync.v2).ok());
    std::string rewritten;
    if (!row.marked) {
      sync.faulty.before = [&](Operation, auto&) {
        rewritten = readFile(record) + "";
        std::optional<runtime::SyncRecord> fewer = runtime::decodeSyncRecord(rewritten);
        fewer->files.pop_back();
        writeFile(record, rewritten = runtime::encodeSyncRecord(*fewer));
      };
    }
    ASSERT_TRUE(runtime::flushRuntime(sync.faulty, root).ok()) << where;
    std::set<std::string> flushed;
    for (const platform::Path& file : sync.faulty.flushedByThemselves) flushed.insert(file.lexically_relative(root));
    const std::optional<runtime::SyncRecord> after = runtime::decodeSyncRecord(readFile(record));
    ASSERT_TRUE(after) << where;
    if (row.byThemselves == std::set<std::string>{"*"}) {
      EXPECT_EQ(flushed.size(), after->files.size()) << where;
    } else {
      EXPECT_EQ(flushed, row.byThemselves) << where;
    }
    if (!row.marked) {
      EXPECT_EQ(readFile(record), rewritten) << where;
      continue;
    }
    for (const runtime::RecordedFile& file : after->files) EXPECT_TRUE(file.onDisk) << where << " " << file.path;
    // The next flush reaches only what was copied since.
    sync.faulty.flushedByThemselves.clear();
    std::filesystem::remove(root / "python/lib/site.py");
    ASSERT_TRUE(sync.sync(sync.v2).ok());
    ASSERT_TRUE(runtime::flushRuntime(sync.faulty, root).ok());
    EXPECT_EQ(sync.faulty.flushedByThemselves.size(), where == "a disk's file system" ? 0u : 1u) << where;
  }
}

// A program started from the runtime keeps writing into it while the user presses again and again: it
// byte-compiles (a temporary file renamed over its target), makes and removes scratch files, turns a name from a
// file into a folder and back, and writes through a folder it holds open. Every press succeeds, with every file
// of the bundle in place. On the bundle's side, a name that vanishes mid-press fails the press with the system's
// words and leaves the runtime as it was.
TEST(SyncEmbeddedRuntime, AProgramWritingIntoTheRuntimeNeverBreaksAPress) {
  SyncWorld sync;
  platform::Path root = sync.world.root;
  const platform::Path cache = root / "python/lib/__pycache__";
  std::filesystem::create_directories(cache);
  int heldOpen = ::open(cache.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(heldOpen, 0);
  std::optional<testing_support::Busy> writer(std::in_place, [&](int i) {
    std::error_code ignored;
    const std::string temporary = "site.cpython-311.pyc." + std::to_string(i);
    std::filesystem::create_directories(cache, ignored);
    touch(cache / temporary);
    std::filesystem::rename(cache / temporary, cache / "site.cpython-311.pyc", ignored);
    touch(root / "python" / ("scratch-" + std::to_string(i)));
    std::filesystem::remove(root / "python" / ("scratch-" + std::to_string(i)), ignored);
    const platform::Path flip = root / "python/lib/flip";
    std::filesystem::remove_all(flip, ignored);
    i % 2 ? (void)std::filesystem::create_directory(flip, ignored) : touch(flip);
    int held = ::openat(heldOpen, ("held-" + std::to_string(i % 8)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (held >= 0) ::close(held);
  });
  std::vector<platform::Path> payload;  // every file, link and folder of the bundle's seven entries
  for (const char* part : {"common", "macos-arm64"}) {
    const platform::Path from = sync.world.resources / "runtime" / part;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(from)) {
      if (entry.path().filename() != "not-in-plan.txt") payload.push_back(entry.path().lexically_relative(from));
    }
  }
  for (int press = 0; press < 50; ++press) {
    auto status = sync.sync(press % 2 ? sync.world.context : sync.v2);
    ASSERT_TRUE(status.ok()) << status.error().localizedDescription();
    EXPECT_EQ(sync.versions(), press % 2 ? "v1 v1 v1 v1 v1 v1 v1 " : "v2 v2 v2 v2 v2 v2 v2 ");
    for (const platform::Path& path : payload) {
      EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(root / path))) << path << " " << press;
    }
    runtime::removeLeftovers(sync.world.fileSystem, root);  // may leave the held-open folder behind
  }
  writer.reset();
  ::close(heldOpen);
  ASSERT_TRUE(sync.sync(sync.v2).ok());
  std::filesystem::remove_all(cache);
  EXPECT_EQ(sync.settled(), sync.cleanV2);

  // A name of the app that vanishes between its folder's listing and the look at it fails the press before
  // anything changes: the app is never read as a busy tree.
  sync.faulty.vanishing = sync.world.dir / "v2/runtime/macos-arm64/python/lib/site.py";
  const std::map<std::string, std::string> whole = scanned(root, true);
  auto vanished = sync.sync(sync.v2);
  ASSERT_FALSE(vanished.ok());
  EXPECT_NE(vanished.error().localizedDescription().find(sync.faulty.vanishing.string() + "”的属性"),
            std::string::npos);
  EXPECT_EQ(scanned(root, true), whole);
  sync.faulty.vanishing.clear();

  // The bundle being replaced: a name in it comes and goes while presses run. A press that meets it before it
  // has changed anything fails with the system's words; one that meets it while copying leaves each entry as it
  // was, since every piece is copied before any goes in.
  ASSERT_TRUE(sync.sync(sync.v2).ok());
  const platform::Path churn = sync.world.dir / "v2/runtime/macos-arm64/python/lib";
  testing_support::Busy replacer([&](int i) {
    std::error_code ignored;
    touch(churn / ("new-" + std::to_string(i % 64)));
    std::filesystem::remove(churn / ("new-" + std::to_string((i + 32) % 64)), ignored);
  });
  for (int press = 0; press < 50; ++press) {
    const std::map<std::string, std::string> before = scanned(root, true);
    auto status = sync.sync(sync.v2);
    if (status.ok()) continue;
    EXPECT_EQ(status.error().code(), ENOENT) << status.error().localizedDescription();
    EXPECT_NE(status.error().localizedDescription().find("无法读取“" + churn.string() + "/new-"), std::string::npos)
        << status.error().localizedDescription();
    EXPECT_EQ(scanned(root, true), before) << press;
  }
}

// Whichever step fails (the copy or the swap of any piece, or a real failure inside a tree: a pipe, which is
// never copied), the entries before it are fresh, those after it old, every file whole, nothing is repaired,
// and the next press heals everything.
TEST(SyncEmbeddedRuntime, AFailingStepLeavesEveryEntryWholeAndTheNextPressHeals) {
  // A new version changes every file, so each entry is one piece, copied and swapped in whole.
  struct Failure {
    Operation operation;  // injected at its `call`th call, unless a pipe is put at `pipe` in the payload
    int call;
    const char* pipe;
    int position;                  // of the entry in hand, in the plan's order
    bool withoutExchange = false;  // each swap takes two renames then
  };
  std::vector<Failure> failures = {{Operation::copy, 0, "common/scripts/a-pipe", 3},
                                   {Operation::copy, 0, "macos-arm64/python/lib/pipe", 5},
                                   {Operation::copy, 0, "macos-arm64/wheelhouse/z-pipe", 6}};
  for (int call = 1; call <= 7; ++call) {
    failures.push_back({Operation::copy, call, nullptr, call});
    failures.push_back({Operation::rename, call, nullptr, call});
    for (int twice : {2 * call - 1, 2 * call}) failures.push_back({Operation::rename, twice, nullptr, call, true});
  }
  for (const Failure& failure : failures) {
    SyncWorld sync;
    const platform::Path pipe = sync.world.dir / "v2/runtime" / (failure.pipe ? failure.pipe : "");
    sync.faulty.countAnew();
    sync.faulty.withoutExchange = failure.withoutExchange;
    if (failure.pipe) {
      ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    } else {
      sync.faulty.failAt(failure.operation, failure.call);
    }
    auto status = sync.sync(sync.v2);
    ASSERT_FALSE(status.ok());
    const std::string where = failure.pipe ? failure.pipe : "injected fault";  // the cause, passed on unchanged
    const std::string row = where + " " + std::to_string(failure.call);
    EXPECT_NE(status.error().localizedDescription().find(where), std::string::npos) << row;
    const std::string versions = sync.versions();
    for (int i = 1; i <= 7; ++i) {
      const std::string seen = versions.substr(3 * (i - 1), 3);
      if (i != failure.position || failure.operation == Operation::copy) {  // a copy fails before any swap
        EXPECT_EQ(seen, i < failure.position ? "v2 " : "v1 ") << row << " entry " << i;
      }
      EXPECT_NE(seen, "abs") << row;
    }
    EXPECT_EQ(sync.faulty.calls(Operation::setPermissions), 0) << "no repair after a failed step";
    sync.faulty.heal();
    if (failure.pipe) std::filesystem::remove(pipe);
    ASSERT_TRUE(sync.sync(sync.v2).ok());
    EXPECT_EQ(sync.settled(), sync.cleanV2) << row;
  }
}

// A new version on a disk that cannot hold two copies of the runtime goes in piece by piece, each old piece
// freed as its new one lands, as removing first would have allowed; a version too big for the disk fails with
// the system's own words and leaves every file whole.
TEST(SyncEmbeddedRuntime, ANewVersionNeedsRoomOnlyForWhatItReplaces) {
  TempDir dir;
  const platform::Path disk = dir / "disk";
  Mount mount("-t tmpfs -o size=12m tmpfs", disk);
  if (!mount.mounted) GTEST_SKIP() << "needs root to mount a small file system";
  testing_support::FaultyFileSystem fs;
  auto version = [&](char mark, size_t megabytes) {
    const platform::Path resources = dir / std::string(1, mark);
    testing_support::writePayloads(resources, std::string("v") + mark);
    for (int i = 0; i < 4; ++i)
      writeFile(resources / "runtime/macos-arm64/python/lib" / ("lib" + std::to_string(i) + ".so"),
                std::string(megabytes << 20, mark));
    return runtime::RuntimeContext{fs, resources, disk};
  };
  const platform::Path root = disk / "runtime";
  ASSERT_TRUE(runtime::syncEmbeddedRuntime(version('1', 2), root, "macos-arm64").ok());
  auto replaced = runtime::syncEmbeddedRuntime(version('2', 2), root, "macos-arm64");
  ASSERT_TRUE(replaced.ok()) << replaced.error().localizedDescription();
  EXPECT_EQ(readFile(root / "python/lib/lib3.so"), std::string(2 << 20, '2'));
  auto tooBig = runtime::syncEmbeddedRuntime(version('3', 3), root, "macos-arm64");
  ASSERT_FALSE(tooBig.ok());
  EXPECT_NE(tooBig.error().localizedDescription().find("磁盘空间不足"), std::string::npos)
      << tooBig.error().localizedDescription();
  for (int i = 0; i < 4; ++i) {
    const std::string lib = readFile(root / "python/lib" / ("lib" + std::to_string(i) + ".so"));
    EXPECT_TRUE(lib == std::string(2 << 20, '2') || lib == std::string(3 << 20, '3')) << i;
  }
}

// A drive that the user mounted or bound inside the runtime is not the launcher's: where the app has nothing at its
// place it stays whole, every press green and the log naming it, with nothing set aside for good; where the app
// needs its place, the press fails naming it and touches nothing. A mount left inside an earlier launcher's
// leftovers is never emptied.
TEST(SyncEmbeddedRuntime, ADriveMountedInsideTheRuntimeIsLeftWhole) {
  struct Row {
    const char* mountedAt;  // below the runtime root
    bool bind;              // a folder of the same file system bound there, else a tmpfs of its own
    const char* refusal;    // the failure, when the app needs the place
  };
  const Row rows[] = {
      {"python/models", false, nullptr},
      {"python/extra/deeper/models", true, nullptr},
      {"wheelhouse", false, "wheelhouse"},
      {"python/lib/models", false, "python/lib/models"},  // in the way once the app's folder changes mode
  };
  for (const Row& row : rows) {
    SyncWorld sync;
    const platform::Path root = sync.world.root, at = root / row.mountedAt;
    writeFile(sync.world.dir / "models/big.safetensors", "the user's model");
    Mount mount(row.bind ? "--bind '" + (sync.world.dir / "models").string() + "'" : "-t tmpfs tmpfs", at);
    if (!mount.mounted) GTEST_SKIP() << "needs root to mount";
    if (!row.bind) writeFile(at / "big.safetensors", "the user's model");
    writeFile(root / "python/extra/other.txt", "not the app's");
    if (std::string(row.mountedAt) == "python/lib/models") ::chmod((root / "python/lib").c_str(), 0700);
    // A leftover of an earlier launcher that moved a drive aside with its folder.
    const platform::Path leftover = root / ".replaced-1-1/models";
    Mount old("-t tmpfs tmpfs", leftover);
    writeFile(leftover / "kept.txt", "the user's");
    for (char name = 'a'; name < 'i'; ++name) writeFile(leftover.parent_path() / std::string(1, name), "set aside");
    for (int press = 0; press < 2; ++press) {
      platform::Result<runtime::SyncReport> report = sync.sync(sync.v2);
      EXPECT_EQ(readFile(at / "big.safetensors"), "the user's model") << row.mountedAt;
      EXPECT_EQ(readFile(leftover / "kept.txt"), "the user's");
      if (row.refusal) {
        ASSERT_FALSE(report.ok()) << row.mountedAt;
        EXPECT_NE(report.error().localizedDescription().find((root / row.refusal).string() + "”处挂载着另一个文件系统"),
                  std::string::npos)
            << report.error().localizedDescription();
        continue;
      }
      ASSERT_TRUE(report.ok()) << row.mountedAt << ": " << report.error().localizedDescription();
      EXPECT_EQ(report.value().mountsLeft, std::vector<std::string>{row.mountedAt});
      flow::PressRecord record;
      record.sync = report.value();
      EXPECT_NE(flow::formatPressRecord(record).find(std::string(", a drive mounted at ") + row.mountedAt),
                std::string::npos);
      EXPECT_FALSE(std::filesystem::exists(root / "python/extra/other.txt"));
      EXPECT_EQ(runtime::removeLeftovers(sync.faulty, root), 1) << "only the earlier launcher's, held by its drive";
      const auto left = std::filesystem::directory_iterator(leftover.parent_path());  // all but the drive went
      EXPECT_EQ(std::distance(begin(left), end(left)), 1);
      EXPECT_EQ(sync.versions(), "v2 v2 v2 v2 v2 v2 v2 ");
    }
  }
}

}  // namespace
