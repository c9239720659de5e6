// Running the backend script once and turning what it printed into a run outcome.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "backend/backend_result.h"

namespace backend {

// Failure of one backend run; `message` is the text shown to the user.
struct LauncherInvokeError {
  std::string message;
  friend bool operator==(const LauncherInvokeError&, const LauncherInvokeError&) = default;
};

// Exactly one of success (a decoded result) or failure (a message).
using RunOutcome = std::variant<BackendResult, LauncherInvokeError>;

// Runs `pythonPath scriptPath action` (no shell, no extra interpreter options) with the launcher's own
// standard input, environment and working directory, waits for the script to end and decodes its standard
// output. The exit status is not consulted. Never fails otherwise: a child that cannot start gives the start
// error's description as the message, undecodable output gives `failureText`. Blocks the calling thread; any
// thread may call it.
//
// While the script runs, `onProgress` (when given) is told the latest non-blank line of its standard error, at
// most about ten times a second, on the calling thread (see `ProgressLine`). The outcome does not depend on it.
//
// `facts`, when given, receives how the script ended and how long it ran, for the launcher's log.
//
// `onRunning` (when given) is called once, on the calling thread, when the script has been running for a moment:
// at its first output, or after about a tenth of a second, or when it ends, whichever comes first.
struct RunFacts {
  std::string exit;  // "exit 0", "signal 9" or "not started"
  double seconds = 0;
};
RunOutcome invokeBackend(const std::string& pythonPath, const std::string& scriptPath, const std::string& action,
                         const std::function<void(const std::string& line)>& onProgress = nullptr,
                         RunFacts* facts = nullptr, const std::function<void()>& onRunning = nullptr);

// The message for output that did not decode: the trimmed standard output and the trimmed standard error (each
// decoded as UTF-8 with replacement), joined by one line feed, empty parts left out; when both are blank, the
// description of the decoding error.
std::string failureText(std::string_view outputBytes, std::string_view errorBytes,
                        const platform::Error& decodingError);

}  // namespace backend
