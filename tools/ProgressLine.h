// The console tool's progress line: one line on standard error, written over in place
// ("\r", then the text, then the rest of the line erased), at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// "45 %, 1234567/2743482 octets, reste 0:42"; only the bytes when the total is unknown, no
// time left until one can be told.
std::string ProgressText(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, std::int64_t startedAt = 0);

class TProgressLine {
 public:
  explicit TProgressLine(bool enabled) : enabled_(enabled) {}
  bool Enabled() const { return enabled_; }
  // Whether Show would write now: enabled, and nothing shown in the last 100 ms. Asked
  // before the text is made, which progress every 2 KB would otherwise pay for.
  bool Due() const;
  void Show(const std::string& text);
  // Erases the line, if one shows.
  void Clear();

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_;
};
