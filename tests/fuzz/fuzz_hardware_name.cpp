// Arbitrary `uname -m` output: the runtime target is one of the two payloads or none, and a name is accepted
// only when it is one of the four known names once trimmed and lower-cased.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/system/text.h"
#include "runtime/runtime_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view output(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> target = runtime::runtimeTargetForHardwareName(output);
  std::string name = platform::toLower(platform::trimWhitespaceAndNewlines(platform::decodeUtf8(output)));
  bool known = name == "arm64" || name == "aarch64" || name == "x86_64" || name == "amd64";
  if (known != target.has_value()) std::abort();
  if (target && *target != "macos-arm64" && *target != "macos-x86_64") std::abort();
  return 0;
}
