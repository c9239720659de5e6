// Renders the launcher's window to PNG files in its idle state, its busy state and each colour state.
// Usage: launcher_snapshots <folder>
#include <QApplication>
#include <QTest>

#include <iostream>

#include "ui/launcher_world.h"

namespace {

bool save(testing_support::LauncherWorld& world, const platform::Path& folder, const std::string& name) {
  QTest::qWait(150);  // let layout and the spinner settle
  QPixmap shot = world.window()->grab();
  bool saved = shot.save(QString::fromStdString((folder / (name + ".png")).string()), "PNG");
  std::cout << (saved ? "wrote " : "could not write ") << (folder / (name + ".png")).string() << "\n";
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: launcher_snapshots <folder>\n";
    return 2;
  }
  QApplication application(argc, argv);
  platform::Path folder = std::filesystem::absolute(argv[1]);
  std::filesystem::create_directories(folder);
  bool ok = true;

  {
    testing_support::LauncherWorld world;
    world.launch();
    ok &= save(world, folder, "idle");
    platform::Path release = world.files.dir / "release";
    world.setBackendScript("while [ ! -e '" + release.string() + "' ]; do sleep 0.02; done\ncat '" +
                           (world.files.dir / "result.json").string() + "'");
    QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
    ok &= save(world, folder, "busy");
    testing_support::writeFile(release, "");
    world.waitUntilIdle();
  }
  struct State {
    const char* name;
    bool ok;
    const char* code;
    const char* status;
    const char* detail;
    bool showInstall;
    bool enableLaunch;
  };
  const State states[] = {
      {"ready-green", true, "ready", "环境正常，可以启动", "", false, true},
      {"installed-blue", true, "installed", "环境安装完成", "", false, true},
      {"needs-install-orange", false, "not_installed", "尚未安装运行环境",
       "首次使用需要安装依赖（约 2 分钟，无需联网）。\n点击“一键安装环境”开始。", true, false},
      {"failed-red", false, "error", "检测失败", "ffmpeg 无法运行：权限不够", false, false},
      {"everything-at-once", false, "not_installed",
       "尚未安装运行环境，这是一条很长很长的状态文字，用来看两行的状态栏在窗口里是什么样子，会不会挤掉别的内容",
       "第一行详情：这里是很长的说明文字，会自动换行，直到第三行为止，再多的文字就不再显示了。\n第二行详情\n第三行详情"
       "\n第四行不显示",
       true, true},
  };
  for (const State& state : states) {
    testing_support::LauncherWorld world;
    world.setBackendResult(state.ok, state.code, state.status, state.detail, state.showInstall, state.enableLaunch);
    world.launch();
    world.clickAndWait("checkButton");
    ok &= save(world, folder, state.name);
  }
  return ok ? 0 : 1;
}
