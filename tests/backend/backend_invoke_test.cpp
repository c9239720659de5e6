// One backend run, end to end, with small shell scripts standing in for the Python backend (the launcher runs
// `<interpreter> <script> <action>`; here the interpreter is /bin/sh).
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

const std::string kValid =
    R"({"ok": true, "code": "ready", "status_text": "环境正常", "detail_text": "", "show_install": false,)"
    R"( "enable_launch": true, "target_url": ""})";

std::string outcomeText(const backend::RunOutcome& outcome) {
  if (const auto* failure = std::get_if<LauncherInvokeError>(&outcome)) return "failure: " + failure->message;
  return "success: " + std::get<BackendResult>(outcome).status_text;
}

// What each kind of script output becomes: the exit status never counts, the failure text is the script's own
// output (standard output, then standard error, each trimmed), and megabytes on both streams are drained.
TEST(InvokeBackend, TheOutcomeComesFromStandardOutputAlone) {
  struct Row {
    std::string script;
    std::string outcome;
  };
  const Row rows[] = {
      {"printf '%s\\n' '" + kValid + "'; echo warning >&2; exit 1", "success: 环境正常"},
      {R"(printf '{"ok": true, "code": "", "status_text": "%s", "detail_text": "", "show_install": false, )"
       R"("enable_launch": false, "target_url": ""}' "$1")",
       "success: install"},
      {"echo 'starting up'; echo '" + kValid + "'; echo '  some diagnostics  ' >&2",
       "failure: starting up\n" + kValid + "\nsome diagnostics"},
      {"printf '\\nTraceback:\\nValueError: boom\\n\\n' >&2; exit 1", "failure: Traceback:\nValueError: boom"},
      {"printf ' \\n\\t '; printf '\\n\\343\\200\\200\\n' >&2",
       "failure: 无法读取后端输出：输出为空，不是有效的 JSON。"},
      {"printf 'bad \\303( bytes \\360\\237\\230 end'", "failure: bad \xEF\xBF\xBD( bytes \xEF\xBF\xBD end"},
      {"printf 'partial output'; kill -9 $$", "failure: partial output"},
      {"head -c 8388608 /dev/zero | tr '\\0' x >&2; echo '" + kValid + "'; head -c 8388608 /dev/zero >&2",
       "success: 环境正常"},
  };
  testing_support::TempDir dir;
  for (const Row& row : rows) {
    testing_support::writeFile(dir / "script", row.script);
    EXPECT_EQ(outcomeText(backend::invokeBackend("/bin/sh", (dir / "script").string(), "install")), row.outcome)
        << row.script.substr(0, 60);
  }
  EXPECT_EQ(outcomeText(backend::invokeBackend("/no/such/python3.11", "script.py", "check")),
            "failure: 无法启动“/no/such/python3.11”：没有那个文件或目录（错误码 2）");
}

TEST(InvokeBackend, ReturnsAtOnceWhenTheScriptLeavesAServerHoldingItsOutput) {
  testing_support::TempDir dir;
  testing_support::writeFile(dir / "script", "sleep 60 & echo $! > \"$1\"\necho '" + kValid + "'");
  auto started = std::chrono::steady_clock::now();
  auto outcome = backend::invokeBackend("/bin/sh", (dir / "script").string(), (dir / "pid").string());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));  // the server sleeps for 60
  EXPECT_EQ(outcomeText(outcome), "success: 环境正常");
  int pid = 0;
  std::ifstream(dir / "pid") >> pid;
  if (pid > 0) ::kill(pid, SIGKILL);
}

// What the window's progress line shows for each piece of standard error, and how often it changes.
TEST(ProgressLine, ShowsTheLatestNonBlankLineAtMostTenTimesASecond) {
  using namespace std::chrono_literals;
  struct Step {
    std::string piece;
    std::chrono::milliseconds at;
    std::optional<std::string> shown;
  };
  const std::vector<Step> steps = {
      {"正在安装 1/12：", 0ms, std::nullopt},           // not a line yet
      {"torch\n  \n\n", 10ms, "正在安装 1/12：torch"},  // blank lines after it do not count
      {"正在安装 2/12\n", 50ms, std::nullopt},          // too soon: kept
      {"", 120ms, "正在安装 2/12"},                     // shown once time has passed
      {"Downloading 10%\rDownloading 20%\r", 300ms, "Downloading 20%"},
      {"Downloading 20%\n", 500ms, std::nullopt},  // the same line again is no change
      {"bad \xff byte\n", 700ms, "bad \uFFFD byte"},
      {std::string(1023, 'x') + "岚\n", 900ms, std::string(1023, 'x')},  // cut at a character's end
  };
  backend::ProgressLine progress;
  const auto start = backend::ProgressLine::Clock::now();
  for (const Step& step : steps) {
    EXPECT_EQ(progress.take(step.piece, start + step.at), step.shown) << step.piece.substr(0, 40);
  }
}

}  // namespace
