// The launcher's window, driven as a user drives it: real buttons clicked, real backend scripts run. Each check
// reads the whole window state at once (LauncherWorld::state).
#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>

#include "ui/launcher_world.h"

using app::LauncherAppDelegateProbe;
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
  return rectInWindow(world.widget("websiteLink")->parentWidget()).bottom() <= inside.bottom() - 20 + 1;
}

}  // namespace

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

class LauncherWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void windowAsBuiltAndItsLink() {
    LauncherWorld world;
    world.launch();
    QWidget* window = world.window();
    QCOMPARE(window->windowTitle(), QStringLiteral("岚栖启动器"));
    QCOMPARE(window->size(), QSize(548, 432));
    QCOMPARE(window->minimumSize(), window->maximumSize());  // not resizable
    QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint && window->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(world.label("versionLabel")->text(), QStringLiteral("版本 dev"));
    QCOMPARE(world.label("modelsLabel")->text(), q(app::launcherModelSummary()));
    QCOMPARE(world.state(), QStringLiteral("点击“检测环境”开始 | label | - | check"));
    QVERIFY(world.widget("activity")->isVisible());  // stopped: draws nothing, keeps its place
    QRect check = rectInWindow(world.button("checkButton")), launch = rectInWindow(world.button("launchButton"));
    QCOMPARE(QList<int>({check.width(), check.height(), launch.left() - check.right() - 1, check.left()}),
             QList<int>({launch.width(), 36, 12, 24}));
    QCOMPARE(rectInWindow(world.label("headingLabel")).top(), 24);

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QTest::mouseClick(world.widget("websiteLink"), Qt::LeftButton, {}, QPoint(5, 5));
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.opened.size(), 1);
  }

  void preflightFailuresAreRedAndNeverBusy() {
    struct Row {
      const char* breakage;
      const char* status;
      const char* detailPattern;
    };
    const Row rows[] = {
        {"no-support", "未找到可用运行时", "^无法定位 Application Support 目录。$"},
        {"uname", "未找到可用运行时", "^无法识别当前 macOS 架构。$"},
        {"payload", "未找到可用运行时", "^应用内未发现匹配当前架构的 runtime payload。$"},
        {"copy", "未找到可用运行时", "wheelhouse”：没有那个文件或目录"},
        {"python", "缺少内置 Python 运行时", "/python/bin/python3\\.11$"},
        {"not-executable", "内置 Python 运行时不可执行",
         "/python/bin/python3\\.11\n发布包权限异常或已损坏，请重新下载最新版。$"},
        {"script", "缺少启动器后端脚本", "/scripts/launcher_backend\\.py$"},
    };
    for (const Row& row : rows) {
      LauncherWorld world;
      world.launch();
      world.setBackendResult(false, "", "需要安装", "", true, true);  // a failure takes install and launch back
      QVERIFY(world.clickAndWait("checkButton"));
      const std::string breakage = row.breakage;
      platform::Path arm = world.files.resources / "runtime/macos-arm64";
      if (breakage == "no-support") world.environment.runtime.applicationSupportDirectory.reset();
      if (breakage == "uname") world.environment.runtime.unameTool = world.files.dir / "no-such-uname";
      if (breakage == "payload") std::filesystem::remove_all(arm);
      if (breakage == "copy") std::filesystem::remove_all(arm / "wheelhouse");
      if (breakage == "python") std::filesystem::remove_all(arm / "python/bin");
      if (breakage == "not-executable") {  // a link the repair leaves alone, to a file it does not reach
        std::filesystem::remove(arm / "python/bin/python3.11");
        testing_support::writeFile(arm / "python/lib/real-python", "#!/bin/sh\n", 0644);
        std::filesystem::create_symlink("../lib/real-python", arm / "python/bin/python3.11");
      }
      if (breakage == "script")
        std::filesystem::remove(world.files.resources / "runtime/common/scripts/launcher_backend.py");

      QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);  // checks end before the click returns
      const QStringList state = world.state().split(" | ");
      QCOMPARE(state.size(), 4);  // never busy
      QCOMPARE(QStringList({state[0], state[1], state[3]}), QStringList({row.status, "systemRed", "check"}));
      QVERIFY2(QRegularExpression(row.detailPattern).match(state[2]).hasMatch(), qPrintable(state[2]));
      QVERIFY(!LauncherAppDelegateProbe::desiredLaunchEnabled(*world.delegate));
      QVERIFY(!LauncherAppDelegateProbe::desiredInstallVisible(*world.delegate));
    }
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
    for (const Row& row : rows) {
      LauncherWorld world;
      world.setBackendResult(row.ok, row.code, "状态\n", row.detail, row.showInstall, row.enableLaunch, "file:///x");
      world.launch();
      QVERIFY(world.clickAndWait("checkButton"));
      QCOMPARE(world.state(), QString::fromUtf8(row.state));
    }
  }

  void aSuccessfulInstallDisablesLaunchButKeepsTheWish() {
    LauncherWorld world;
    world.setBackendResult(false, "not_installed", "未安装", "请先安装", true, false);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    world.setBackendResult(true, "installed", "安装完成", "", false, true);
    QVERIFY(world.clickAndWait("installButton"));
    QCOMPARE(world.state(), QStringLiteral("安装完成 | systemBlue | - | check"));
    QVERIFY(LauncherAppDelegateProbe::desiredLaunchEnabled(*world.delegate));
    QVERIFY(world.clickAndWait("checkButton"));  // the same result after "check" enables it
    QCOMPARE(world.state(), QStringLiteral("安装完成 | systemBlue | - | check launch"));
  }

  void busyWhileTheScriptRunsWithItsProgressLineAndDeafToClicks() {
    LauncherWorld world;
    platform::Path release = world.files.dir / "release", runs = world.files.dir / "runs";
    world.setBackendResult(false, "", "需要安装", "先前的详情", true, true);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    world.setBackendResult(true, "ready", "完成", "", false, false);
    world.setBackendScript("echo run >> '" + runs.string() + "'\necho '正在安装 3/12：torch' >&2; echo ' ' >&2\n" +
                           "while [ ! -e '" + release.string() + "' ]; do sleep 0.02; done\ncat '" +
                           (world.files.dir / "result.json").string() + "'");
    QTest::mouseClick(world.button("installButton"), Qt::LeftButton);
    QCOMPARE(world.state(), QStringLiteral("正在安装环境，请稍候… | label | - |  | busy"));
    QVERIFY(LauncherAppDelegateProbe::desiredInstallVisible(*world.delegate));  // busy leaves the flags alone
    QTRY_COMPARE(world.label("progressLabel")->text(), QStringLiteral("正在安装 3/12：torch"));
    QVERIFY(rectInWindow(world.label("progressLabel")).width() > 100);

    for (const char* name : {"checkButton", "launchButton"}) QTest::mouseClick(world.button(name), Qt::LeftButton);
    QTest::qWait(100);
    testing_support::writeFile(release, "");
    QVERIFY(world.waitUntilIdle());
    QCOMPARE(world.state(), QStringLiteral("完成 | systemGreen | - | check"));
    QCOMPARE(world.label("progressLabel")->text(), QString());
    QCOMPARE(testing_support::readFile(runs), std::string("run\n"));
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

  // Megabytes of standard error a second neither slow the window nor flood it with updates.
  void aFloodOfStandardErrorKeepsTheWindowResponsive() {
    LauncherWorld world;
    world.setBackendResult(true, "ready", "完成", "", false, false);
    world.setBackendScript("yes '正在下载 wheel 3/12' | head -n 1000000 >&2\ncat '" +
                           (world.files.dir / "result.json").string() + "'");
    world.launch();
    QElapsedTimer clock;
    qint64 last = 0, longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longestGap = std::max(longestGap, clock.elapsed() - last);
      last = clock.elapsed();
    });
    clock.start();
    ticker.start(10);
    QVERIFY(world.clickAndWait("checkButton", 60000));
    QVERIFY2(longestGap < 300, qPrintable(QString::number(longestGap)));
  }

  // The detail text shows shortened, yet selecting and copying it, by keyboard, menu or mouse, gives it whole.
  void theDetailTextIsSelectedAndCopiedWhole() {
    LauncherWorld world;
    std::string paragraph;
    for (int i = 0; i < 400; ++i) paragraph += "错误" + std::to_string(i) + " ";
    const std::string detail = paragraph + "\n" + paragraph + "\n" + paragraph + "\n第四行";
    world.setBackendResult(false, "", "失败", detail, false, false);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QLabel* label = world.label("detailLabel");
    QVERIFY(label->text().size() < q(detail).size());
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
    const QString part = copied([&] { drag(QPoint(1, 2), QPoint(60, 2)); });
    QVERIFY2(!part.isEmpty() && part.size() < 20 && q(detail).startsWith(part), qPrintable(part));
  }

  void hugeAndUnusualTextsKeepTheWindowWhole() {
    LauncherWorld world;
    // Five megabytes of log on standard output, no result object: a run failure.
    world.setBackendScript(
        "i=0; while [ $i -lt 80 ]; do head -c 65536 /dev/zero | tr '\\0' 'x'; echo; i=$((i+1)); done");
    world.launch();
    QVERIFY(world.clickAndWait("checkButton", 60000));
    QVERIFY(world.state().startsWith(QStringLiteral("启动器执行失败 | systemRed | xxxx")));
    QVERIFY(world.state().endsWith(QStringLiteral("xxxx | check")));  // no launch, no install after a failure
    QVERIFY(world.label("detailLabel")->text().size() <= 3 * 2048 + 2);

    const std::string unusual = "\u202Eدرس\u202C 🚀 \uFFFD \u200F混合 text";
    world.setBackendResult(false, "", unusual, unusual + "\n" + unusual + "\n" + unusual + "\n" + unusual, true, false);
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.state(),
             q(unusual + " | systemOrange | " + unusual + "\n" + unusual + "\n" + unusual + " | check install"));
    QVERIFY(coreRowsWhole(world));

    // A text shortened where a character needs two UTF-16 units keeps the character whole or drops it.
    const std::string cutInside = std::string(2047, 'a') + "🚀🚀";
    world.setBackendResult(false, "", "x", cutInside + "\n" + cutInside, true, false);
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(world.label("detailLabel")->text().isValidUtf16());
    QVERIFY(world.label("detailLabel")->text().startsWith(q(std::string(2047, 'a') + "\n")));
  }

  void assistiveTechnologySeesEveryControl() {
    LauncherWorld world;
    world.launch();
    const std::pair<const char*, QAccessible::Role> controls[] = {{"checkButton", QAccessible::Button},
                                                                  {"launchButton", QAccessible::Button},
                                                                  {"statusLabel", QAccessible::StaticText},
                                                                  {"activity", QAccessible::ProgressBar}};
    for (const auto& [name, role] : controls) {
      QAccessibleInterface* item = QAccessible::queryAccessibleInterface(world.widget(name));
      QVERIFY2(item && item->role() == role && !item->text(QAccessible::Name).isEmpty(), name);
    }
    QAccessibleInterface* launch = QAccessible::queryAccessibleInterface(world.button("launchButton"));
    QCOMPARE(launch->text(QAccessible::Name), QStringLiteral("启动"));
    QVERIFY(launch->state().disabled);
  }

  void aFullDiskIsShownAndTheNextPressAfterSpaceIsFreedSucceeds() {
    LauncherWorld world;
    platform::Path support = world.files.support;
    std::filesystem::create_directories(support);
    if (::mount("tmpfs", support.c_str(), "tmpfs", 0, "size=1m") != 0) {
      QSKIP("cannot mount a size-limited tmpfs here (needs CAP_SYS_ADMIN); the fault-injection tests cover this");
    }
    struct Unmount {
      platform::Path path;
      ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{support};
    testing_support::writeFile(support / "Other App/settings.json", "{\"keep\": true}");
    testing_support::writeFile(world.files.resources / "runtime/macos-arm64/wheelhouse/big.whl",
                               std::string(3 * 1024 * 1024, 'w'));
    world.launch();
    QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
    QVERIFY2(world.state().contains(QStringLiteral("磁盘空间不足")), qPrintable(world.state()));
    QVERIFY(world.state().startsWith(QStringLiteral("未找到可用运行时 | systemRed")));
    QCOMPARE(testing_support::readFile(support / "Other App/settings.json"), std::string("{\"keep\": true}"));

    QCOMPARE(::mount("tmpfs", support.c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.state(), QStringLiteral("环境正常 | systemGreen | - | check launch"));
  }

  void closingTheWindowEndsTheApplication() {
    LauncherWorld world;
    world.launch();
    // The event loop ends by itself once the window closes; the later timer only stops a test that would hang.
    QTimer::singleShot(0, world.window(), [&world] { world.window()->close(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(7); });
    QCOMPARE(QCoreApplication::exec(), 0);
  }
};

QTEST_MAIN(LauncherWindowTest)
#include "launcher_window_test.moc"
