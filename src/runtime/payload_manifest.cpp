#include "runtime/payload_manifest.h"

#include <algorithm>

namespace runtime {

using namespace text;

namespace {

// The manifest that `text`, kept alive by `manifest`'s texts, holds.
std::optional<PayloadManifest> decode(PayloadManifest manifest, std::string_view text,
                                      std::span<const std::string_view> kept) {
  size_t at = 0;
  std::optional<std::string_view> header = nextLine(text, at), whole = nextLine(text, at), count = nextLine(text, at);
  std::optional<Digest> wholeDigest;
  size_t entries = 0;
  if (!header || *header != "lanqi-launcher payload manifest 1" || !whole || !whole->starts_with("whole ") || !count ||
      !readNumber(*count, entries, '\0') || !count->empty()) {
    return std::nullopt;
  }
  whole->remove_prefix(6);
  if (!readDigest(*whole, wholeDigest, '\0') || !wholeDigest || !whole->empty()) return std::nullopt;
  manifest.whole = *wholeDigest;
  manifest.entries.reserve(std::min(entries, text.size() / 40));  // a line takes more than 40 bytes
  // A cheap look at the path's first folder (after the kind, the digest, the size and the mode), before parsing.
  auto keptHere = [&](std::string_view line) {
    const size_t size = line.find(' ', 35), mode = size == std::string_view::npos ? size : line.find(' ', size + 1);
    if (mode == std::string_view::npos) return true;  // malformed: parsed, and refused there
    const size_t slash = line.find('/', mode + 1);    // below the folder: a file named as the folder is not kept
    if (slash == std::string_view::npos) return false;
    return std::find(kept.begin(), kept.end(), line.substr(mode + 1, slash - mode - 1)) != kept.end();
  };
  for (size_t i = 0; i < entries; ++i) {
    std::optional<std::string_view> line = nextLine(text, at);
    if (!line) return std::nullopt;
    if (!keptHere(*line)) continue;
    ManifestEntry entry;
    std::optional<Digest> digest;
    if (line->size() < 2 || ((*line)[0] != 'f' && (*line)[0] != 'l') || (*line)[1] != ' ') return std::nullopt;
    entry.link = (*line)[0] == 'l';
    line->remove_prefix(2);
    std::string_view mode;
    if (!readDigest(*line, digest, ' ') || !digest || !readNumber(*line, entry.size, ' ')) return std::nullopt;
    const size_t space = line->find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    mode = line->substr(0, space);
    auto [end, error] = std::from_chars(mode.data(), mode.data() + mode.size(), entry.mode, 8);
    if (error != std::errc() || end != mode.data() + mode.size() || mode.empty()) return std::nullopt;
    const std::string_view path = line->substr(space + 1);
    if (path.find('\\') == std::string_view::npos) {
      entry.path = path;
    } else if (std::optional<std::string> plain = unescaped(path)) {
      entry.path = manifest.texts.keep(std::move(*plain));
    } else {
      return std::nullopt;
    }
    if (entry.path.empty()) return std::nullopt;
    entry.digest = *digest;
    if (!manifest.entries.empty() && platform::comparePaths(manifest.entries.back().path, entry.path) >= 0) {
      return std::nullopt;
    }
    manifest.entries.push_back(std::move(entry));
  }
  std::optional<std::string_view> end = nextLine(text, at);
  if (!end || *end != "end " + std::to_string(entries) || at != text.size()) return std::nullopt;
  return manifest;
}

}  // namespace

std::optional<PayloadManifest> decodePayloadManifest(std::string text, std::span<const std::string_view> kept) {
  PayloadManifest manifest;
  const std::string_view read = manifest.texts.keep(std::move(text));
  return decode(std::move(manifest), read, kept);
}

std::optional<PayloadManifest> decodePayloadManifest(std::shared_ptr<const platform::FileText> file,
                                                     std::span<const std::string_view> kept) {
  PayloadManifest manifest;
  const std::string_view text = file->text();
  manifest.texts.keep(std::move(file), text);
  return decode(std::move(manifest), text, kept);
}

}  // namespace runtime
