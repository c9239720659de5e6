// The launcher's window, driven as a user drives it: real buttons clicked, real backend scripts run. Each check
// reads the whole window state at once (LauncherWorld::state).
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLibraryInfo>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <atomic>
#include <future>
#include <map>
#include <thread>

#include "runtime/sync_record.h"
#include "ui/launcher_world.h"

using testing_support::LauncherWorld;

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// Where `child` lies inside its window.
QRect rectInWindow(QWidget* child) { return QRect(child->mapTo(child->window(), QPoint(0, 0)), child->size()); }

// The heading, the status line, the buttons and the footer lie whole inside the window and do not overlap.
bool coreRowsWhole(LauncherWorld& world) {
  QRect inside = world.window()->rect(), previous;
  for (const char* name : {"headingLabel", "statusLabel", "checkButton", "websiteLink"}) {
    QRect rect = rectInWindow(world.widget(name));
    if (!inside.contains(rect) || rect.height() < world.widget(name)->minimumSizeHint().height()) return false;
    if (!previous.isNull() && previous.bottom() >= rect.top()) return false;
    previous = rect;
  }
  return rectInWindow(world.widget("websiteLink")->parentWidget()).bottom() == inside.bottom() - 20;
}

// Every label with a text and every button that shows lies whole inside the window, at least a line high, and
// no two overlap: for a window in which no row gives way.
bool everyTextWhole(LauncherWorld& world) {
  QList<QRect> taken;
  for (QWidget* widget : world.window()->findChildren<QWidget*>()) {
    auto* label = qobject_cast<QLabel*>(widget);
    if (!(label ? !label->text().isEmpty() : qobject_cast<QPushButton*>(widget) != nullptr)) continue;
    if (!widget->isVisibleTo(world.window())) continue;
    const QRect rect = rectInWindow(widget);
    if (!world.window()->rect().contains(rect) || rect.height() < widget->fontMetrics().height()) return false;
    for (const QRect& other : taken)
      if (other.intersects(rect)) return false;
    taken << rect;
  }
  return taken.size() >= 10;
}

// How many of `widget`'s drawn pixels inside `band` (all of it when empty) pass `test`, against the colour it
// draws most, its background.
template <class Test>
int drawnPixels(QWidget* widget, QRect band, Test test) {
  const QImage image = widget->grab().toImage();
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
  const QColor background(
      std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first);
  int found = 0;
  band = band.isNull() ? image.rect() : band & image.rect();
  for (int y = band.top(); y <= band.bottom(); ++y)
    for (int x = band.left(); x <= band.right(); ++x) found += test(QColor(image.pixel(x, y)), background);
  return found;
}
bool ink(const QColor& pixel, const QColor& background) {
  return std::abs(pixel.red() - background.red()) + std::abs(pixel.green() - background.green()) +
             std::abs(pixel.blue() - background.blue()) >
         90;
}

}  // namespace

class LauncherWindowTest : public QObject {
  Q_OBJECT

 public slots:
  void opened(const QUrl& url) { openedUrls << url; }

 private:
  QList<QUrl> openedUrls;

 private slots:
  // The window as built, with its accessible controls; each button runs the backend with its own action word.
  void windowAsBuiltWhoseButtonsRunTheirOwnActions() {
    LauncherWorld world;
    const platform::Path actions = world.files.dir / "actions";
    world.setBackendResult(false, "", "需要安装", "", true, true);
    world.setBackendPrelude("echo \"$1\" >> '" + actions.string() + "'");
    world.launch();
    QWidget* window = world.window();
    QCOMPARE(window->windowTitle(), QStringLiteral("岚栖启动器"));
    QCOMPARE(window->size(), QSize(548, 432));
    QCOMPARE(window->minimumSize(), window->maximumSize());  // not resizable
    QCOMPARE(world.label("versionLabel")->text(), QStringLiteral("版本 dev"));
    QCOMPARE(world.label("modelsLabel")->text(), q(app::launcherModelSummary()));
    QCOMPARE(world.state(), QStringLiteral("点击“检测环境”开始 | label | - | check"));
    for (const auto& [name, role] : {std::pair{"checkButton", QAccessible::Button},
                                     {"launchButton", QAccessible::Button},
                                     {"statusLabel", QAccessible::StaticText},
                                     {"activity", QAccessible::ProgressBar}}) {
      QAccessibleInterface* item = QAccessible::queryAccessibleInterface(world.widget(name));
      QVERIFY2(item && item->role() == role && !item->text(QAccessible::Name).isEmpty(), name);
    }
    for (const char* name : {"checkButton", "launchButton", "installButton"}) QVERIFY(world.clickAndWait(name));
    QCOMPARE(testing_support::readFile(actions), std::string("check\nlaunch\ninstall\n"));
  }

  // The bundle's own translation wins over the one installed with Qt: one that answers in Japanese is put where
  // the Chinese one belongs, so that the two can be told apart.
  void theBundleGivesTheIconAndQtsOwnTexts() {
    const QString installed = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto copyText = [](const QString& language, const QString& folder) {
      QTranslator translator;
      return translator.load(QStringLiteral("qtbase_") + language, folder)
                 ? translator.translate("QWidgetTextControl", "&Copy")
                 : QString();
    };
    const QString japanese = copyText(QStringLiteral("ja"), installed);
    const QString chinese = copyText(QStringLiteral("zh_CN"), installed);
    QVERIFY2(!japanese.isEmpty() && !chinese.isEmpty(), "Qt's translations (qt6-translations-l10n) are missing");

    QTemporaryDir carried, bare;
    QVERIFY(QDir(carried.path()).mkpath(QStringLiteral("icons")) &&
            QDir(carried.path()).mkpath(QStringLiteral("translations")));
    QImage mark(16, 16, QImage::Format_ARGB32);
    mark.fill(Qt::blue);
    QVERIFY(mark.save(carried.filePath(QStringLiteral("icons/16.png"))));
    QVERIFY(QFile::copy(installed + QStringLiteral("/qtbase_ja.qm"),
                        carried.filePath(QStringLiteral("translations/qtbase_zh_CN.qm"))));

    platform::ui::adoptBundleResources(carried.path().toStdString(), "studio.example.launcher");
    QCOMPARE(QCoreApplication::translate("QWidgetTextControl", "&Copy"), japanese);
    QCOMPARE(QApplication::windowIcon().availableSizes(), QList<QSize>{QSize(16, 16)});
    QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("studio.example.launcher"));

    platform::ui::adoptBundleResources(bare.path().toStdString(), "studio.example.launcher");
    QCOMPARE(QCoreApplication::translate("QWidgetTextControl", "&Copy"), chinese);
  }

  void preflightFailuresAreRedAndRunNothing() {
    struct Row {
      const char* breakage;
      const char* status;
      const char* detailPattern;
    };
    const Row rows[] = {
        {"payload", "未找到可用运行时", "^应用内未发现匹配当前架构的 runtime payload。$"},
        {"uname", "未找到可用运行时", "^无法识别当前 macOS 架构。$"},
        {"copy", "未找到可用运行时", "wheelhouse”：没有那个文件或目录"},
        {"incomplete", "未找到可用运行时", "^同步后的 runtime 目录不完整。$"},
        {"python", "缺少内置 Python 运行时", "/python/bin/python3\\.11$"},
        {"not-executable", "内置 Python 运行时不可执行",
         "/python/bin/python3\\.11\n发布包权限异常或已损坏，请重新下载最新版。$"},
        {"script", "缺少启动器后端脚本", "/scripts/launcher_backend\\.py$"},
    };
    for (const Row& row : rows) {
      LauncherWorld world;
      world.launch();
      world.setBackendResult(false, "", "需要安装", "", true, true);  // a failure takes install and launch back
      const platform::Path runs = world.files.dir / "runs";
      world.setBackendPrelude("echo run >> '" + runs.string() + "'");
      QVERIFY(world.clickAndWait("checkButton"));
      const std::string breakage = row.breakage;
      platform::Path arm = world.files.resources / "runtime/macos-arm64";
      if (breakage == "payload") std::filesystem::remove_all(arm);
      if (breakage == "uname")
        world.environment.runtime.unameTool = testing_support::writeFakeUname(world.files.dir.path(), "arm64\\n", 1);
      if (breakage == "copy") std::filesystem::remove_all(arm / "wheelhouse");
      if (breakage == "incomplete") {  // a link to nothing: copied as it is, it leaves the runtime incomplete
        std::filesystem::remove_all(arm / "ffmpeg");
        std::filesystem::create_directory_symlink("../elsewhere", arm / "ffmpeg");
      }
      if (breakage == "python") std::filesystem::remove_all(arm / "python/bin");
      if (breakage == "not-executable") {  // a link the repair leaves alone, to a file it does not reach
        std::filesystem::remove(arm / "python/bin/python3.11");
        testing_support::writeFile(arm / "python/lib/real-python", "#!/bin/sh\n", 0644);
        std::filesystem::create_symlink("../lib/real-python", arm / "python/bin/python3.11");
      }
      if (breakage == "script")
        std::filesystem::remove(world.files.resources / "runtime/common/scripts/launcher_backend.py");

      QVERIFY(world.clickAndWait("checkButton"));
      for (const auto& entry : std::filesystem::directory_iterator(world.files.root))  // nothing left set aside
        QVERIFY(!entry.path().filename().string().starts_with(runtime::kReplacedEntryPrefix));
      const QStringList state = world.state().split(" | ");
      QCOMPARE(QStringList({state[0], state[1], state[3]}), QStringList({row.status, "systemRed", "check"}));
      QCOMPARE(testing_support::readFile(runs), std::string("run\n"));  // nothing ran
      QVERIFY2(QRegularExpression(row.detailPattern).match(state[2]).hasMatch(), qPrintable(state[2]));
    }
  }

  // However long the runtime takes to copy, the window keeps answering and counts the copying on its progress
  // line; a press on an unchanged runtime copies nothing.
  void theWindowAnswersWhileTheRuntimeIsCopied() {
    LauncherWorld world;
    world.launch();
    std::atomic<int> copies = 0;
    world.files.fileSystem.before = [&](auto operation, auto&) {
      if (operation != testing_support::FaultyFileSystem::Operation::copy) return;
      ++copies;
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
    QStringList progress;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
      const QString line = world.label("progressLabel")->text();
      if (!line.isEmpty() && (progress.isEmpty() || progress.back() != line)) progress << line;
    });
    testing_support::StallWatch stalls;
    watcher.start(5);
    for (int press = 0; press < 2; ++press) {
      QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
      QCOMPARE(world.state(), QStringLiteral("正在检测环境… | label | - |  | busy"));
      QVERIFY(world.waitUntilIdle());
      QCOMPARE(world.state(), QStringLiteral("环境正常 | systemGreen | - | check launch"));
      QVERIFY2(stalls.longestMs() < testing_support::kHeldMs, qPrintable(QString::number(stalls.longestMs())));
      QCOMPARE(copies, 7);  // the seven entries on the first press, nothing on the second
      stalls.restart();
    }
    // Counted up from 0% as the copying goes on (the last values may pass between two looks); the disk may
    // hold the result up after the script.
    progress.removeAll(QStringLiteral("正在将运行环境写入磁盘…"));
    bool rising = progress.size() >= 3 && progress.front() == QStringLiteral("正在准备运行环境 0%");
    for (qsizetype i = 1; rising && i < progress.size(); ++i) {
      rising = progress[i].startsWith(QStringLiteral("正在准备运行环境 ")) &&
               progress[i].section(' ', 1).chopped(1).toInt() > progress[i - 1].section(' ', 1).chopped(1).toInt();
    }
    QVERIFY2(rising, qPrintable(progress.join(", ")));
  }

  void resultsAreShownByTheColourTable() {
    struct Row {
      bool ok;
      const char* code;
      bool showInstall, enableLaunch;
      const char* detail;
      const char* state;
    };
    const Row rows[] = {
        {true, "installed", false, true, "hidden on success", "状态\n | systemBlue | - | check launch"},
        {true, "INSTALLED", false, true, "", "状态\n | systemGreen | - | check launch"},
        {true, "ready", true, false, "x", "状态\n | systemGreen | - | check install"},
        {false, "missing", true, false, "  需要安装依赖\n", "状态\n | systemOrange | 需要安装依赖 | check install"},
        {false, "broken", false, false, "出错了", "状态\n | systemRed | 出错了 | check"},
        {false, "", false, true, " \n\t\u3000\n", "状态\n | systemRed | - | check launch"},
    };
    const std::map<QString, QColor> drawn = {{"systemBlue", QColor(0x00, 0x7A, 0xFF)},
                                             {"systemGreen", QColor(0x28, 0xA7, 0x45)},
                                             {"systemOrange", QColor(0xF0, 0x8A, 0x00)},
                                             {"systemRed", QColor(0xFF, 0x3B, 0x30)}};
    for (const Row& row : rows) {
      LauncherWorld world;
      world.setBackendResult(row.ok, row.code, "状态\n", row.detail, row.showInstall, row.enableLaunch, "file:///x");
      world.launch();
      QVERIFY(world.clickAndWait("checkButton"));
      QCOMPARE(world.state(), QString::fromUtf8(row.state));
      // The colour as drawn, not only as named: the status line's glyphs hold pixels of exactly that colour.
      const QImage picture = world.label("statusLabel")->grab().toImage();
      const QColor expected = drawn.at(world.state().split(" | ")[1]);
      bool found = false;
      for (int y = 0; y < picture.height() && !found; ++y)
        for (int x = 0; x < picture.width() && !found; ++x) found = picture.pixelColor(x, y).rgb() == expected.rgb();
      QVERIFY2(found, row.state);
    }
    LauncherWorld world;  // output that is not one object is a failed run, whatever came before
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    world.setBackendScript("echo 'Traceback: boom'");
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.state(), QStringLiteral("启动器执行失败 | systemRed | Traceback: boom | check"));

    // A failure text of millions of lines is shown without holding the window.
    world.setBackendScript("yes x | head -n 5000000");
    testing_support::StallWatch stalls;
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY2(stalls.longestMs() < testing_support::kHeldMs, qPrintable(QString::number(stalls.longestMs())));
    QCOMPARE(world.state(), QStringLiteral("启动器执行失败 | systemRed | x\nx\nx | check"));
  }

  // Two launchers (two builds, say) on one data folder never touch the runtime at once: while one runs, the
  // other's press ends in red, names it and runs nothing; once it is done, the other's press goes through.
  void twoLaunchersNeverShareTheRuntimeAtOnce() {
    LauncherWorld first, second;
    second.environment.runtime.applicationSupportDirectory = first.files.support;
    first.environment.runtime.launcherPath = "/Applications/其他启动器.app/Contents/MacOS/LanqiLauncher";
    const platform::Path release = first.files.dir / "release", runs = second.files.dir / "runs";
    first.setBackendPrelude("while [ ! -e '" + release.string() + "' ]; do sleep 0.02; done");
    second.setBackendPrelude("echo run >> '" + runs.string() + "'");
    const platform::Path root = first.files.root;
    first.launch();
    second.launch();
    QTest::mouseClick(first.button("checkButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(root / "scripts"), 20000);  // the first one's run is under way
    QVERIFY(second.clickAndWait("checkButton"));
    QCOMPARE(second.state(), QStringLiteral("运行环境正被另一个启动器使用 | systemRed | "
                                            "/Applications/其他启动器.app/Contents/MacOS/LanqiLauncher | check"));
    QVERIFY(!std::filesystem::exists(runs));
    testing_support::writeFile(release, "");
    QVERIFY(first.waitUntilIdle());
    QCOMPARE(first.state(), QStringLiteral("环境正常 | systemGreen | - | check launch"));
    QVERIFY(second.clickAndWait("checkButton"));
    QCOMPARE(second.state(), QStringLiteral("环境正常 | systemGreen | - | check launch"));
  }

  // What the window draws is what it holds: the status in its colour, a two-line detail on two lines, one selected
  // character highlighted, a spinner with spokes all round; the website opens on a left click only.
  void theWindowDrawsWhatItHolds() {
    LauncherWorld world;
    world.setBackendResult(false, "broken", "环境异常", "第一行\n第二行", false, false);
    world.setBackendPrelude("sleep 0.5");
    world.launch();
    QVERIFY(everyTextWhole(world) && coreRowsWhole(world));
    QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
    QWidget* spinner = world.widget("activity");
    const QRect top(0, 0, spinner->width(), spinner->height() / 2), bottom = top.translated(0, spinner->height() / 2);
    QVERIFY(drawnPixels(spinner, top, ink) > 10 && drawnPixels(spinner, bottom, ink) > 10);
    QVERIFY(world.waitUntilIdle());
    QVERIFY(everyTextWhole(world));
    QVERIFY(drawnPixels(world.label("statusLabel"), {}, [](const QColor& pixel, auto&) {
              return pixel.red() > pixel.green() + 80 && pixel.red() > pixel.blue() + 80;
            }) > 10);
    QLabel* detail = world.label("detailLabel");
    const int line = detail->fontMetrics().lineSpacing();
    QVERIFY(detail->height() >= 2 * line);
    QVERIFY(drawnPixels(detail, QRect(0, 0, detail->width(), line), ink) > 10 &&
            drawnPixels(detail, QRect(0, line, detail->width(), line), ink) > 10);
    const QColor highlight = detail->palette().color(QPalette::Highlight);
    QTest::mousePress(detail, Qt::LeftButton, {}, QPoint(1, line / 2));
    QMouseEvent move(QEvent::MouseMove, QPointF(detail->fontMetrics().horizontalAdvance("第") * 0.8, line / 2.0),
                     detail->mapToGlobal(QPointF(0, 0)), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(detail, &move);
    QVERIFY(drawnPixels(detail, {}, [&](const QColor& pixel, auto&) { return pixel == highlight; }) > 10);

    QDesktopServices::setUrlHandler("https", this, "opened");
    QDesktopServices::setUrlHandler("http", this, "opened");
    for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton})
      QTest::mouseClick(world.widget("websiteLink"), button);
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");
    QCOMPARE(openedUrls.size(), 1);
  }

  // A later start is answered only once this window's thread has brought the window to the front: while that
  // thread is held, the later start runs on its own within about 2 s; once free, the window comes to the front
  // and a later start ends. Where later starts cannot find this launcher, its log says why, once.
  void aLaterStartIsAnsweredOnlyByTheWindowsThread() {
    LauncherWorld world;
    world.environment.logFile = world.files.dir / "launcher.log";
    world.launch();
    const platform::Path lock = world.files.dir / "launcher.lock", sockets = world.files.dir / "sockets";
    std::filesystem::create_directories(sockets);
    auto only = world.delegate->claimOnlyLauncher(lock, sockets);
    QVERIFY(only && only->aloneBecause().empty());
    auto laterStart = [&] {
      return std::async(std::launch::async, [&] {
        return platform::SingleInstance::claim(world.files.context.fileSystem, lock, sockets, [](auto) {}) == nullptr;
      });
    };
    QVERIFY(!laterStart().get());  // this thread, the window's, is held meanwhile: the later start runs
    world.window()->showMinimized();
    auto later = laterStart();
    QTRY_VERIFY_WITH_TIMEOUT(later.wait_for(std::chrono::seconds(0)) == std::future_status::ready, 5000);
    QVERIFY(later.get() && !world.window()->isMinimized());
    QVERIFY(!std::filesystem::exists(world.files.dir / "launcher.log"));
    only.reset();
    QVERIFY(world.delegate->claimOnlyLauncher(lock, std::nullopt));
    QVERIFY(QString::fromStdString(testing_support::readFile(world.files.dir / "launcher.log"))
                .contains(QRegularExpression("^\\d{4}-.* start \\| one launcher at a time is off: no private folder "
                                             "for the launcher's socket\n$")));
  }

  // Each press leaves one record in the launcher's log, whatever its outcome; the log rotates by size, a log
  // that cannot be written changes nothing, and the detail's menu shows the log's folder.
  void eachPressLeavesARecordInTheLog() {
    LauncherWorld world;
    const platform::Path log = world.files.dir / "Logs/LanqiLauncher/launcher.log";
    world.environment.logFile = log;
    world.launch();
    QVERIFY(world.label("detailLabel")->findChild<QAction*>("showLogAction"));
    QCOMPARE(world.label("detailLabel")->findChild<QAction*>("showLogAction")->text(),
             QStringLiteral("在文件管理器中显示日志"));
    QVERIFY(world.clickAndWait("checkButton"));
    // What the press copied reaches the disk after its result, and the record says so.
    world.environment.afterPress->wait();
    QVERIFY(testing_support::readFile(world.files.root / runtime::kSyncRecordName).find("\n~") == std::string::npos);
    world.setBackendScript("echo 'Traceback: boom' >&2\necho 'ValueError: x' >&2\nexit 3");
    QVERIFY(world.clickAndWait("launchButton"));
    world.setBackendScript("yes 字 | head -n 3000 | tr -d '\\n' >&2\nexit 3");  // 9,000 bytes
    QVERIFY(world.clickAndWait("checkButton"));
    std::filesystem::remove_all(world.files.resources / "runtime/macos-arm64");
    QVERIFY(world.clickAndWait("checkButton"));
    const QStringList lines = QString::fromStdString(testing_support::readFile(log)).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    // A long failure is shortened to the log's limit at the end of a character, so the log stays UTF-8.
    std::string shortened = "failed: ";  // the outcome's text, at most 4,096 bytes
    while (shortened.size() + std::string("字").size() <= 4096) shortened += "字";
    QVERIFY(lines[2].endsWith(" | " + QString::fromStdString(shortened + "…")));
    const QStringList expected = {
        " check \\| preflight .* s, sync: 0 kept, 7 replaced, \\d+ files \\(\\d+ bytes\\) copied, no usable record \\| "
        "exit 0 after .* s \\| ok code=ready status=环境正常$",
        " launch \\| preflight .* s, sync: 6 kept, 1 replaced, 1 files \\(\\d+ bytes\\) copied \\| exit 3 after .* s "
        "\\| failed: Traceback: boom\\\\nValueError: x$",
        " check \\| preflight .* s, sync: 6 kept, 1 replaced, 1 files \\(\\d+ bytes\\) copied \\| exit 3 after .* s "
        "\\| failed: 字+…$",
        " check \\| preflight .* s \\| stopped: 未找到可用运行时\\\\n应用内未发现匹配当前架构的 runtime payload。$"};
    for (int i = 0; i < 4; ++i) {
      QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}" + expected[i])
                   .match(lines[i])
                   .hasMatch(),
               qPrintable(lines[i]));
    }
    // A flush that fails after the result leaves its own line.
    testing_support::writePayloads(world.files.resources, "v3");
    world.setBackendResult(true, "ready", "环境正常", "", false, true);
    world.files.fileSystem.failAt(testing_support::FaultyFileSystem::Operation::flush, 1);
    QVERIFY(world.clickAndWait("checkButton"));
    world.environment.afterPress->wait();
    QVERIFY2(QString::fromStdString(testing_support::readFile(log))
                 .contains(QRegularExpression("\n\\d{4}-.* flush \\| injected fault[^\n]*\n$")),
             testing_support::readFile(log).c_str());

    // A full log moves to launcher.log.1, keeping three; a log that cannot be written changes nothing.
    LauncherWorld full;
    full.environment.logFile = log;
    full.launch();
    testing_support::writeFile(log, std::string(1 << 20, 'x'));
    for (const char* older : {"1", "2", "3"}) testing_support::writeFile(log.string() + "." + older, older);
    QVERIFY(full.clickAndWait("checkButton"));
    QCOMPARE(std::filesystem::file_size(log.string() + ".1"), std::uintmax_t{1 << 20});
    QVERIFY(testing_support::readFile(log.string() + ".2") + testing_support::readFile(log.string() + ".3") == "12");
    QVERIFY(!std::filesystem::exists(log.string() + ".4"));
    QVERIFY(std::filesystem::file_size(log) < 1000);
    std::filesystem::remove_all(log.parent_path());
    testing_support::writeFile(log.parent_path(), "a file where the log's folder belongs");
    QVERIFY(full.clickAndWait("checkButton"));
    QCOMPARE(full.state(), QStringLiteral("环境正常 | systemGreen | - | check launch"));
  }

  // While the script runs the window is busy and deaf to clicks, and the progress line shows the script's latest
  // line; megabytes of standard error a second neither slow the window nor flood it with updates. A successful
  // install keeps the launch button disabled until the next check.
  void busyWhileTheScriptRunsWithItsProgressLine() {
    LauncherWorld world;
    platform::Path release = world.files.dir / "release", runs = world.files.dir / "runs";
    world.setBackendResult(false, "", "需要安装", "先前的详情", true, true);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    world.setBackendResult(true, "installed", "安装完成", "", false, true);
    world.setBackendPrelude("echo run >> '" + runs.string() + "'\nyes '正在下载 wheel' | head -n 1000000 >&2\n" +
                            "echo '正在安装 3/12：torch' >&2; echo ' ' >&2\nwhile [ ! -e '" + release.string() +
                            "' ]; do sleep 0.02; done");
    const platform::Path flushed = world.files.dir / "flushed";
    world.files.fileSystem.before = [&](auto operation, auto&) {
      while (operation == testing_support::FaultyFileSystem::Operation::flush && !std::filesystem::exists(flushed))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    testing_support::StallWatch stalls;
    QTest::mouseClick(world.button("installButton"), Qt::LeftButton);
    QCOMPARE(world.state(), QStringLiteral("正在安装环境，请稍候… | label | - |  | busy"));
    QTRY_COMPARE_WITH_TIMEOUT(world.label("progressLabel")->text(), QStringLiteral("正在安装 3/12：torch"), 60000);
    QVERIFY2(stalls.longestMs() < testing_support::kHeldMs, qPrintable(QString::number(stalls.longestMs())));
    QVERIFY(rectInWindow(world.label("progressLabel")).width() > 100);

    for (const char* name : {"checkButton", "launchButton"}) QTest::mouseClick(world.button(name), Qt::LeftButton);
    QTest::qWait(100);
    // The script ends before the disk has what the press copied: the result does not wait for the disk.
    testing_support::writeFile(release, "");
    QVERIFY(world.waitUntilIdle());
    QCOMPARE(world.state(), QStringLiteral("安装完成 | systemBlue | - | check"));
    QCOMPARE(world.label("progressLabel")->text(), QString());
    QCOMPARE(testing_support::readFile(runs), std::string("run\n"));
    // The next press waits for that flush, saying so, and then runs as any press does.
    QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(world.label("progressLabel")->text(), QStringLiteral("正在将运行环境写入磁盘…"), 20000);
    QCOMPARE(world.state(), QStringLiteral("正在检测环境… | label | - |  | busy"));
    QTest::qWait(1500);  // longer than the runtime's lock is waited for: this launcher's own flush is not another's
    testing_support::writeFile(flushed, "");
    QTRY_COMPARE_WITH_TIMEOUT(world.label("progressLabel")->text(), QString(), 20000);
    QVERIFY(world.waitUntilIdle());  // the same result after a check enables launching
    QCOMPARE(world.state(), QStringLiteral("安装完成 | systemBlue | - | check launch"));
    QCOMPARE(testing_support::readFile(runs), std::string("run\nrun\n"));
  }

  // The model list stays wherever the column can hold it (the empty activity row gives way first), and when
  // every optional row shows at once the core rows still lie whole.
  void theModelListStaysWhereverItFits() {
    std::string words;
    for (int i = 0; i < 30; ++i) words += "环境检测失败，";  // no spaces: breaks between ideographs
    struct Row {
      bool showInstall;
      std::string status, detail;
      bool listMustShow;  // else it may give way, as the fonts decide
    };
    const Row rows[] = {
        {false, "未就绪", "第一行", true},
        {false, "未就绪", "第一行\n第二行\n第三行", true},
        {true, "未就绪", "第一行", false},  // with the install button there is no room for the list
        {true, words, words + "\n" + words + "\n" + words, false},
    };
    for (const Row& row : rows) {
      LauncherWorld world;
      world.setBackendResult(false, "", row.status, row.detail, row.showInstall, false);
      world.launch();
      QVERIFY(world.clickAndWait("checkButton"));
      QTest::qWait(20);
      // A row that gives way keeps no room: its views lie clipped in a stack of no size.
      const bool listShown = world.widget("modelsLabel")->parentWidget()->height() > 0;
      const bool activityRowShown = world.widget("activity")->parentWidget()->height() > 0;
      QVERIFY(listShown || !row.listMustShow);
      QVERIFY2(listShown || !activityRowShown, "the empty activity row must give way first");
      QVERIFY(coreRowsWhole(world));
      QLabel* status = world.label("statusLabel");
      QCOMPARE(status->height(), status->heightForWidth(status->width()));  // two lines at most, whole
    }
  }

  // The detail text shows shortened (never inside a character that needs two UTF-16 units), yet selecting and
  // copying it, by keyboard, menu or mouse, gives it whole.
  void theDetailTextIsShortenedWholeCharactersButCopiedWhole() {
    LauncherWorld world;
    const std::string line = std::string(2047, 'a') + "🚀🚀 错误";
    const std::string detail = line + "\n" + line + "\n" + line + "\n第四行";
    world.setBackendResult(false, "", "失败", detail, false, false);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QLabel* label = world.label("detailLabel");
    QCOMPARE(label->text(), q(std::string(2047, 'a') + "\n" + std::string(2047, 'a') + "\n" + std::string(2047, 'a')));
    auto copied = [&](const std::function<void()>& act) {
      QGuiApplication::clipboard()->setText(QStringLiteral("before"));
      act();
      return QGuiApplication::clipboard()->text();
    };
    auto drag = [&](QPoint from, QPoint to) {
      QTest::mousePress(label, Qt::LeftButton, {}, from);
      QTest::mouseMove(label, to);
      QTest::mouseRelease(label, Qt::LeftButton, {}, to);
      QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
    };
    QCOMPARE(copied([&] {
               QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(1, 2));
               QTest::keyClick(label, Qt::Key_A, Qt::ControlModifier);
               QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
             }),
             q(detail));
    QCOMPARE(copied([&] { label->findChild<QAction*>("copyAction")->trigger(); }), q(detail));
    QCOMPARE(copied([&] { drag(QPoint(1, 2), QPoint(label->width() - 1, label->height() + 5)); }), q(detail));
    const int lineHeight = label->fontMetrics().lineSpacing();  // to the end of the last line that shows
    QCOMPARE(copied([&] { drag(QPoint(1, 2), QPoint(label->width() - 1, lineHeight * 5 / 2)); }), q(detail));
    const QString part = copied([&] { drag(QPoint(1, 2), QPoint(60, 2)); });
    QVERIFY2(!part.isEmpty() && part.size() < 20 && q(detail).startsWith(part), qPrintable(part));
  }
};

QTEST_MAIN(LauncherWindowTest)
#include "launcher_window_test.moc"
