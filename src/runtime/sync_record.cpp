#include "runtime/sync_record.h"

#include <algorithm>
#include <charconv>

namespace runtime {
namespace {

constexpr std::string_view kHeader = "lanqi-launcher sync record 3";
// The earlier version: a line "flushed" or "not flushed" after the boot said it of every file.
constexpr std::string_view kEarlierHeader = "lanqi-launcher sync record 2";

// Paths may hold any byte but NUL: the line feed, the tab and the backslash are written as escapes.
void appendEscaped(std::string& out, std::string_view text) {
  if (text.find_first_of("\\\n\t") == std::string_view::npos) {  // nearly every path: as it is
    out.append(text);
    return;
  }
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      out += c;
    }
  }
}

std::optional<std::string> unescaped(std::string_view text) {
  if (text.find('\\') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
        out += '\\';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

template <class T>
void appendNumber(std::string& out, T value, char separator) {
  char digits[24];
  auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  (void)error;  // 24 characters hold every 64-bit number
  out.append(digits, end);
  if (separator != '\0') out += separator;
}

void appendIdentity(std::string& out, const platform::FileIdentity& id) {
  appendNumber(out, id.device, ' ');
  appendNumber(out, id.inode, ' ');
  appendNumber(out, id.size, ' ');
  appendNumber(out, id.modifiedNs, ' ');
  appendNumber(out, id.changedNs, ' ');
  appendNumber(out, id.mode, '\0');
}

// Reads the next line of `text` from `at` (without its line feed); none when no line feed ends it.
std::optional<std::string_view> nextLine(std::string_view text, size_t& at) {
  size_t end = text.find('\n', at);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view line = text.substr(at, end - at);
  at = end + 1;
  return line;
}

template <class T>
bool readNumber(std::string_view& text, T& value, char separator) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return false;
  text.remove_prefix(static_cast<size_t>(end - text.data()));
  if (separator == '\0') return true;
  if (text.empty() || text.front() != separator) return false;
  text.remove_prefix(1);
  return true;
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
    appendEscaped(out, file.path);
    out += '\n';
  }
  out.append("end ").append(std::to_string(record.files.size())).append("\n");
  return out;
}

std::optional<SyncRecord> decodeSyncRecord(std::string_view text) {
  size_t at = 0;
  std::optional<std::string_view> header = nextLine(text, at), folder = nextLine(text, at), boot = nextLine(text, at);
  const bool earlier = header && *header == kEarlierHeader;
  std::optional<std::string_view> flushed = earlier ? nextLine(text, at) : std::string_view(),
                                  count = nextLine(text, at);
  if (!header || (*header != kHeader && !earlier) || !folder || !boot || !boot->starts_with("boot ") || !flushed ||
      !count) {
    return std::nullopt;
  }
  SyncRecord record;
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
    file.lineAt = static_cast<size_t>(line->data() - text.data());
    file.lineLength = line->size();
    if (!readIdentity(*line, file.copy.source, '\t') || !readIdentity(*line, file.copy.copy, '\t')) return std::nullopt;
    std::optional<std::string> path = unescaped(*line);
    if (!path || path->empty()) return std::nullopt;
    file.path = std::move(*path);
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

}  // namespace runtime
