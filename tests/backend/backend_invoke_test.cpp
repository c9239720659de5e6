#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>

#include "backend/backend_invoke.h"
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
