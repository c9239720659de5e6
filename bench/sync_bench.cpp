// How long one runtime sync holds the window still, against `rm -rf` + `cp -a` of the same seven entries and
// against a plain std::filesystem remove-and-copy, measured in the same run on the same file system.
//
// Usage: sync_bench [folder] [megabytes | bundle resources folder] [keep]   (default: a fresh folder under the
// system's temporary folder, a made-up payload of 200 MiB; a bundle's Resources folder, such as
// build/default/LanqiLauncher.app/Contents/Resources, has its real runtime copied in and used instead; "keep"
// leaves the payload and the copies in place for a profiler)
// Prints each method's median time over 7 rounds and the median of its ratio to `rm -rf` + `cp -a` within a round.
// bench/sync_bench_ext4 runs it on a freshly made, loop-mounted ext4 image (journaled, as a user's disk is).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <vector>

#include "platform/fs.h"
#include "platform/process.h"
#include "runtime/runtime_layout.h"
#include "runtime/runtime_sync.h"

namespace {

using platform::Path;
namespace fs = std::filesystem;

void writeBytes(const Path& path, size_t size, std::mt19937& random) {
  fs::create_directories(path.parent_path());
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>('a' + random() % 26);
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

// A payload shaped like a Python runtime: many small modules, some bytecode, a few large libraries and wheels.
size_t makePayload(const Path& resources, size_t megabytes) {
  std::mt19937 random(7);
  const Path common = resources / "runtime/common";
  const Path arm = resources / "runtime/macos-arm64";
  writeBytes(common / "README.md", 2000, random);
  writeBytes(common / "requirements.txt", 300, random);
  writeBytes(common / "scripts/launcher_backend.py", 9000, random);
  size_t files = 3;
  for (int i = 0; i < 60; ++i)
    writeBytes(common / "web_lite3/assets" / ("chunk" + std::to_string(i) + ".js"), 40000, random), ++files;
  size_t budget = megabytes * 1024 * 1024, used = 0;
  for (int i = 0; used < budget * 6 / 10; ++i, ++files) {
    size_t size = 2000 + random() % 148000;
    writeBytes(arm / "python/lib/python3.11" / ("pkg" + std::to_string(i % 120)) / ("mod" + std::to_string(i) + ".py"),
               size, random);
    used += size;
  }
  for (int i = 0; used < budget * 8 / 10; ++i, ++files) {
    size_t size = 2 * 1024 * 1024 + random() % (6 * 1024 * 1024);
    writeBytes(arm / "python/lib" / ("libbig" + std::to_string(i) + ".so"), size, random);
    used += size;
  }
  for (int i = 0; used < budget; ++i, ++files) {
    size_t size = 512 * 1024 + random() % (4 * 1024 * 1024);
    writeBytes(arm / "wheelhouse" / ("wheel" + std::to_string(i) + ".whl"), size, random);
    used += size;
  }
  writeBytes(arm / "python/bin/python3.11", 5 * 1024 * 1024, random);
  fs::create_symlink("python3.11", arm / "python/bin/python3");
  fs::create_symlink("python3.11", arm / "python/bin/python");
  writeBytes(arm / "ffmpeg/bin/ffmpeg", 20 * 1024 * 1024, random);
  return files + 2;
}

// Processor time (user and system) of this process and its finished children, in milliseconds.
double cpuMs() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    struct rusage usage;
    ::getrusage(who, &usage);
    total += usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
             usage.ru_stime.tv_usec / 1e3;
  }
  return total;
}

struct Times {
  double wallMs;
  double cpuMs;
};

Times measure(const std::function<void()>& round) {
  auto start = std::chrono::steady_clock::now();
  double cpuStart = cpuMs();
  round();
  return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
          cpuMs() - cpuStart};
}

constexpr int kRounds = 7;

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::string shellQuote(const Path& path) {
  std::string quoted = "'";
  return quoted.append(path.string()).append("'");
}

}  // namespace

int main(int argc, char** argv) {
  Path base = argc > 1 ? Path(argv[1]) : fs::temp_directory_path() / "launcher-sync-bench";
  const std::string size = argc > 2 ? argv[2] : "200";
  fs::remove_all(base);
  const Path resources = base / "Resources";
  if (fs::is_directory(Path(size) / "runtime")) {
    fs::create_directories(resources);
    fs::copy(Path(size) / "runtime", resources / "runtime",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(resources / "runtime")) files += !entry.is_directory();
    std::printf("payload: the bundle's runtime from %s, %zu files, in %s\n", size.c_str(), files, base.c_str());
  } else {
    size_t files = makePayload(resources, std::stoul(size));
    std::printf("payload: %zu files, %s MiB, in %s\n", files, size.c_str(), base.c_str());
  }

  platform::PosixFileSystem fileSystem;
  runtime::RuntimeContext context{fileSystem, resources, base / "support"};
  const Path ours = base / "ours", plain = base / "plain", cp = base / "cp";
  const char* common[] = {"README.md", "requirements.txt", "scripts", "web_lite3"};
  const char* target[] = {"python", "wheelhouse", "ffmpeg"};

  // Built by appending, piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on long chains of operator+.
  std::string script = "set -e; mkdir -p " + shellQuote(cp) + "; cd " + shellQuote(cp) + "; ";
  auto addEntry = [&](const char* name, const Path& payload) {
    script.append("rm -rf ").append(name).append("; cp -a ").append(shellQuote(payload / name)).append(" .; ");
  };
  for (const char* name : common) addEntry(name, resources / "runtime/common");
  for (const char* name : target) addEntry(name, resources / "runtime/macos-arm64");
  auto plainRound = [&] {
    fs::create_directories(plain);
    for (const char* name : common) {
      fs::remove_all(plain / name);
      fs::copy(resources / "runtime/common" / name, plain / name,
               fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    for (const char* name : target) {
      fs::remove_all(plain / name);
      fs::copy(resources / "runtime/macos-arm64" / name, plain / name,
               fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
  };
  // The launcher's press: the pre-flight sync holds the window; the moved-aside trees are removed afterwards by
  // the run's background work, timed on its own and not part of the ratio.
  std::vector<double> removalMs;
  const std::function<void()> methods[] = {
      [&] {
        (void)platform::runProcess("/bin/sh", {"-c", script});
      },
      plainRound,
      [&] {
        if (!runtime::syncEmbeddedRuntime(context, ours, "macos-arm64").ok()) std::abort();
      },
  };
  auto removeAside = [&] { (void)runtime::removeReplacedEntries(fileSystem, ours); };
  // Every method replaces a complete earlier copy, as every press does. The methods take turns, starting with a
  // different one each round, so that the file system's background writing burdens them alike.
  for (const auto& method : methods) method();
  removeAside();
  std::vector<double> wall[3], cpu[3];
  for (int round = 0; round < kRounds; ++round) {
    for (int k = 0; k < 3; ++k) {
      int which = (round + k) % 3;
      Times times = measure(methods[which]);
      wall[which].push_back(times.wallMs);
      cpu[which].push_back(times.cpuMs);
      if (which == 2) removalMs.push_back(measure(removeAside).wallMs);
    }
  }

  // The machine's speed drifts from round to round; a ratio taken within one round cancels the drift.
  std::vector<double> ratios[3];
  for (int which = 0; which < 3; ++which) {
    for (int round = 0; round < kRounds; ++round) ratios[which].push_back(wall[which][round] / wall[0][round]);
  }
  const char* names[] = {"rm -rf + cp -a (baseline)", "std::filesystem remove_all + copy",
                         "the launcher's pre-flight sync (copy, swap in, repair)"};
  std::printf("%-58s %9s %9s %14s\n", "method (medians of 7 rounds)", "wall ms", "cpu ms", "ratio in round");
  for (int which = 0; which < 3; ++which) {
    std::printf("%-58s %9.1f %9.1f %14.2f\n", names[which], median(wall[which]), median(cpu[which]),
                median(ratios[which]));
  }
  std::printf("%-58s %9.1f\n", "  then, in the run's background work: removal of the old", median(removalMs));
  if (!(argc > 3 && std::string(argv[3]) == "keep")) fs::remove_all(base);
  return 0;
}
