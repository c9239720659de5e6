// The launcher's window, driven as a user drives it: real buttons clicked, real backend scripts run.
#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
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
  void windowAsBuilt() {
    LauncherWorld world;
    world.launch();
    QWidget* window = world.window();
    QVERIFY(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("岚栖启动器"));
    QCOMPARE(window->size(), QSize(548, 432));
    QCOMPARE(window->minimumSize(), window->maximumSize());  // not resizable
    QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(world.label("headingLabel")->text(), QStringLiteral("岚栖启动器"));
    QCOMPARE(world.label("versionLabel")->text(), QStringLiteral("版本 dev"));
    QCOMPARE(world.label("modelsLabel")->text(), q(app::launcherModelSummary()));
    QVERIFY(world.label("modelsLabel")->text().startsWith(QStringLiteral("生图：")));

    // Idle: the invitation in the label colour, no detail, install hidden, launch disabled, check enabled.
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("点击“检测环境”开始"));
    QCOMPARE(world.statusColor(), QStringLiteral("label"));
    QVERIFY(world.label("detailLabel")->isHidden());
    QVERIFY(world.button("installButton")->isHidden());
    QVERIFY(!world.button("launchButton")->isEnabled());
    QVERIFY(world.button("checkButton")->isEnabled());
    QVERIFY(!world.spinnerTurning());
    QVERIFY(world.widget("activity")->isVisible());  // stopped: draws nothing, keeps its place

    // The two buttons are equally wide, 36 high and 12 apart.
    QRect check = rectInWindow(world.button("checkButton")), launch = rectInWindow(world.button("launchButton"));
    QCOMPARE(check.width(), launch.width());
    QCOMPARE(check.height(), 36);
    QCOMPARE(launch.left() - check.right() - 1, 12);
    QCOMPARE(check.left(), 24);
    QCOMPARE(rectInWindow(world.label("headingLabel")).top(), 24);
  }

  void websiteLinkOpensInTheBrowser() {
    LauncherWorld world;
    world.launch();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    QTest::mouseClick(world.widget("websiteLink"), Qt::LeftButton, {}, QPoint(5, 5));
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.opened.size(), 1);
    QCOMPARE(catcher.opened.first().scheme(), QStringLiteral("https"));
  }

  void preflightFailuresAreRedAndNeverBusy_data() {
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("detailPattern");
    QTest::newRow("no Application Support") << "no-support"
                                            << "未找到可用运行时"
                                            << "^无法定位 Application Support 目录。$";
    QTest::newRow("unknown architecture") << "uname"
                                          << "未找到可用运行时"
                                          << "^无法识别当前 macOS 架构。$";
    QTest::newRow("no payload") << "payload"
                                << "未找到可用运行时"
                                << "^应用内未发现匹配当前架构的 runtime payload。$";
    QTest::newRow("copy fails") << "copy"
                                << "未找到可用运行时"
                                << "wheelhouse”：没有那个文件或目录";
    QTest::newRow("no python/bin") << "python"
                                   << "缺少内置 Python 运行时"
                                   << "/python/bin/python3\\.11$";
    QTest::newRow("python not executable") << "not-executable"
                                           << "内置 Python 运行时不可执行"
                                           << "/python/bin/python3\\.11\n发布包权限异常或已损坏，请重新下载最新版。$";
    QTest::newRow("no backend script") << "script"
                                       << "缺少启动器后端脚本"
                                       << "/scripts/launcher_backend\\.py$";
  }

  void preflightFailuresAreRedAndNeverBusy() {
    QFETCH(QString, breakage);
    QFETCH(QString, status);
    QFETCH(QString, detailPattern);
    LauncherWorld world;
    world.launch();
    // A previous result had shown install and enabled launch; a failure takes both back.
    world.setBackendResult(false, "", "需要安装", "", true, true);
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(!world.button("installButton")->isHidden());
    QVERIFY(world.button("launchButton")->isEnabled());

    platform::Path arm = world.files.resources / "runtime/macos-arm64";
    if (breakage == "no-support") world.environment.runtime.applicationSupportDirectory.reset();
    if (breakage == "uname") world.environment.runtime.unameTool = world.files.dir / "no-such-uname";
    if (breakage == "payload") std::filesystem::remove_all(arm);
    if (breakage == "copy") std::filesystem::remove_all(arm / "wheelhouse");
    if (breakage == "python") std::filesystem::remove_all(arm / "python/bin");
    if (breakage == "not-executable") {
      std::filesystem::remove(arm / "python/bin/python3.11");
      testing_support::writeFile(arm / "python/lib/real-python", "#!/bin/sh\n", 0644);
      std::filesystem::create_symlink("../lib/real-python", arm / "python/bin/python3.11");
    }
    if (breakage == "script") {
      std::filesystem::remove(world.files.resources / "runtime/common/scripts/launcher_backend.py");
    }

    QTest::mouseClick(world.button("checkButton"), Qt::LeftButton);
    // The checks run before the click returns: the window never became busy.
    QVERIFY(!world.spinnerTurning());
    QCOMPARE(world.label("statusLabel")->text(), status);
    QCOMPARE(world.statusColor(), QStringLiteral("systemRed"));
    QString detail = world.label("detailLabel")->text();
    QVERIFY2(QRegularExpression(detailPattern).match(detail).hasMatch(), qPrintable(detail));
    QVERIFY(!world.label("detailLabel")->isHidden());
    QVERIFY(world.button("installButton")->isHidden());
    QVERIFY(!world.button("launchButton")->isEnabled());
    QVERIFY(world.button("checkButton")->isEnabled());
    QVERIFY(!LauncherAppDelegateProbe::desiredLaunchEnabled(*world.delegate));
    QVERIFY(!LauncherAppDelegateProbe::desiredInstallVisible(*world.delegate));
  }

  void resultsAreShownByTheColourTable_data() {
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("showInstall");
    QTest::addColumn<bool>("enableLaunch");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("color");
    QTest::addColumn<bool>("detailShown");
    QTest::newRow("installed is blue") << true << "installed" << false << true << "hidden on success"
                                       << "systemBlue" << false;
    QTest::newRow("INSTALLED is green") << true << "INSTALLED" << false << true << ""
                                        << "systemGreen" << false;
    QTest::newRow("other code is green") << true << "ready" << true << false << "x"
                                         << "systemGreen" << false;
    QTest::newRow("offers install: orange") << false << "missing" << true << false << "  需要安装依赖\n"
                                            << "systemOrange" << true;
    QTest::newRow("plain failure: red") << false << "broken" << false << false << "出错了"
                                        << "systemRed" << true;
    QTest::newRow("blank detail stays hidden") << false << "" << false << true << " \n\t\u3000\n"
                                               << "systemRed" << false;
  }

  void resultsAreShownByTheColourTable() {
    QFETCH(bool, ok);
    QFETCH(QString, code);
    QFETCH(bool, showInstall);
    QFETCH(bool, enableLaunch);
    QFETCH(QString, detail);
    QFETCH(QString, color);
    QFETCH(bool, detailShown);
    LauncherWorld world;
    world.setBackendResult(ok, code.toStdString(), "状态\n", detail.toStdString(), showInstall, enableLaunch);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("状态\n"));  // shown untrimmed
    QCOMPARE(world.statusColor(), color);
    QCOMPARE(world.label("detailLabel")->isHidden(), !detailShown);
    QCOMPARE(world.label("detailLabel")->text(), detail.trimmed());
    QCOMPARE(world.button("installButton")->isHidden(), !showInstall);
    QCOMPARE(world.button("launchButton")->isEnabled(), enableLaunch);
    QVERIFY(world.button("checkButton")->isEnabled());
  }

  void aSuccessfulInstallDisablesLaunchButKeepsTheWish() {
    LauncherWorld world;
    world.setBackendResult(false, "not_installed", "未安装", "请先安装", true, false);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(!world.button("installButton")->isHidden());

    world.setBackendResult(true, "installed", "安装完成", "", false, true);
    QVERIFY(world.clickAndWait("installButton"));
    QCOMPARE(world.statusColor(), QStringLiteral("systemBlue"));
    QVERIFY(!world.button("launchButton")->isEnabled());
    QVERIFY(LauncherAppDelegateProbe::desiredLaunchEnabled(*world.delegate));
    QVERIFY(world.button("installButton")->isHidden());

    // The same result after "launch" enables it.
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(world.button("launchButton")->isEnabled());
    QVERIFY(world.clickAndWait("launchButton"));
    QVERIFY(world.button("launchButton")->isEnabled());
  }

  void busyWhileTheScriptRunsAndDeafToClicks() {
    LauncherWorld world;
    platform::Path release = world.files.dir / "release";
    platform::Path runs = world.files.dir / "runs";
    world.setBackendResult(false, "", "需要安装", "先前的详情", true, true);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(!world.label("detailLabel")->isHidden());

    world.setBackendScript("echo run >> '" + runs.string() + "'\nwhile [ ! -e '" + release.string() +
                           "' ]; do sleep 0.02; done\ncat '" + (world.files.dir / "result.json").string() + "'");
    world.setBackendResult(true, "ready", "完成", "", false, false);
    world.setBackendScript("echo run >> '" + runs.string() + "'\necho '正在安装 3/12：torch' >&2; echo ' ' >&2\n" +
                           "while [ ! -e '" + release.string() + "' ]; do sleep 0.02; done\ncat '" +
                           (world.files.dir / "result.json").string() + "'");
    QTest::mouseClick(world.button("installButton"), Qt::LeftButton);
    QVERIFY(world.spinnerTurning());
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("正在安装环境，请稍候…"));
    QCOMPARE(world.statusColor(), QStringLiteral("label"));
    QVERIFY(world.label("detailLabel")->isHidden());
    QCOMPARE(world.label("detailLabel")->text(), QString());
    QVERIFY(!world.button("checkButton")->isEnabled());
    QVERIFY(!world.button("launchButton")->isEnabled());
    QVERIFY(world.button("installButton")->isHidden());
    QVERIFY(LauncherAppDelegateProbe::desiredInstallVisible(*world.delegate));  // busy leaves the flags alone

    QTRY_COMPARE(world.label("progressLabel")->text(), QStringLiteral("正在安装 3/12：torch"));
    QVERIFY(rectInWindow(world.label("progressLabel")).width() > 100);

    for (const char* name : {"checkButton", "launchButton"}) QTest::mouseClick(world.button(name), Qt::LeftButton);
    QTest::qWait(100);
    testing_support::writeFile(release, "");
    QVERIFY(world.waitUntilIdle());
    QCOMPARE(world.label("progressLabel")->text(), QString());
    QCOMPARE(testing_support::readFile(runs), std::string("run\n"));
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("完成"));
    QCOMPARE(world.statusColor(), QStringLiteral("systemGreen"));
    QVERIFY(world.button("checkButton")->isEnabled());
  }

  // The model list stays wherever the column can hold it; the empty activity row gives way first.
  void theModelListStaysWhereverItFits_data() {
    QTest::addColumn<bool>("showInstall");
    QTest::addColumn<int>("detailLines");
    QTest::addColumn<bool>("listMustShow");  // else it may give way, as the fonts decide
    QTest::newRow("red, one-line detail") << false << 1 << true;
    QTest::newRow("red, three-line detail") << false << 3 << true;
    QTest::newRow("orange with install, one-line detail") << true << 1 << true;
    QTest::newRow("orange with install, three-line detail") << true << 3 << false;
  }
  void theModelListStaysWhereverItFits() {
    QFETCH(bool, showInstall);
    QFETCH(int, detailLines);
    QFETCH(bool, listMustShow);
    LauncherWorld world;
    std::string detail = "第一行";
    for (int i = 1; i < detailLines; ++i) detail += "\n第 " + std::to_string(i + 1) + " 行";
    world.setBackendResult(false, "", "环境未就绪", detail, showInstall, false);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.label("detailLabel")->text(), q(detail));
    if (listMustShow) QVERIFY(rectInWindow(world.widget("modelsLabel")).height() > 0);
    QCOMPARE(world.label("detailLabel")->height(),
             world.label("detailLabel")->heightForWidth(world.label("detailLabel")->width()));
    assertCoreRowsWhole(world);
  }

  // Megabytes of standard error a second neither slow the window nor flood it with updates.
  void aFloodOfStandardErrorKeepsTheWindowResponsive() {
    LauncherWorld world;
    world.setBackendScript("yes '正在下载 wheel 3/12' | head -n 1000000 >&2\ncat '" +
                           (world.files.dir / "result.json").string() + "'");
    world.setBackendResult(true, "ready", "完成", "", false, false);
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
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("完成"));
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
    const QString whole = q(detail);
    QVERIFY(label->text().size() < whole.size());
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto copied = [&](const std::function<void()>& act) {
      clipboard->setText(QStringLiteral("before"));
      act();
      return clipboard->text();
    };
    const QPoint start(1, 2), pastTheEnd(label->width() - 1, label->height() + 5);
    QCOMPARE(copied([&] {
               QTest::mouseClick(label, Qt::LeftButton, {}, start);
               QTest::keyClick(label, Qt::Key_A, Qt::ControlModifier);
               QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
             }),
             whole);
    QCOMPARE(copied([&] { label->findChild<QAction*>("copyAction")->trigger(); }), whole);
    QCOMPARE(copied([&] {
               QTest::mousePress(label, Qt::LeftButton, {}, start);
               QTest::mouseMove(label, pastTheEnd);
               QTest::mouseRelease(label, Qt::LeftButton, {}, pastTheEnd);
               QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
             }),
             whole);
    const QString part = copied([&] {
      QTest::mousePress(label, Qt::LeftButton, {}, start);
      QTest::mouseMove(label, QPoint(60, 2));
      QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(60, 2));
      QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
    });
    QVERIFY2(!part.isEmpty() && part.size() < 20 && whole.startsWith(part), qPrintable(part));
  }

  void undecodableOutputIsARunFailure() {
    LauncherWorld world;
    world.setBackendScript("echo 'Traceback: boom' >&2\necho '  not json  '\nexit 1");
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("启动器执行失败"));
    QCOMPARE(world.statusColor(), QStringLiteral("systemRed"));
    QCOMPARE(world.label("detailLabel")->text(), QStringLiteral("not json\nTraceback: boom"));
    QVERIFY(!world.label("detailLabel")->isHidden());
    QVERIFY(world.button("checkButton")->isEnabled());
  }

  void targetUrlChangesNothing() {
    auto stateAfter = [](const std::string& url) {
      LauncherWorld world;
      world.setBackendResult(true, "running", "前端已启动", "", false, true, url);
      world.launch();
      if (!world.clickAndWait("checkButton")) return QStringList{"timeout"};
      return QStringList{world.label("statusLabel")->text(), world.statusColor(), world.label("detailLabel")->text(),
                         QString::number(world.button("launchButton")->isEnabled()),
                         QString::number(world.button("installButton")->isHidden())};
    };
    QCOMPARE(stateAfter("http://127.0.0.1:8188/"), stateAfter(""));
  }

  void hugeAndUnusualTextsKeepTheWindowWhole() {
    LauncherWorld world;
    // Five megabytes of log on standard output, no result object.
    world.setBackendScript(
        "i=0; while [ $i -lt 80 ]; do head -c 65536 /dev/zero | tr '\\0' 'x'; echo; "
        "i=$((i+1)); done");
    world.launch();
    QVERIFY(world.clickAndWait("checkButton", 60000));
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("启动器执行失败"));
    QVERIFY(world.label("detailLabel")->text().size() <= 3 * 2048 + 2);
    QVERIFY(world.label("detailLabel")->text().startsWith(QStringLiteral("xxxx")));

    const std::string unusual = "\u202Eدرس\u202C 🚀 \uFFFD \u200F混合 text";
    world.setBackendResult(false, "", unusual, unusual + "\n" + unusual + "\n" + unusual + "\n" + unusual, true, false);
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.label("statusLabel")->text(), q(unusual));
    QCOMPARE(world.label("detailLabel")->text(), q(unusual + "\n" + unusual + "\n" + unusual));
    assertCoreRowsWhole(world);

    // A text shortened where a character needs two UTF-16 units keeps the character whole or drops it.
    const std::string cutInside = std::string(2047, 'a') + "🚀🚀";
    world.setBackendResult(false, "", "x", cutInside + "\n" + cutInside, true, false);
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(world.label("detailLabel")->text().isValidUtf16());
    QVERIFY(world.label("detailLabel")->text().startsWith(q(std::string(2047, 'a') + "\n")));
  }

  void everyOptionalRowAtOnceStillFits() {
    LauncherWorld world;
    std::string longText(400, 'w');
    std::string words;
    for (int i = 0; i < 30; ++i) words += "环境检测失败，";  // no spaces: breaks between ideographs
    world.setBackendResult(false, "", words, words + "\n" + words + "\n" + words, true, true);
    world.launch();
    QVERIFY(world.clickAndWait("checkButton"));
    QVERIFY(!world.button("installButton")->isHidden());
    QVERIFY(!world.label("detailLabel")->isHidden());
    QTest::qWait(50);
    assertCoreRowsWhole(world);
    QRect status = rectInWindow(world.label("statusLabel"));
    QCOMPARE(status.height(), 2 * world.label("statusLabel")->fontMetrics().lineSpacing());
  }

  void assistiveTechnologySeesEveryControl() {
    LauncherWorld world;
    world.launch();
    struct Expected {
      const char* name;
      QAccessible::Role role;
    };
    for (Expected expected :
         {Expected{"checkButton", QAccessible::Button}, Expected{"launchButton", QAccessible::Button},
          Expected{"statusLabel", QAccessible::StaticText}, Expected{"activity", QAccessible::ProgressBar}}) {
      QAccessibleInterface* item = QAccessible::queryAccessibleInterface(world.widget(expected.name));
      QVERIFY2(item, expected.name);
      QCOMPARE(item->role(), expected.role);
      QVERIFY2(!item->text(QAccessible::Name).isEmpty(), expected.name);
    }
    QAccessibleInterface* launch = QAccessible::queryAccessibleInterface(world.button("launchButton"));
    QCOMPARE(launch->text(QAccessible::Name), QStringLiteral("启动"));
    QVERIFY(launch->state().disabled);
    QCOMPARE(QAccessible::queryAccessibleInterface(world.label("statusLabel"))->text(QAccessible::Name),
             QStringLiteral("点击“检测环境”开始"));
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
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("未找到可用运行时"));
    QCOMPARE(world.statusColor(), QStringLiteral("systemRed"));
    QVERIFY2(world.label("detailLabel")->text().contains(QStringLiteral("磁盘空间不足")),
             qPrintable(world.label("detailLabel")->text()));
    QCOMPARE(testing_support::readFile(support / "Other App/settings.json"), std::string("{\"keep\": true}"));
    QVERIFY(std::filesystem::exists(world.files.resources / "runtime/macos-arm64/wheelhouse/big.whl"));

    QCOMPARE(::mount("tmpfs", support.c_str(), "tmpfs", MS_REMOUNT, "size=16m"), 0);
    QVERIFY(world.clickAndWait("checkButton"));
    QCOMPARE(world.label("statusLabel")->text(), QStringLiteral("环境正常"));
    QCOMPARE(world.statusColor(), QStringLiteral("systemGreen"));
  }

  void closingTheWindowEndsTheApplication() {
    LauncherWorld world;
    world.launch();
    // The event loop ends by itself once the window closes; the later timer only stops a test that would hang.
    QTimer::singleShot(0, world.window(), [&world] { world.window()->close(); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(7); });
    QCOMPARE(QCoreApplication::exec(), 0);
  }

 private:
  // The heading, the status line, the buttons and the footer lie whole inside the window and do not overlap.
  static void assertCoreRowsWhole(LauncherWorld& world) {
    QWidget* window = world.window();
    QRect inside = window->rect();
    QList<QRect> rows;
    for (const char* name : {"headingLabel", "statusLabel", "checkButton", "websiteLink"}) {
      QRect rect = rectInWindow(world.widget(name));
      QVERIFY2(inside.contains(rect), name);
      QVERIFY2(rect.height() >= world.widget(name)->minimumSizeHint().height(), name);
      rows << rect;
    }
    for (int i = 1; i < rows.size(); ++i) QVERIFY(rows[i - 1].bottom() < rows[i].top());
    QRect footer = rectInWindow(world.widget("websiteLink")->parentWidget());
    QVERIFY(inside.contains(footer));
    QVERIFY(footer.bottom() <= inside.bottom() - 20 + 1);
  }
};

QTEST_MAIN(LauncherWindowTest)
#include "launcher_window_test.moc"
