#include "runtime/sync_record.h"

#include <algorithm>

#include "runtime/line_text.h"

namespace runtime {
namespace {

using namespace text;

constexpr std::string_view kHeader = "lanqi-launcher sync record 3";
// The earlier version: a line "flushed" or "not flushed" after the boot said it of every file.
constexpr std::string_view kEarlierHeader = "lanqi-launcher sync record 2";

void appendIdentity(std::string& out, const platform::FileIdentity& id) {
  appendNumber(out, id.device, ' ');
  appendNumber(out, id.inode, ' ');
  appendNumber(out, id.size, ' ');
  appendNumber(out, id.modifiedNs, ' ');
  appendNumber(out, id.changedNs, ' ');
  appendNumber(out, id.mode, '\0');
}

bool readIdentity(std::string_view& text, platform::FileIdentity& id, char last) {
  return readNumber(text, id.device, ' ') && readNumber(text, id.inode, ' ') && readNumber(text, id.size, ' ') &&
         readNumber(text, id.modifiedNs, ' ') && readNumber(text, id.changedNs, ' ') && readNumber(text, id.mode, last);
}

}  // namespace

size_t forgetWhatAPowerCutMayHaveTaken(SyncRecord& record, std::string_view currentBoot) {
  if (!currentBoot.empty() && record.boot == currentBoot) return 0;
  return std::erase_if(record.files, [](const RecordedFile& file) { return !file.onDisk; });
}

std::string encodeSyncRecord(const SyncRecord& record, std::string_view decodedFrom) {
  std::string out;
  out.reserve(128 * record.files.size() + 256);
  out.append(kHeader).append("\n");
  appendEscaped(out, record.embeddedRuntime);
  out.append("\nboot ");
  appendEscaped(out, record.boot);
  out.append("\nbuild ");
  appendDigest(out, record.build);
  out.append("\n").append(std::to_string(record.files.size())).append("\n");
  for (const RecordedFile& file : record.files) {
    if (!file.onDisk) out += '~';
    if (file.lineLength != 0 && file.lineAt < decodedFrom.size() &&
        file.lineLength <= decodedFrom.size() - file.lineAt) {
      out.append(decodedFrom.substr(file.lineAt, file.lineLength)).append("\n");
      continue;
    }
    appendIdentity(out, file.copy.source);
    out += '\t';
    appendIdentity(out, file.copy.copy);
    out += '\t';
    appendDigest(out, file.digest);
    out += '\t';
    appendEscaped(out, file.path);
    out += '\n';
  }
  out.append("end ").append(std::to_string(record.files.size())).append("\n");
  return out;
}

namespace {

// The record that `record.source` holds, kept alive by the record's texts.
std::optional<SyncRecord> decode(SyncRecord record) {
  const std::string_view text = record.source;
  size_t at = 0;
  std::optional<std::string_view> header = nextLine(text, at), folder = nextLine(text, at), boot = nextLine(text, at);
  const bool earlier = header && *header == kEarlierHeader;
  std::optional<std::string_view> flushed = earlier ? nextLine(text, at) : std::string_view(),
                                  build = earlier ? std::string_view("build -") : nextLine(text, at),
                                  count = nextLine(text, at);
  if (!header || (*header != kHeader && !earlier) || !folder || !boot || !boot->starts_with("boot ") || !flushed ||
      !build || !build->starts_with("build ") || !count) {
    return std::nullopt;
  }
  build->remove_prefix(6);
  if (!readDigest(*build, record.build, '\0') || !build->empty()) return std::nullopt;
  std::optional<std::string> embedded = unescaped(*folder), bootName = unescaped(boot->substr(5));
  size_t files = 0;
  if (!embedded || !bootName || (earlier && *flushed != "flushed" && *flushed != "not flushed") ||
      !readNumber(*count, files, '\0') || !count->empty()) {
    return std::nullopt;
  }
  record.embeddedRuntime = std::move(*embedded);
  record.boot = std::move(*bootName);
  // Each line takes at least a dozen bytes: a count beyond what the text can hold is refused before reserving.
  if (files > text.size() / 12) return std::nullopt;
  record.files.reserve(files);
  for (size_t i = 0; i < files; ++i) {
    std::optional<std::string_view> line = nextLine(text, at);
    if (!line) return std::nullopt;
    RecordedFile& file = record.files.emplace_back();
    file.onDisk = earlier ? *flushed == "flushed" : !line->starts_with('~');
    if (!earlier && !file.onDisk) line->remove_prefix(1);
    // A line of the earlier format is written anew: only a line of this format may be taken as it stands.
    file.lineAt = static_cast<size_t>(line->data() - text.data());
    file.lineLength = earlier ? 0 : line->size();
    if (!readIdentity(*line, file.copy.source, '\t') || !readIdentity(*line, file.copy.copy, '\t') ||
        (!earlier && !readDigest(*line, file.digest, '\t'))) {
      return std::nullopt;
    }
    if (line->find('\\') == std::string_view::npos) {
      file.path = *line;
    } else if (std::optional<std::string> plain = unescaped(*line)) {
      file.path = record.texts.keep(std::move(*plain));
    } else {
      return std::nullopt;
    }
    if (file.path.empty()) return std::nullopt;
  }
  std::optional<std::string_view> end = nextLine(text, at);
  if (!end || *end != "end " + std::to_string(files) || at != text.size()) return std::nullopt;
  // Each path once, in order: a record in any other order is not one this sync wrote.
  auto notBefore = [](const RecordedFile& a, const RecordedFile& b) {
    return platform::comparePaths(a.path, b.path) >= 0;
  };
  if (std::adjacent_find(record.files.begin(), record.files.end(), notBefore) != record.files.end()) {
    return std::nullopt;
  }
  return record;
}

}  // namespace

std::optional<SyncRecord> decodeSyncRecord(std::string text) {
  SyncRecord record;
  record.source = record.texts.keep(std::move(text));
  return decode(std::move(record));
}

std::optional<SyncRecord> decodeSyncRecord(std::shared_ptr<const platform::FileText> file) {
  SyncRecord record;
  const std::string_view text = file->text();
  record.source = record.texts.keep(std::move(file), text);
  return decode(std::move(record));
}

}  // namespace runtime
