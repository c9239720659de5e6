#include "runtime/runtime_target.h"

#include "platform/system/process.h"
#include "platform/system/text.h"
#include "runtime/runtime_layout.h"

namespace runtime {

std::optional<std::string> runtimeTargetForHardwareName(std::string_view unameOutput) {
  const std::string name = platform::toLower(platform::trimWhitespaceAndNewlines(platform::decodeUtf8(unameOutput)));
  if (name == "arm64" || name == "aarch64") return arm64RuntimeDirectoryName;
  if (name == "x86_64" || name == "amd64") return x86RuntimeDirectoryName;
  return std::nullopt;
}

std::optional<std::string> detectRuntimeTarget(const platform::Path& unameTool) {
  platform::Result<platform::ProcessOutput> run = platform::runProcess(unameTool, {"-m"});
  if (!run) return std::nullopt;
  const platform::ProcessOutput& output = run.value();
  if (!output.exitedNormally || output.exitStatus != 0) return std::nullopt;
  return runtimeTargetForHardwareName(output.standardOutput);
}

}  // namespace runtime
