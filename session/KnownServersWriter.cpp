#include "session/KnownServersWriter.h"

#include "platform/MessageLoop.h"

using platform::MessageLoop;

void TKnownServersWriter::Remember(const TKnownServers& known, const std::string& name, const std::string& address,
                                   std::uint16_t port, const std::string& fingerprint, std::function<void()> failed) {
  Stop();
  const TKnownServers::TChange change = known.TryRemember(name, address, port, fingerprint);
  if (change == TKnownServers::TChange::Done) return;
  if (change == TKnownServers::TChange::Failed) {
    if (failed) failed();
    return;
  }
  path_ = known.Path();
  name_ = name;
  address_ = address;
  port_ = port;
  fingerprint_ = fingerprint;
  failed_ = std::move(failed);
  triesLeft_ = TKnownServers::kLockWaitMs / kRetryMs;
  window_ = MessageLoop::Current().CreateHiddenWindow([this](platform::TMessage& m) {
    if (m.Msg == platform::WM_TIMER) Retry();
  });
  MessageLoop::Current().SetTimer(window_, 1, kRetryMs);
}

void TKnownServersWriter::Stop() {
  if (window_ == 0) return;
  MessageLoop::Current().KillTimer(window_, 1);
  MessageLoop::Current().DestroyWindow(window_);
  window_ = 0;
  failed_ = nullptr;
}

void TKnownServersWriter::Retry() {
  const TKnownServers::TChange change = TKnownServers(path_).TryRemember(name_, address_, port_, fingerprint_);
  if (change == TKnownServers::TChange::Busy && --triesLeft_ > 0) return;
  std::function<void()> failed = std::move(failed_);
  Stop();
  if (change != TKnownServers::TChange::Done && failed) failed();
}
