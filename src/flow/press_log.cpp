#include "flow/press_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace flow {
namespace {

// At most `bytes` of `text`, cut at the end of a character, with line breaks written as "\n".
std::string oneLine(const std::string& text, size_t bytes) {
  size_t cut = std::min(bytes, text.size());
  while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string line;
  for (size_t i = 0; i < cut; ++i) {
    if (text[i] == '\n') {
      line += "\\n";
    } else if (text[i] == '\r') {
      line += "\\r";
    } else {
      line += text[i];
    }
  }
  if (cut < text.size()) line += "…";
  return line;
}

std::string seconds(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", value);
  return text;
}

}  // namespace

std::string describeOutcome(const backend::RunOutcome& outcome) {
  if (const auto* failure = std::get_if<backend::LauncherInvokeError>(&outcome)) return "failed: " + failure->message;
  const auto& result = std::get<backend::BackendResult>(outcome);
  std::string text = result.ok ? "ok" : "not ok";
  text += " code=" + result.code + " status=" + result.status_text;
  if (!result.ok) text += " detail=" + result.detail_text;
  return text;
}

std::string formatPressRecord(const PressRecord& record) {
  std::string line = record.time + " " + record.action + " | preflight " + seconds(record.preflightSeconds);
  if (record.sync) {
    const runtime::SyncReport& sync = *record.sync;
    line += ", sync: " + std::to_string(sync.entriesKept) + " kept, " + std::to_string(sync.entriesReplaced) +
            " replaced, " + std::to_string(sync.filesCopied) + " files (" + std::to_string(sync.bytesCopied) +
            " bytes) copied" + (sync.recordTrusted ? "" : ", no usable record");
    if (!sync.withoutManifest.empty()) line += ", trusted by identity at the same path only: " + sync.withoutManifest;
    for (const std::string& mount : sync.mountsLeft)
      line += ", a drive mounted at " + oneLine(mount, kLogTextBytes) + " left in place";
  }
  if (record.preflightFailure) return line + " | stopped: " + oneLine(*record.preflightFailure, kLogTextBytes) + "\n";
  line += " | " + record.exit + " after " + seconds(record.runSeconds);
  return line + " | " + oneLine(record.outcome, kLogTextBytes) + "\n";
}

namespace {

void appendLine(platform::FileSystem& fileSystem, const platform::Path& logFile, const std::string& line) {
  if (!fileSystem.createDirectories(logFile.parent_path())) return;
  platform::Result<std::vector<platform::ScannedEntry>> found = fileSystem.scan(logFile, platform::TreeState::busy);
  if (found && !found.value().empty() && found.value()[0].identity.size + line.size() > kLogRotateBytes) {
    auto numbered = [&](int n) {
      std::string name = logFile.string();  // appended piece by piece: GCC 12 at -O3 warns falsely on a + chain
      name += '.';
      name += std::to_string(n);
      return platform::Path(name);
    };
    for (int n = kLogKeptFiles - 1; n >= 1; --n) (void)fileSystem.rename(numbered(n), numbered(n + 1));
    (void)fileSystem.rename(logFile, numbered(1));
  }
  (void)fileSystem.appendToFile(logFile, line);
}

}  // namespace

void appendPressRecord(platform::FileSystem& fileSystem, const platform::Path& logFile, const PressRecord& record) {
  appendLine(fileSystem, logFile, formatPressRecord(record));
}

void appendNote(platform::FileSystem& fileSystem, const platform::Path& logFile, const std::string& topic,
                const std::string& text) {
  appendLine(fileSystem, logFile, logTimeNow() + " " + topic + " | " + oneLine(text, kLogTextBytes) + "\n");
}

std::string logTimeNow() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  if (!localtime_r(&now, &local)) return "?";
  char text[64];
  return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local) ? text : "?";
}

}  // namespace flow
