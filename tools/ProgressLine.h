// The console tool's progress line: one line on standard error, written over in place
// ("\r", then the text, then the rest of the line erased). While a transfer runs, a timer
// of the message loop redraws it ten times a second from what the owner reports then, so
// that it follows the transfer whatever the data does (a burst, a stall); at the end of a
// whole transfer it shows its last state and stays on screen.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/WinTypes.h"

// "45 %, 1234567/2743482 octets, 850 Ko/s, reste 0:42": the rate and the time left once a
// second has gone (the pace so far, without the `startedAt` bytes of a resumed part); only
// the bytes and the rate when the total is unknown (< 0).
std::string ProgressText(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, std::int64_t startedAt = 0);
// The last state of a whole transfer of `bytes`, `moved` of them in `elapsedMs`:
// "100 %, 2743482/2743482 octets, 1,3 Mo/s, durée 0:02".
std::string FinishedText(std::int64_t bytes, std::int64_t moved, std::int64_t elapsedMs);
// `bytes` in `elapsedMs` (> 0), in kilo- or mega-octets (1,000 and 1,000,000 bytes, as the
// log's throughput line) per second: "850 Ko/s", "12,5 Mo/s".
std::string RateText(std::int64_t bytes, std::int64_t elapsedMs);

class TProgressLine {
 public:
  explicit TProgressLine(bool enabled);
  ~TProgressLine();
  TProgressLine(const TProgressLine&) = delete;
  TProgressLine& operator=(const TProgressLine&) = delete;

  bool Enabled() const { return enabled_; }
  // Redraws the line with `text()` every 100 ms until Stop.
  void Start(std::function<std::string()> text);
  void Stop();
  void Show(const std::string& text);
  // Shows `text` and ends the line there, so that it stays above what follows.
  void Finish(const std::string& text);
  // Erases the line, if one shows.
  void Clear();

 private:
  bool enabled_;
  bool shown_ = false;
  platform::HWND window_ = 0;
  bool ticking_ = false;
  std::function<std::string()> text_;
};
