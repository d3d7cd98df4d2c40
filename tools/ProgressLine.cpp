#include "tools/ProgressLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/MessageLoop.h"
#include "session/TimeLeft.h"

namespace {

constexpr std::uintptr_t kRedrawTimer = 1;
constexpr unsigned kRedrawMs = 100;

std::string BytesOf(std::int64_t done, std::int64_t total) {
  return std::to_string(done) + "/" + std::to_string(total) + " octets";
}

// The text cut to one column less than the terminal is wide: a line that wraps is no
// longer written over by "\r", and every redraw would leave a row behind.
std::string FitToTerminal(const std::string& text) {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) return text;
  std::size_t columns = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // UTF-8 continuation bytes take no column of their own.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++columns == size.ws_col) return text.substr(0, i);
  }
  return text;
}

}  // namespace

std::string RateText(std::int64_t bytes, std::int64_t elapsedMs) {
  // Bytes per millisecond are kilo-octets per second.
  const std::int64_t kilo = bytes / elapsedMs;
  if (kilo < 1000) return std::to_string(kilo) + " Ko/s";
  const std::int64_t tenths = kilo / 100;
  return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " Mo/s";
}

std::string ProgressText(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, std::int64_t startedAt) {
  const int perMille = PerMille(done, total);
  const bool paced = elapsedMs >= 1000 && done > startedAt;
  std::string text = perMille < 0 ? std::to_string(done) + " octets"
                                  : std::to_string(perMille / 10) + " %, " + BytesOf(done, total);
  if (paced) text += ", " + RateText(done - startedAt, elapsedMs);
  const std::int64_t left = SecondsLeft(done, total, elapsedMs, startedAt);
  if (left >= 0) text += ", reste " + ClockText(left);
  return text;
}

std::string FinishedText(std::int64_t bytes, std::int64_t moved, std::int64_t elapsedMs) {
  std::string text = "100 %, " + BytesOf(bytes, bytes);
  if (elapsedMs > 0) text += ", " + RateText(moved, elapsedMs);
  return text + ", durée " + ClockText(elapsedMs / 1000);
}

TProgressLine::TProgressLine(bool enabled) : enabled_(enabled) {
  if (!enabled_) return;
  window_ = platform::MessageLoop::Current().CreateHiddenWindow([this](platform::TMessage& m) {
    if (m.Msg == platform::WM_TIMER && ticking_) Show(text_());
  });
}

TProgressLine::~TProgressLine() {
  if (window_ != 0) platform::MessageLoop::Current().DestroyWindow(window_);
}

void TProgressLine::Start(std::function<std::string()> text) {
  if (!enabled_) return;
  text_ = std::move(text);
  ticking_ = platform::MessageLoop::Current().SetTimer(window_, kRedrawTimer, kRedrawMs) != 0;
}

void TProgressLine::Stop() {
  if (!ticking_) return;
  ticking_ = false;
  platform::MessageLoop::Current().KillTimer(window_, kRedrawTimer);
}

void TProgressLine::Show(const std::string& text) {
  if (!enabled_) return;
  shown_ = true;
  std::fprintf(stderr, "\r%s\033[K", FitToTerminal(text).c_str());
  std::fflush(stderr);
}

void TProgressLine::Finish(const std::string& text) {
  if (!enabled_) return;
  std::fprintf(stderr, "\r%s\033[K\n", FitToTerminal(text).c_str());
  std::fflush(stderr);
  shown_ = false;
}

void TProgressLine::Clear() {
  if (!shown_) return;
  shown_ = false;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
}
