#include "tools/Interruption.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/MessageLoop.h"

namespace {

volatile sig_atomic_t caught = 0;
volatile sig_atomic_t wakeFd = -1;

// Async-signal-safe calls only.
void Caught(int signal) {
  if (caught == 0) caught = signal;
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  const std::uint64_t one = 1;
  if (wakeFd >= 0) (void)!::write(wakeFd, &one, sizeof one);
}

}  // namespace

TInterruption::TInterruption(std::function<void(int signal)> onSignal) : onSignal_(std::move(onSignal)) {
  fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_ < 0) return;  // the signals keep their default action
  caught = 0;
  wakeFd = fd_;
  platform::MessageLoop::Current().WatchFd(fd_, EPOLLIN, [this](std::uint32_t) { Wake(); });
  struct sigaction action {};
  action.sa_handler = &Caught;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, &previousInt_);
  ::sigaction(SIGTERM, &action, &previousTerm_);
}

TInterruption::~TInterruption() {
  if (fd_ < 0) return;
  ::sigaction(SIGINT, &previousInt_, nullptr);
  ::sigaction(SIGTERM, &previousTerm_, nullptr);
  wakeFd = -1;
  platform::MessageLoop::Current().UnwatchFd(fd_);
  ::close(fd_);
}

void TInterruption::Wake() {
  std::uint64_t count = 0;
  while (::read(fd_, &count, sizeof count) > 0) {
  }
  if (caught == 0 || delivered_) return;
  delivered_ = true;
  if (onSignal_) onSignal_(caught);
}
