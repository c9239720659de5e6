#include "backend/progress_line.h"

#include "platform/system/text.h"

namespace backend {
namespace {

bool endsLine(char c) { return c == '\n' || c == '\r'; }

bool continues(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Appends to `line` as much of `text` as fits in the bound, cut at the end of a character. A line that is full
// also loses a character begun by an earlier piece that the rest no longer completes.
void appendBounded(std::string& line, std::string_view text) {
  size_t room = ProgressLine::kMaxLineBytes - std::min(line.size(), ProgressLine::kMaxLineBytes);
  if (text.size() <= room) {
    line.append(text);
    return;
  }
  size_t cut = room;
  while (cut > 0 && continues(text[cut])) --cut;
  line.append(text.substr(0, cut));
  if (cut == 0 && continues(text[0])) {  // the rest of the line's last character does not fit
    size_t lead = line.size();
    while (lead > 0 && continues(line[lead - 1])) --lead;
    if (lead == 0) return;
    const auto first = static_cast<unsigned char>(line[lead - 1]);
    const size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    if (line.size() - (lead - 1) < length) line.resize(lead - 1);
  }
}

}  // namespace

std::optional<std::string> ProgressLine::take(std::string_view piece, Clock::time_point now) {
  // Only the last complete non-blank line of the piece matters, with the one that the piece finishes.
  size_t lastEnd = std::string_view::npos;
  for (size_t i = piece.size(); i-- > 0;) {
    if (endsLine(piece[i])) {
      lastEnd = i;
      break;
    }
  }
  if (lastEnd == std::string_view::npos) {
    appendBounded(partial_, piece);
  } else {
    // Walk back over the complete lines of this piece to the last one that is not blank.
    size_t end = lastEnd;
    for (;;) {
      size_t start = end;
      while (start > 0 && !endsLine(piece[start - 1])) --start;
      std::string line = start == 0 ? partial_ : std::string();
      appendBounded(line, piece.substr(start, end - start));
      std::string trimmed = platform::trimWhitespaceAndNewlines(platform::decodeUtf8(line));
      if (!trimmed.empty()) {
        pending_ = std::move(trimmed);
        break;
      }
      if (start == 0) break;
      end = start - 1;
    }
    partial_.clear();
    appendBounded(partial_, piece.substr(lastEnd + 1));
  }
  if (pending_.empty() || pending_ == shown_) return std::nullopt;
  if (shownAt_ && now - *shownAt_ < interval_) return std::nullopt;
  shown_ = std::move(pending_);
  pending_.clear();
  shownAt_ = now;
  return shown_;
}

}  // namespace backend
