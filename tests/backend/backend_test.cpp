// The backend layer: the result decoding, one run of a script with its progress line, and the interpreter probe.
#include <signal.h>

#include "backend/backend_invoke.h"
#include "backend/backend_result.h"
#include "backend/progress_line.h"
#include "backend/python_probe.h"
#include "support/test.h"

namespace {

using backend::BackendResult;
using backend::BundledPythonStatus;
using Kind = BundledPythonStatus::Kind;
using backend::LauncherInvokeError;

const std::string kValid =
    R"({"ok":true,"code":"installed","status_text":"环境已安装","detail_text":"","show_install":false,)"
    R"("enable_launch":true,"target_url":"http://127.0.0.1:8188"})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

// In any order, escapes decoded, other members ignored (the window's tests read every member through a run).
TEST(DecodeBackendResult, ReadsAllSevenMembers) {
  auto decoded = backend::decodeBackendResult(
      R"( {"target_url":"u","enable_launch":false,"show_install":true,"detail_text":"\u5c9a\n\"q\"",)"
      R"("status_text":"s","code":"c","ok":false,"extra":{"x":[1,2,null]}} )"
      "\n");
  ASSERT_TRUE(decoded.ok()) << decoded.error().localizedDescription();
  EXPECT_EQ(decoded.value(), (BackendResult{false, "c", "s", "岚\n\"q\"", true, false, "u"}));
}

TEST(DecodeBackendResult, RejectsWhatTheContractForbids) {
  struct Row {
    const char* name;
    std::string output;
    int code;
    std::string description;
  };
  const Row rows[] = {
      {"empty", "", backend::kDataCorruptedCode, "无法读取后端输出：输出为空，不是有效的 JSON。"},
      {"second object", kValid + kValid, backend::kDataCorruptedCode, ""},
      {"array", "[" + kValid + "]", backend::kDataCorruptedCode, "无法读取后端输出：顶层值不是 JSON 对象。"},
      {"ok as number", replaced(kValid, "\"ok\":true", "\"ok\":1"), backend::kDataCorruptedCode,
       "无法读取后端输出：成员“ok”类型不符，应为布尔值（true 或 false）。"},
      {"null url", replaced(kValid, "\"http://127.0.0.1:8188\"", "null"), backend::kDataCorruptedCode,
       "无法读取后端输出：成员“target_url”为 null，应为字符串。"},
      {"missing url", replaced(kValid, ",\"target_url\":\"http://127.0.0.1:8188\"", ""), backend::kValueNotFoundCode,
       "无法读取后端输出：缺少成员“target_url”。"},
      {"NUL at the very end", kValid + std::string(1, '\0'), backend::kDataCorruptedCode, ""},
      {"NUL after the object", kValid + std::string("\0{}", 3), backend::kDataCorruptedCode,
       "无法读取后端输出：第 " + std::to_string(kValid.size() + 1) + " 个字节处不是有效的 JSON。"},
      {"NUL between members", replaced(kValid, ",\"code\"", std::string("\0,\"code\"", 8)), backend::kDataCorruptedCode,
       ""},
      {"NUL inside a string", replaced(kValid, "环境已安装", std::string("a\0b", 3)), backend::kDataCorruptedCode, ""},
      {"a log line after the object", kValid + "\nINFO: done\n", backend::kDataCorruptedCode, ""},
  };
  for (const Row& row : rows) {
    auto decoded = backend::decodeBackendResult(row.output);
    ASSERT_FALSE(decoded.ok()) << row.name;
    EXPECT_EQ(decoded.error().domain(), backend::kDecodingErrorDomain) << row.name;
    EXPECT_EQ(decoded.error().code(), row.code) << row.name;
    if (!row.description.empty()) {
      EXPECT_EQ(decoded.error().localizedDescription(), row.description) << row.name;
    }
    EXPECT_FALSE(decoded.error().localizedDescription().empty()) << row.name;
  }
}

// One backend run, end to end, with small shell scripts standing in for the Python backend (the launcher runs
// `<interpreter> <script> <action>`; here the interpreter is /bin/sh).

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
      {"printf '%s\\n' '" + kValid + "'; echo warning >&2; exit 1", "success: 环境已安装"},
      {R"(printf '{"ok": true, "code": "", "status_text": "%s", "detail_text": "", "show_install": false, )"
       R"("enable_launch": false, "target_url": ""}' "$1")",
       "success: install"},
      {"echo 'starting up'; echo '" + kValid + "'; echo '  some diagnostics  ' >&2",
       "failure: starting up\n" + kValid + "\nsome diagnostics"},
      {"printf '\\nTraceback:\\nValueError: boom\\n\\n' >&2; exit 1", "failure: Traceback:\nValueError: boom"},
      {"printf ' \\n\\t '; printf '\\n\\343\\200\\200\\n' >&2",
       "failure: 无法读取后端输出：输出为空，不是有效的 JSON。"},
      {"printf 'partial output'; kill -9 $$", "failure: partial output"},
      {"head -c 8388608 /dev/zero | tr '\\0' x >&2; echo '" + kValid + "'; head -c 8388608 /dev/zero >&2",
       "success: 环境已安装"},
  };
  testing_support::TempDir dir;
  for (const Row& row : rows) {
    writeFile(dir / "script", row.script);
    EXPECT_EQ(outcomeText(backend::invokeBackend("/bin/sh", (dir / "script").string(), "install")), row.outcome)
        << row.script.substr(0, 60);
  }
  // A NUL after the object, and whatever follows it, is no success.
  writeFile(dir / "script", "printf '%s\\000%s' '" + kValid + "' '" + kValid + "'");
  EXPECT_EQ(outcomeText(backend::invokeBackend("/bin/sh", (dir / "script").string(), "check")).rfind("failure: ", 0),
            0u);
  EXPECT_EQ(outcomeText(backend::invokeBackend("/no/such/python3.11", "script.py", "check")),
            "failure: 无法启动“/no/such/python3.11”：没有那个文件或目录（错误码 2）");
}

TEST(InvokeBackend, ReturnsAtOnceWhenTheScriptLeavesAServerHoldingItsOutput) {
  testing_support::TempDir dir;
  writeFile(dir / "script", "sleep 60 & echo $! > \"$1\"\necho '" + kValid + "'");
  auto started = std::chrono::steady_clock::now();
  auto outcome = backend::invokeBackend("/bin/sh", (dir / "script").string(), (dir / "pid").string());
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));  // the server sleeps for 60
  EXPECT_EQ(outcomeText(outcome), "success: 环境已安装");
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
      {std::string(1023, 'x') + "岚\n", 900ms, std::string(1023, 'x')},  // cut at a character's end
      {std::string(1022, 'y') + "\xE5", 1000ms, std::nullopt},           // a character split between two reads...
      {"\xB2\x9A\n", 1200ms, std::string(1022, 'y')},                    // ...that no longer fits goes whole
  };
  backend::ProgressLine progress;
  const auto start = backend::ProgressLine::Clock::now();
  for (const Step& step : steps) {
    EXPECT_EQ(progress.take(step.piece, start + step.at), step.shown) << step.piece.substr(0, 40);
  }
}

TEST(BundledPythonStatus, PicksTheEarliestExecutableOverEarlierNonExecutableOnes) {
  // Even the superuser may execute a file only when some execute bit is set, so 0644 tells the cases apart.
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, unsigned>> files;  // candidate name and mode; 0 means a dangling link
    Kind kind;
    const char* chosen;
  };
  const Row rows[] = {
      {"3.11 not executable, python3 is", {{"python3.11", 0644}, {"python3", 0755}}, Kind::executable, "python3"},
      {"only python is", {{"python3.11", 0644}, {"python3", 0644}, {"python", 0755}}, Kind::executable, "python"},
      {"two not executable", {{"python3.11", 0644}, {"python3", 0644}}, Kind::existsButNotExecutable, "python3.11"},
      {"dangling 3.11", {{"python3.11", 0}}, Kind::missing, "python3.11"},
  };
  platform::PosixFileSystem fs;
  for (const Row& row : rows) {
    TempDir root;
    for (auto [name, mode] : row.files) {
      if (mode == 0) {
        std::filesystem::create_directories(root / "python" / "bin");
        std::filesystem::create_symlink("gone", root / "python" / "bin" / name);
      } else {
        writeFile(root / "python" / "bin" / name, "#!/bin/sh\n", mode);
      }
    }
    BundledPythonStatus status = backend::bundledPythonStatus(fs, root.path());
    EXPECT_EQ(status.kind, row.kind) << row.name;
    EXPECT_EQ(status.location, root / "python/bin" / row.chosen) << row.name;
  }
}

}  // namespace
