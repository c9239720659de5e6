#include "soak_runner.h"

#include <QLabel>
#include <QTest>

#include <fstream>

#include "support/temp_dir.h"
#include "ui/launcher_world.h"

namespace testing_support {

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
  struct Mode {
    const char* name;
    const char* status;
  };
  const Mode modes[] = {{"valid", "环境正常"},
                        {"garbage", "启动器执行失败"},
                        {"two-megabytes", "启动器执行失败"},
                        {"valid-exit1", "环境正常"},
                        {"signal", "启动器执行失败"}};
  LauncherWorld world;
  for (const char* target : {"macos-arm64", "macos-x86_64"}) {
    platform::Path interpreter = world.files.resources / "runtime" / target / "python/bin/python3.11";
    std::filesystem::remove(interpreter);
    std::filesystem::create_symlink(FAKE_BACKEND, interpreter);
  }
  world.launch();

  SoakFigures figures;
  auto press = [&](int i) {
    const Mode& mode = modes[i % 5];
    world.setBackendScript(mode.name);
    if (!world.clickAndWait("checkButton") || world.label("statusLabel")->text() != QString::fromUtf8(mode.status)) {
      if (figures.unexpected++ == 0) {
        figures.firstUnexpected = std::string(mode.name) + ": " + world.label("statusLabel")->text().toStdString();
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
