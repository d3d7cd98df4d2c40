#include "tools/ProgressLine.h"

#include <cstdio>

#include "session/TimeLeft.h"

std::string ProgressText(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, std::int64_t startedAt) {
  const int perMille = PerMille(done, total);
  if (perMille < 0) return std::to_string(done) + " octets";
  std::string text = std::to_string(perMille / 10) + " %, " + std::to_string(done) + "/" + std::to_string(total) +
                     " octets";
  const std::int64_t left = SecondsLeft(done, total, elapsedMs, startedAt);
  if (left >= 0) text += ", reste " + ClockText(left);
  return text;
}

bool TProgressLine::Due() const {
  return enabled_ && (!shown_ || std::chrono::steady_clock::now() - last_ >= std::chrono::milliseconds(100));
}

void TProgressLine::Show(const std::string& text) {
  if (!Due()) return;
  last_ = std::chrono::steady_clock::now();
  shown_ = true;
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
}

void TProgressLine::Clear() {
  if (!shown_) return;
  shown_ = false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}
