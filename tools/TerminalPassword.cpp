#include "tools/TerminalPassword.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace {

// What the signal handler needs to put the terminal back: only these, set before the
// handlers and cleared after them.
volatile sig_atomic_t gRestoreFd = -1;
struct termios gSaved;

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RestoreAndRaise(int signal) {
  if (gRestoreFd >= 0) ::tcsetattr(gRestoreFd, TCSAFLUSH, &gSaved);
  // The default action then ends the program as the signal meant to.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// Echo off for its lifetime, with the signal handlers that restore the terminal.
class EchoOff {
 public:
  explicit EchoOff(int fd) : fd_(fd) {
    if (::tcgetattr(fd, &gSaved) != 0) return;
    struct sigaction action {};
    action.sa_handler = RestoreAndRaise;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &action, &previous_[i]);
    gRestoreFd = fd;
    struct termios quiet = gSaved;
    quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
    active_ = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
  }
  ~EchoOff() {
    if (gRestoreFd < 0) return;
    ::tcsetattr(fd_, TCSAFLUSH, &gSaved);
    gRestoreFd = -1;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
  bool Active() const { return active_; }

 private:
  int fd_;
  bool active_ = false;
  struct sigaction previous_[std::size(kEndingSignals)] {};
};

void WriteAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::optional<std::string> ReadTerminalPassword(int fd, const std::string& prompt) {
  if (::isatty(fd) != 1) return std::nullopt;
  std::string line;
  bool ended = false;
  {
    const EchoOff quiet(fd);
    if (!quiet.Active()) return std::nullopt;  // never read a password that would show
    // Asked once the echo is off, so that nothing typed after the question shows.
    WriteAll(2, prompt);
    char c = 0;
    for (;;) {
      const ssize_t n = ::read(fd, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      if (c == '\n' || c == '\r') {
        ended = true;
        break;
      }
      if (line.size() < kMaxPassword) line += c;
    }
  }
  WriteAll(2, "\n");  // the line end the terminal did not echo
  if (!ended && line.empty()) return std::nullopt;
  return line;
}
