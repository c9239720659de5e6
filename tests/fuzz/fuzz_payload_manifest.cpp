// Arbitrary bytes where the bundle's payload manifest should be: never taken unless whole and well formed, its
// entries in order, each once, with only the payloads asked for.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/payload_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view kept[] = {"common", "macos-arm64"};
  std::optional<runtime::PayloadManifest> manifest = runtime::decodePayloadManifest(std::string(text), kept);
  if (!manifest) return 0;
  for (size_t i = 0; i < manifest->entries.size(); ++i) {
    const std::string_view path = manifest->entries[i].path;
    if (!path.starts_with("common/") && !path.starts_with("macos-arm64/")) std::abort();
    if (i > 0 && platform::comparePaths(manifest->entries[i - 1].path, path) >= 0) std::abort();
  }
  // A manifest that lost its last byte (a write cut short) is never taken.
  if (runtime::decodePayloadManifest(std::string(text.substr(0, size - 1)), kept)) std::abort();
  return 0;
}
