// The launcher's own log: one record per press, kept where the system keeps an application's logs, so that a
// failure leaves a trace once the window is closed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "backend/backend_invoke.h"
#include "platform/system/fs.h"
#include "runtime/runtime_sync.h"

namespace flow {

// The log rotates when a record would take it past this size; this many older files are kept
// (launcher.log.1 the newest).
inline constexpr std::uint64_t kLogRotateBytes = 1 << 20;
inline constexpr int kLogKeptFiles = 3;
// A failure text or status text is kept up to this many bytes (whole characters).
inline constexpr size_t kLogTextBytes = 4096;

// What one press did.
struct PressRecord {
  std::string time;    // when it began, local time
  std::string action;  // "check", "install" or "launch"
  double preflightSeconds = 0;
  std::optional<runtime::SyncReport> sync;      // when the sync ran to its end
  std::optional<std::string> preflightFailure;  // the red status and its detail, when the checks stopped the press
  std::string exit;  // how the script ended ("exit 0", "signal 9", "not started"); empty when it did not run
  double runSeconds = 0;
  std::string outcome;  // "ok code=… status=…", "not ok …", or "failed: <failure text>"
};

// How the log names a run's outcome: "ok code=… status=…", "not ok code=… status=… detail=…", or "failed: …".
std::string describeOutcome(const backend::RunOutcome& outcome);

// The record as one line: line breaks inside the texts are written as "\n", long texts shortened.
std::string formatPressRecord(const PressRecord& record);

// Appends the record to `logFile`, making its folder when missing and rotating it by size first. Never fails
// and never throws: a log that cannot be written is skipped silently. Any thread may call it, one at a time.
void appendPressRecord(platform::FileSystem& fileSystem, const platform::Path& logFile, const PressRecord& record);

// Appends one line about the launcher itself ("<time> <topic> | <text>"), as appendPressRecord does: for what a
// user should find when the launcher behaves otherwise than usual ("start": later starts will not find this
// launcher; "flush": what a press copied is not known to be on the disk).
void appendNote(platform::FileSystem& fileSystem, const platform::Path& logFile, const std::string& topic,
                const std::string& text);

// The local time now, as the log writes it: "2026-12-07 14:03:21 +0800".
std::string logTimeNow();

}  // namespace flow
