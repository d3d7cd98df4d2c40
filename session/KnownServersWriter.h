// Remembers a server for a session without ever waiting on the loop thread: the lock of the
// known-servers file is taken without blocking, and while another process holds it the
// change is tried again from a timer, for up to TKnownServers::kLockWaitMs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/WinTypes.h"
#include "session/KnownServers.h"

class TKnownServersWriter {
 public:
  static constexpr unsigned kRetryMs = 50;

  TKnownServersWriter() = default;
  ~TKnownServersWriter() { Stop(); }
  TKnownServersWriter(const TKnownServersWriter&) = delete;
  TKnownServersWriter& operator=(const TKnownServersWriter&) = delete;

  // See TKnownServers::TryRemember. `failed` runs once when the change cannot be made: at
  // once when the file cannot be written, or from the loop when the lock stayed taken. A
  // change still waiting is replaced.
  void Remember(const TKnownServers& known, const std::string& name, const std::string& address, std::uint16_t port,
                const std::string& fingerprint, std::function<void()> failed);
  // Gives up a change still waiting (nothing is reported).
  void Stop();
  bool Waiting() const { return window_ != 0; }

 private:
  void Retry();

  platform::HWND window_ = 0;
  std::string path_, name_, address_, fingerprint_;
  std::uint16_t port_ = 0;
  unsigned triesLeft_ = 0;
  std::function<void()> failed_;
};
