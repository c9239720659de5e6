#include "backend/backend_invoke.h"

#include <chrono>
#include <utility>

#include "backend/progress_line.h"
#include "platform/system/process.h"
#include "platform/system/text.h"

namespace backend {

std::string failureText(std::string_view outputBytes, std::string_view errorBytes,
                        const platform::Error& decodingError) {
  std::string errorText = platform::trimWhitespaceAndNewlines(platform::decodeUtf8(errorBytes));
  std::string outputText = platform::trimWhitespaceAndNewlines(platform::decodeUtf8(outputBytes));
  std::string joined;
  for (const std::string* part : {&outputText, &errorText}) {
    if (part->empty()) continue;
    if (!joined.empty()) joined += '\n';
    joined += *part;
  }
  return joined.empty() ? decodingError.localizedDescription() : joined;
}

RunOutcome invokeBackend(const std::string& pythonPath, const std::string& scriptPath, const std::string& action,
                         const std::function<void(const std::string&)>& onProgress, RunFacts* facts,
                         const std::function<void()>& onRunning) {
  const auto started = std::chrono::steady_clock::now();
  ProgressLine progress;
  bool running = false;
  std::function<void(std::string_view)> watch;  // none when nobody asks: the run is then not woken by ticks
  if (onProgress || onRunning) {
    watch = [&](std::string_view piece) {
      if (onRunning && !std::exchange(running, true)) onRunning();
      if (!onProgress) return;
      if (std::optional<std::string> line = progress.take(piece, ProgressLine::Clock::now())) onProgress(*line);
    };
  }
  platform::Result<platform::ProcessOutput> run = platform::runProcess(pythonPath, {scriptPath, action}, watch);
  if (facts) {
    facts->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    facts->exit = !run                         ? "not started"
                  : run.value().exitedNormally ? "exit " + std::to_string(run.value().exitStatus)
                                               : "signal " + std::to_string(run.value().terminationSignal);
  }
  if (!run) return LauncherInvokeError{run.error().localizedDescription()};
  const platform::ProcessOutput& output = run.value();
  platform::Result<BackendResult> decoded = decodeBackendResult(output.standardOutput);
  if (decoded) return std::move(decoded).value();
  return LauncherInvokeError{failureText(output.standardOutput, output.standardError, decoded.error())};
}

}  // namespace backend
