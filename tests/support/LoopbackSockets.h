// Small blocking-socket helpers for the test support code: an owning descriptor, a
// loopback listener, a connect with a time limit, waits that a stop descriptor can cut
// short, and the PORT argument. POSIX only; nothing here knows the engine.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo::test {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

// Owns one file descriptor; closes it when replaced or destroyed.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release();
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A TCP listener on 127.0.0.1; port 0 picks a free one. Invalid on failure, with `error`.
UniqueFd ListenLoopback(std::uint16_t port, std::string& error, int backlog = 8);

// One connection accepted on `listener` within `timeout` (invalid when none came); the
// peer's IPv4 address in `peerAddress` when given.
UniqueFd AcceptWithin(const UniqueFd& listener, Millis timeout, std::string* peerAddress = nullptr);

// "PORT 127,0,0,1,p1,p2" for a port of 127.0.0.1.
std::string PortCommand(std::uint16_t port);

// The local port of a bound socket, 0 on failure.
std::uint16_t LocalPort(int fd);

// Connects to host:port (IPv4 or IPv6) within `timeout`. A non-empty `sourceAddress` binds
// the local end to that address first (e.g. "127.0.0.2"). The returned socket is blocking.
UniqueFd ConnectTo(const std::string& host, std::uint16_t port, const std::string& sourceAddress,
                   Millis timeout, std::string& error);

// Sets a boolean socket option (SO_OOBINLINE, TCP_NODELAY, ...).
void EnableOption(int fd, int level, int name);

// Aborts the connection: SO_LINGER 0, then close, so the other end sees a reset.
void ResetConnection(UniqueFd& fd);

enum class WaitResult { Ready, TimedOut, Stopped };

// Waits until `fd` has `events` (poll flags) or `deadline` passes; a readable `stopFd`
// (may be -1) ends the wait as Stopped.
WaitResult WaitFor(int fd, short events, int stopFd, Clock::time_point deadline);

// Parses "h1,h2,h3,h4,p1,p2" (blanks around the text are ignored).
bool ParsePortArgument(std::string_view argument, std::string& host, std::uint16_t& port);

// Parses RFC 2428's "|2|::1|6446|" (any delimiter); the protocol number is not checked.
bool ParseEprtArgument(std::string_view argument, std::string& host, std::uint16_t& port);

// A free loopback port at the time of the call (another process may take it later).
std::uint16_t PickFreePort();

// A random address of 127.0.0.0/8 outside 127.0.0.x ("127.83.17.5"): a server of its own
// there is told apart from every other loopback connection of the machine.
std::string UniqueLoopbackAddress();

}  // namespace talvo::test
