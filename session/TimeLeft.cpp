#include "session/TimeLeft.h"

#include <cmath>

int PerMille(std::int64_t done, std::int64_t total) {
  if (total < 0) return -1;
  if (total == 0 || done >= total) return 1000;
  if (done <= 0) return 0;
  return static_cast<int>(static_cast<double>(done) * 1000.0 / static_cast<double>(total));
}

std::int64_t SecondsLeft(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, std::int64_t startedAt) {
  const std::int64_t moved = done - startedAt;
  if (total < 0 || moved <= 0 || elapsedMs < 1000) return -1;
  if (done >= total) return 0;
  // In floating point: bytes times milliseconds overflows 64 bits for large files.
  const double left = static_cast<double>(total - done) * static_cast<double>(elapsedMs) /
                      static_cast<double>(moved) / 1000.0;
  return static_cast<std::int64_t>(std::ceil(left));
}

std::string ClockText(std::int64_t seconds) {
  // Built by appends: GCC 12 at -O3 warns of a false overlap in "0" + std::to_string(n).
  const auto appendTwo = [](std::string& text, std::int64_t n) {
    text += ':';
    if (n < 10) text += '0';
    text += std::to_string(n);
  };
  const std::int64_t hours = seconds / 3600, minutes = seconds / 60 % 60, rest = seconds % 60;
  std::string text = std::to_string(hours > 0 ? hours : minutes);
  if (hours > 0) appendTwo(text, minutes);
  appendTwo(text, rest);
  return text;
}
