// What a press costs at a real suite's size, timed as the user meets it: from the click on 检测环境 in the real
// window to the start of the backend script, with the window's thread watched by a 10 ms timer meanwhile, against
// `rm -rf` + `cp -a` of the same seven entries on the same file system in the same round.
//
// Usage: press_bench [megabytes] [files] [rounds] [pending] [unchanged]   (default: 479 MiB in 4,042 files, 5
// rounds, 0)
// `pending`: MiB of another program's data that it has written but the system has not yet (a render, a
// download), put in place on the same file system just before each press. `unchanged`: each round times only
// the unchanged press and the two walks (quick rounds, to study what an unchanged press costs), with the pages
// that each press touched for the first time.
// Works in the system's temporary folder (TMPDIR); bench/press_bench_ext4 runs it on a fresh, loop-mounted ext4
// image. Each round times four things in turn:
//   - the baseline: rm -rf + cp -a of the seven entries into a folder of their own;
//   - a press on an unchanged runtime;
//   - a press after one file of python/ changed (same size, new content);
//   - a press after a new version: the bundle's runtime folder replaced by one in which every file's content
//     differs (the same tree), as an update in place leaves it; read once beforehand, so that it is as warm in
//     memory as the bundle that the baseline copies;
//   - a press after an upgrade that replaces every file of the app, 1 % of them with new content (a package
//     manager's, or a new app dragged over the old one), with its new manifest;
//   - a press on an unchanged runtime whose bundle has no manifest (trusted by identity at the same place).
// Every bundle carries the manifest that tools/payload-manifest writes; the time that takes is printed once.
// And once a round, the floor of any press that proves the runtime unchanged from metadata: two `find` walks
// that look at every entry of the bundle's seven and of the runtime root's seven with lstat, the two trees at
// once (as the sync walks them on two threads), without the launcher.
// Prints each round, the medians of the in-round ratios with the longest gap of the timer in each kind of press,
// and the fastest of each kind against the fastest baseline.
#include <QApplication>
#include <QTest>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>

#include "platform/system/process.h"
#include "runtime/payload_manifest.h"
#include "ui/launcher_world.h"

namespace {

using platform::Path;
namespace fs = std::filesystem;

// Writes `size` bytes that depend on `seed` and `mark`, fast: a random block, rotated per file.
void writeContent(const Path& path, size_t size, unsigned seed, char mark) {
  static const std::string block = [] {
    std::mt19937 random(7);
    std::string bytes(1 << 16, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
  }();
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string head(1, mark);  // appended: GCC 12 at -O3 warns falsely on a + chain
  head += std::to_string(seed);
  out.write(head.data(), static_cast<std::streamsize>(std::min(head.size(), size)));
  for (size_t done = std::min(head.size(), size), at = seed % block.size(); done < size;) {
    size_t n = std::min(size - done, block.size() - at);
    out.write(block.data() + at, static_cast<std::streamsize>(n));
    done += n;
    at = 0;
  }
}

// A payload shaped like a suite's runtime: tens of thousands of small modules in a site-packages tree, a few
// very large native libraries (torch's CPU library alone is about 430 MB), wheels, media tools and a web front
// end. The same tree for every `mark`, with other contents. Returns the number of files.
size_t writePayload(const Path& runtime, size_t megabytes, size_t files, char mark) {
  std::mt19937 random(11);
  const Path common = runtime / "common", arm = runtime / "macos-arm64";
  const size_t budget = megabytes << 20;
  size_t used = 0, written = 0;
  auto put = [&](const Path& path, size_t size) {
    writeContent(path, size, static_cast<unsigned>(written++), mark);
    used += size;
  };
  const size_t web = std::max<size_t>(files / 100, 10);
  for (size_t i = 0; i < web; ++i) put(common / "web_lite3/assets" / ("chunk" + std::to_string(i) + ".js"), 20000);
  put(arm / "ffmpeg/bin/ffmpeg", budget / 20);
  // Small modules: most of a few KiB, some tens, a few hundreds.
  const size_t modules = files > web + 40 ? files - web - 40 : 0;
  const size_t packages = std::max<size_t>(1, modules / 96);  // eight folders each: about a dozen files a folder
  for (size_t i = 0; i < modules; ++i) {
    const unsigned roll = random() % 100;
    const size_t size = roll < 75   ? 1000 + random() % 7000
                        : roll < 97 ? 8000 + random() % 40000
                                    : 48000 + random() % 200000;
    put(arm / "python/lib/python3.11/site-packages" / ("pkg" + std::to_string(i % packages)) /
            ("sub" + std::to_string(i / packages % 8)) / ("module" + std::to_string(i) + ".py"),
        size);
  }
  // The rest: three parts native libraries, one part wheels.
  const size_t rest = budget > used ? budget - used : 0;
  for (int i = 0; i < 30; ++i) {
    const size_t size = i == 0 ? rest * 3 / 4 * 2 / 5 : rest * 3 / 4 * 3 / 5 / 29;  // one very large library
    put(arm / "python/lib/python3.11/site-packages/torch/lib" / ("libpart" + std::to_string(i) + ".so"), size);
  }
  for (int i = 0; i < 10; ++i) put(arm / "wheelhouse" / ("wheel" + std::to_string(i) + ".whl"), rest / 4 / 10);
  return written;
}

// Reads every file below `folder`, so that the next step finds them in memory.
void readAll(const Path& folder) {
  std::vector<char> buffer(1 << 20);
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
  }
}

// Writes to `bytes` of fresh memory, one byte a page, and gives it back. A virtual machine that hands the
// memory its guest leaves free back to the host (free page reporting, as this one does) makes the first write to
// such a page cost a fault in the host, about ten times the copy of the page; memory freed a moment ago has not
// gone back yet. A copy needs fresh pages for what it writes: `rm -rf` + `cp -a` gets the ones its removal has
// just freed, a sync that keeps the old runtime until the new one is in place gets others. Touched before each
// timed step, the free memory is equally at hand for both, as it is on a machine that is not a guest.
// Never more than half of what is free, so that nothing cached is pushed out.
void touchFreeMemory(size_t bytes) {
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  bytes = std::min(bytes, static_cast<size_t>(::sysconf(_SC_AVPHYS_PAGES)) * page / 2);
  void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  for (size_t at = 0; at < bytes; at += page) static_cast<volatile char*>(memory)[at] = 1;
  ::munmap(memory, bytes);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double nowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::stoul(argv[1]) : 479;
  const size_t files = argc > 2 ? std::stoul(argv[2]) : 4042;
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 5;
  const size_t pending = argc > 4 ? std::stoul(argv[4]) : 0;
  const bool unchangedOnly = argc > 5 && std::string_view(argv[5]) == "unchanged";
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  testing_support::LauncherWorld world;
  const Path runtime = world.files.resources / "runtime", next = world.files.resources / "runtime-next";
  const Path started = world.files.dir / "started";
  // The backend notes when it starts (in microseconds of the system clock), then prints a result.
  world.setBackendScript("echo $(($(date +%s%N) / 1000)) > '" + started.string() + "'\ncat '" +
                         (world.files.dir / "result.json").string() + "'");
  fs::copy(runtime, next, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  size_t count = writePayload(runtime, megabytes, files, 'a');
  writePayload(next, megabytes, files, 'b');
  for (const auto& entry : fs::recursive_directory_iterator(next)) {  // every other file differs too
    if (entry.is_regular_file() && !entry.is_symlink()) std::ofstream(entry.path(), std::ios::app) << "#";
  }
  // The manifests, as the build writes them: the bundle's and the new version's (kept beside it, swapped in with it).
  const Path manifest = world.files.resources / runtime::kPayloadManifestName, nextManifest = world.files.dir / "next";
  auto writeManifest = [&](const Path& resources) {
    const auto start = std::chrono::steady_clock::now();
    auto ran = platform::runProcess("/usr/bin/python3", {LAUNCHER_MANIFEST_TOOL, resources.string()});
    if (!ran || ran.value().exitStatus != 0) std::exit(1);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  fs::create_directories(nextManifest);
  fs::rename(next, nextManifest / "runtime");
  writeManifest(nextManifest);
  fs::rename(nextManifest / "runtime", next);
  const double manifestMs = writeManifest(world.files.resources);
  std::printf("the manifest of one payload (%zu files of the bundle's three payloads): %.0f ms to write\n", count,
              manifestMs);
  std::printf("payload: %zu MiB in %zu files (and the launcher's own few), in %s\n", megabytes, count,
              world.files.dir.path().c_str());
  const Path log = world.files.dir / "launcher.log";
  world.environment.logFile = log;
  world.launch();

  const Path baseline = world.files.dir / "cp";
  std::string script = "set -e; mkdir -p '" + baseline.string() + "'; cd '" + baseline.string() + "'; ";
  // The floor: the bundle's seven entries walked by one find, the runtime root's by another, at once.
  std::string bundleEntries, rootEntries;
  for (const auto& entry : runtime::kCopyPlan) {
    const std::string source = (runtime / (entry.fromCommonPayload ? "common" : "macos-arm64") / entry.name).string();
    script.append("rm -rf ").append(entry.name).append("; cp -a '").append(source).append("' .; ");
    bundleEntries.append(" '").append(source).append("'");
    rootEntries.append(" '").append((world.files.root / entry.name).string()).append("'");
  }
  const std::string printed = " -printf '%i %s %T@ %C@\\n' >/dev/null";
  std::string walks = "find";  // appended: GCC 12 at -O3 warns falsely on a + chain
  walks.append(bundleEntries).append(printed).append(" & find").append(rootEntries).append(printed).append("; wait");

  // Each timed step starts from a quiet disk: what the step before wrote is flushed, and the file system's own
  // work after a large removal (journal, freed blocks) has a moment to finish; then the free memory is touched.
  auto settle = [&] {
    // The last press's flush and cleanup end first (a press at once after a new version waits for them, with
    // "正在将运行环境写入磁盘…" showing; the bench times each kind of press on its own).
    world.environment.afterPress->wait();
    ::sync();
    QTest::qWait(1000);
    touchFreeMemory((megabytes * 2 + 512) << 20);
  };
  // The window's longest stall while it handles one press, the time from the click to the result (which includes
  // waiting for the disk, when the script ends before what the press copied is flushed), and the time from the
  // click to the script.
  const Path render = world.files.dir / "render.tmp";
  long faults = 0;  // the pages that the last press touched for the first time
  auto press = [&](double& gapMs, double& doneMs) {
    fs::remove(started);
    settle();
    if (pending > 0) {
      fs::remove(render);  // its data, never written out, goes with it
      writeContent(render, pending << 20, 3, 'r');
    }
    testing_support::StallWatch stalls;
    struct rusage before;
    ::getrusage(RUSAGE_SELF, &before);
    const double click = nowMs();
    QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
    if (!world.waitUntilIdle(1800000) || !world.state().startsWith(QStringLiteral("环境正常"))) {
      std::fprintf(stderr, "press failed: %s\n", qPrintable(world.state()));
      std::exit(1);
    }
    doneMs = nowMs() - click;
    struct rusage after;
    ::getrusage(RUSAGE_SELF, &after);
    faults = after.ru_minflt - before.ru_minflt;
    gapMs = static_cast<double>(stalls.longestMs());
    return std::stod(testing_support::readFile(started)) / 1000 - click;
  };
  auto timeScript = [&](const std::string& body) {
    settle();
    const double start = nowMs();
    auto ran = platform::runProcess("/bin/sh", {"-c", body});
    if (!ran || ran.value().exitStatus != 0) std::exit(1);
    return nowMs() - start;
  };

  double gap = 0, done = 0;
  const double first = press(gap, done);  // copies everything
  std::printf("first press: %.0f ms from the click to the script, %.0f ms to the result\n", first, done);
  const char* names[] = {"unchanged",
                         "one file of python/ changed",
                         "new version",
                         "two find walks alone",
                         "upgrade, 1 % of files changed",
                         "unchanged, no manifest"};
  constexpr int kinds = 6;
  std::vector<double> ratios[kinds], gaps[kinds], times[kinds], baselines, results[kinds];
  std::printf(
      "%6s %12s %12s %12s %12s %12s %12s %12s   (ms from the click to the script's start; the window's longest "
      "gap)\n",
      "round", "rm+cp -a", names[0], "one changed", "new version", "find walks", "upgrade 1 %", "no manifest");
  const Path upgrade = world.files.dir / "upgrade";
  const Path changed = runtime / "macos-arm64/python/lib/python3.11/site-packages/pkg1/sub0/module1.py";
  for (int round = 0; round < rounds; ++round) {
    const double base = unchangedOnly ? 0 : timeScript(script);
    if (!unchangedOnly) baselines.push_back(base);
    double ms[kinds];
    ms[0] = press(gap, done), gaps[0].push_back(gap), results[0].push_back(done);
    ms[3] = timeScript(walks);
    if (unchangedOnly) {
      // The press's own share: the lock, the runtime's probe and sync and the checks, as the log gives it.
      const std::string text = testing_support::readFile(log);
      const size_t at = text.rfind(" | preflight ") + 13;
      std::printf(
          "%6d unchanged %7.0f ms (in the launcher's checks and sync %.0f ms; %ld pages touched anew), two walks %7.0f "
          "ms\n",
          round + 1, ms[0], std::stod(text.substr(at)) * 1000, faults, ms[3]);
      times[0].push_back(ms[0]), times[3].push_back(ms[3]), ratios[0].push_back(ms[0] / ms[3]);
      continue;
    }
    fs::rename(manifest, world.files.dir / "manifest-aside");
    ms[5] = press(gap, done), gaps[5].push_back(gap), results[5].push_back(done);
    fs::rename(world.files.dir / "manifest-aside", manifest);
    const size_t size = fs::file_size(changed);
    writeContent(changed, size, static_cast<unsigned>(1000 + round), 'c');
    ms[1] = press(gap, done), gaps[1].push_back(gap), results[1].push_back(done);
    // Every file replaced, one in a hundred with new content of the same size, and the manifest written anew.
    fs::create_directories(upgrade);
    timeScript("cp -a '" + runtime.string() + "' '" + (upgrade / "runtime").string() + "'");
    size_t nth = 0;
    for (const auto& entry : fs::recursive_directory_iterator(upgrade / "runtime")) {
      if (!entry.is_regular_file() || entry.is_symlink() || nth++ % 100 != 0) continue;
      writeContent(entry.path(), fs::file_size(entry.path()), static_cast<unsigned>(7000 + nth + round), 'u');
    }
    writeManifest(upgrade);
    fs::rename(runtime, upgrade / "previous");
    fs::rename(upgrade / "runtime", runtime);
    fs::rename(manifest, upgrade / "previous-manifest");
    fs::rename(upgrade / runtime::kPayloadManifestName, manifest);
    readAll(runtime);
    ms[4] = press(gap, done), gaps[4].push_back(gap), results[4].push_back(done);
    fs::remove_all(upgrade);
    // The new version, with its manifest.
    fs::rename(runtime, world.files.resources / "runtime-previous");
    fs::rename(next, runtime);
    fs::rename(world.files.resources / "runtime-previous", next);
    fs::rename(manifest, world.files.dir / "manifest-previous");
    fs::rename(nextManifest / runtime::kPayloadManifestName, manifest);
    fs::rename(world.files.dir / "manifest-previous", nextManifest / runtime::kPayloadManifestName);
    readAll(runtime);  // as warm in memory as the bundle that the baseline copies
    ms[2] = press(gap, done), gaps[2].push_back(gap), results[2].push_back(done);
    for (int k = 0; k < kinds; ++k) times[k].push_back(ms[k]), ratios[k].push_back(ms[k] / base);
    std::printf("%6d %12.0f %7.0f (%3.0f) %7.0f (%3.0f) %7.0f (%3.0f) %12.0f %7.0f (%3.0f) %7.0f (%3.0f)\n", round + 1,
                base, ms[0], gaps[0].back(), ms[1], gaps[1].back(), ms[2], gaps[2].back(), ms[3], ms[4], gaps[4].back(),
                ms[5], gaps[5].back());
  }
  if (unchangedOnly) {
    std::printf("medians: unchanged %.0f ms, two walks %.0f ms, ratio %.3f; fastest %.0f against %.0f\n",
                median(times[0]), median(times[3]), median(ratios[0]),
                *std::min_element(times[0].begin(), times[0].end()),
                *std::min_element(times[3].begin(), times[3].end()));
    return 0;
  }
  std::printf("\nmedians over %d rounds; baseline rm -rf + cp -a: %.0f ms\n", rounds, median(baselines));
  for (int k = 0; k < kinds; ++k) {
    std::printf("%-30s %8.0f ms  ratio %.3f", names[k], median(times[k]), median(ratios[k]));
    if (k != 3) {
      std::printf("  longest gap of the window %3.0f ms (worst %3.0f)", median(gaps[k]),
                  *std::max_element(gaps[k].begin(), gaps[k].end()));
    }
    std::printf("\n");
  }
  for (int k = 0; k < kinds; ++k) {
    if (k == 3) continue;
    std::printf("%s, from the click to the result: %.0f ms (worst %.0f)\n", names[k], median(results[k]),
                *std::max_element(results[k].begin(), results[k].end()));
  }
  if (pending > 0) std::printf("(with %zu MiB of another program's data unwritten at each click)\n", pending);
  // The machine's noise only ever adds time: the fastest of each kind, against the fastest baseline, shows what
  // the work itself costs when nothing else gets in its way.
  const double fastestBaseline = *std::min_element(baselines.begin(), baselines.end());
  std::printf("\nfastest of %d rounds; baseline rm -rf + cp -a: %.0f ms\n", rounds, fastestBaseline);
  for (int k = 0; k < kinds; ++k) {
    const double fastest = *std::min_element(times[k].begin(), times[k].end());
    std::printf("%-30s %8.0f ms  ratio %.3f\n", names[k], fastest, fastest / fastestBaseline);
  }
  return 0;
}
