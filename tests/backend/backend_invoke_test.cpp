#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>

#include "backend/backend_invoke.h"
#include "backend/progress_line.h"
#include "support/temp_dir.h"

namespace {

using backend::BackendResult;
using backend::LauncherInvokeError;

std::string messageOf(const backend::RunOutcome& outcome) {
  const auto* failure = std::get_if<LauncherInvokeError>(&outcome);
  return failure ? failure->message : "<success>";
}

TEST(InvokeBackend, SucceedsOnAValidObjectWhateverTheExitStatus) {
  auto outcome = backend::invokeBackend(FAKE_BACKEND, "/runtime/scripts/valid-exit1", "check");
  ASSERT_TRUE(std::holds_alternative<BackendResult>(outcome)) << messageOf(outcome);
  EXPECT_EQ(std::get<BackendResult>(outcome).status_text, "环境正常");

  auto echoed = backend::invokeBackend(FAKE_BACKEND, "echo-action", "install");
  ASSERT_TRUE(std::holds_alternative<BackendResult>(echoed));
  EXPECT_EQ(std::get<BackendResult>(echoed).status_text, "install");
}

TEST(InvokeBackend, FailureTextComesFromTheScriptsOwnOutput) {
  struct Row {
    const char* mode;
    std::string message;
  };
  const std::string valid =
      R"({"ok": true, "code": "ready", "status_text": "环境正常", "detail_text": "", "show_install": false,)"
      R"( "enable_launch": true, "target_url": ""})";
  const Row rows[] = {
      {"log-then-valid", "starting up\n" + valid + "\nsome diagnostics"},
      {"traceback", "Traceback (most recent call last):\n  File \"x.py\", line 1\nValueError: boom"},
      {"nothing", "无法读取后端输出：输出为空，不是有效的 JSON。"},
      {"whitespace", "无法读取后端输出：输出为空，不是有效的 JSON。"},
      {"invalid-utf8", "bad \xEF\xBF\xBD( bytes \xEF\xBF\xBD end"},
      {"signal", "partial output"},
  };
  for (const Row& row : rows) {
    auto outcome = backend::invokeBackend(FAKE_BACKEND, row.mode, "check");
    EXPECT_EQ(messageOf(outcome), row.message) << row.mode;
  }
  auto missingUrl = backend::invokeBackend(FAKE_BACKEND, "missing-target-url", "check");
  EXPECT_EQ(messageOf(missingUrl).rfind("{\"ok\": true", 0), 0u);
}

TEST(InvokeBackend, StartFailureCarriesTheStartErrorAndRunsNothing) {
  auto outcome = backend::invokeBackend("/no/such/python3.11", "script.py", "check");
  EXPECT_EQ(messageOf(outcome), "无法启动“/no/such/python3.11”：没有那个文件或目录（错误码 2）");
}

TEST(InvokeBackend, ReturnsAtOnceWhenTheScriptLeavesAServerHoldingItsOutput) {
  testing_support::TempDir dir;
  auto started = std::chrono::steady_clock::now();
  auto outcome = backend::invokeBackend(FAKE_BACKEND, "background-holder", (dir / "pid").string());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));  // the server sleeps for 60
  EXPECT_TRUE(std::holds_alternative<BackendResult>(outcome)) << messageOf(outcome);
  int pid = 0;
  std::ifstream(dir / "pid") >> pid;
  if (pid > 0) ::kill(pid, SIGKILL);
}

}  // namespace

namespace {

// What the window's progress line shows for each piece of standard error, and how often it changes.
TEST(ProgressLine, ShowsTheLatestNonBlankLineAtMostTenTimesASecond) {
  using namespace std::chrono_literals;
  struct Step {
    std::string piece;
    std::chrono::milliseconds at;
    std::optional<std::string> shown;
  };
  const std::string longLine = std::string(1023, 'x') + "岚" + "\n";  // cut at a character's end
  const std::vector<Step> steps = {
      {"正在安装 1/12：", 0ms, std::nullopt},           // not a line yet
      {"torch\n  \n\n", 10ms, "正在安装 1/12：torch"},  // blank lines after it do not count
      {"正在安装 2/12\n", 50ms, std::nullopt},          // too soon: kept
      {"", 120ms, "正在安装 2/12"},                     // shown once time has passed
      {"Downloading 10%\rDownloading 20%\r", 300ms, "Downloading 20%"},
      {"Downloading 20%\n", 500ms, std::nullopt},  // the same line again is no change
      {"bad \xff byte\n", 700ms, "bad \uFFFD byte"},
      {longLine, 900ms, std::string(1023, 'x')},
  };
  backend::ProgressLine progress;
  const auto start = backend::ProgressLine::Clock::now();
  for (const Step& step : steps) {
    EXPECT_EQ(progress.take(step.piece, start + step.at), step.shown) << step.piece.substr(0, 40);
  }
}

TEST(InvokeBackend, TellsProgressWhileTheScriptRunsAndKeepsTheOutcome) {
  testing_support::TempDir dir;
  testing_support::writeScript(dir / "script", R"(echo '正在安装 1/2：a' >&2; sleep 0.3; echo '正在安装 2/2：b' >&2
sleep 0.3; echo '{"ok": true, "code": "", "status_text": "s", "detail_text": "", "show_install": false, "enable_launch": false, "target_url": ""}')");
  std::vector<std::string> lines;
  auto outcome = backend::invokeBackend("/bin/sh", (dir / "script").string(), "install",
                                        [&](const std::string& line) { lines.push_back(line); });
  ASSERT_TRUE(std::holds_alternative<BackendResult>(outcome)) << messageOf(outcome);
  EXPECT_EQ(lines, (std::vector<std::string>{"正在安装 1/2：a", "正在安装 2/2：b"}));
}

}  // namespace
