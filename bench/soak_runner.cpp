#include "soak_runner.h"

#include <dirent.h>

#include <QLabel>
#include <QTest>

#include <fstream>

#include "support/temp_dir.h"
#include "ui/launcher_world.h"

namespace testing_support {

namespace {
int countEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder)) {
    while (dirent* entry = ::readdir(dir)) count += entry->d_name[0] != '.';
    ::closedir(dir);
  }
  return count;
}
}  // namespace

int openDescriptorCount() { return countEntries("/proc/self/fd") - 1; }  // less the one that opendir holds
int threadCount() { return countEntries("/proc/self/task"); }

long residentKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

SoakFigures runSoak(int runs) {
  // The world's interpreter is /bin/sh, so each mode is a small script.
  struct Mode {
    const char* script;
    const char* status;
  };
  const Mode modes[] = {{"cat result.json", "环境正常"},
                        {"printf '{\"ok\": tru'; echo 'half an object' >&2", "启动器执行失败"},
                        {"head -c 2097152 /dev/zero | tr '\\0' y; head -c 2097152 /dev/zero >&2", "启动器执行失败"},
                        {"cat result.json; echo warning >&2; exit 1", "环境正常"},
                        {"printf 'partial output'; kill -9 $$", "启动器执行失败"}};
  LauncherWorld world;
  world.launch();
  std::vector<std::string> scripts;
  std::string result = "'";
  result.append((world.files.dir / "result.json").string()).append("'");
  for (const Mode& mode : modes) {
    std::string script = mode.script;
    if (size_t at = script.find("result.json"); at != std::string::npos) script.replace(at, 11, result);
    scripts.push_back(script);
  }

  SoakFigures figures;
  auto press = [&](int i) {
    const Mode& mode = modes[i % 5];
    world.setBackendScript(scripts[static_cast<size_t>(i % 5)]);
    if (!world.clickAndWait("checkButton") || world.label("statusLabel")->text() != QString::fromUtf8(mode.status)) {
      if (figures.unexpected++ == 0) {
        figures.firstUnexpected = std::string(mode.script) + ": " + world.label("statusLabel")->text().toStdString();
      }
    }
  };
  for (int i = 0; i < 10; ++i) press(i);  // warm up whatever the first runs allocate once
  QTest::qWait(100);
  figures.descriptorsBefore = openDescriptorCount();
  figures.threadsBefore = threadCount();
  figures.residentKbBefore = residentKb();
  for (int i = 0; i < runs; ++i) press(i);
  figures.runs = runs;
  // The background threads end right after they hand their outcome back; give the last one time to go.
  (void)QTest::qWaitFor([&] { return threadCount() <= figures.threadsBefore; }, 5000);
  figures.descriptorsAfter = openDescriptorCount();
  figures.threadsAfter = threadCount();
  figures.residentKbAfter = residentKb();
  return figures;
}

}  // namespace testing_support
