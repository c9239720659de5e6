// The line that the window shows while a backend run is under way: the latest non-blank line that the script
// has written to standard error so far.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace backend {

// Follows standard error piece by piece and tells which line to show, at most once per `interval`, so that a
// script writing megabytes a second costs the window a few updates. Lines end at a line feed or a carriage
// return (progress bars redraw themselves with the latter); a line is decoded as UTF-8 with replacement and
// trimmed, and a very long one is cut, at a character's end. Keeps a bounded amount of text whatever arrives.
// Not thread-safe: one object follows one run on one thread.
class ProgressLine {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kMaxLineBytes = 1024;

  explicit ProgressLine(std::chrono::milliseconds interval = std::chrono::milliseconds(100)) : interval_(interval) {}

  // Takes the next piece of the stream (empty when only time has passed) at `now`. Returns the line to show
  // when there is a new one and the last was shown at least `interval` ago; a newer line that arrives sooner
  // is kept for a later call.
  std::optional<std::string> take(std::string_view piece, Clock::time_point now);

 private:
  std::chrono::milliseconds interval_;
  std::string partial_;  // the unfinished line at the end of the stream, at most kMaxLineBytes
  std::string pending_;  // the latest complete non-blank line, not shown yet
  std::string shown_;
  std::optional<Clock::time_point> shownAt_;
};

}  // namespace backend
