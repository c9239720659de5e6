// The payload manifest that the build writes into the bundle's resources (tools/payload-manifest): each file and
// link below "runtime" with a digest of its content, its size and its mode, and one digest of the whole. A press
// reads it, never the payload's contents.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/fs.h"
#include "runtime/line_text.h"

namespace runtime {

// The manifest's file in the bundle's resources folder.
inline constexpr const char* kPayloadManifestName = "payload-manifest";

struct ManifestEntry {
  std::string_view path;  // below "runtime": "common/README.md", "macos-arm64/python/bin/python3.11"
  bool link = false;
  text::Digest digest{};
  std::uint64_t size = 0;
  unsigned mode = 0;
};

struct PayloadManifest {
  text::Digest whole{};  // one build's payload
  // In the order of platform::comparePaths, each path once.
  std::vector<ManifestEntry> entries;
  text::SharedTexts texts;  // what the entries' paths point into
};

// The manifest that `text` holds, with only the entries below the folders `kept` ("common", "macos-arm64");
// none when it is not whole and well formed, or not in order.
std::optional<PayloadManifest> decodePayloadManifest(std::string text, std::span<const std::string_view> kept);
// The same, for the manifest's file as it was mapped (kept alive by the manifest).
std::optional<PayloadManifest> decodePayloadManifest(std::shared_ptr<const platform::FileText> file,
                                                     std::span<const std::string_view> kept);

}  // namespace runtime
