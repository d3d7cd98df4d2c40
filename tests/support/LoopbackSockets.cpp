#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

namespace talvo::test {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int UniqueFd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

namespace {

std::string Describe(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool FillAddress(const std::string& host, std::uint16_t port, sockaddr_in& address) {
  address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  return ::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

}  // namespace

UniqueFd ListenLoopback(std::uint16_t port, std::string& error, int backlog) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    error = Describe("socket");
    return {};
  }
  const int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  FillAddress("127.0.0.1", port, address);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = Describe("bind");
    return {};
  }
  if (::listen(fd.Get(), backlog) != 0) {
    error = Describe("listen");
    return {};
  }
  return fd;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

UniqueFd ConnectTo(const std::string& host, std::uint16_t port, const std::string& sourceAddress,
                   Millis timeout, std::string& error) {
  sockaddr_in target{};
  if (!FillAddress(host, port, target)) {
    error = "bad address " + host;
    return {};
  }
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) {
    error = Describe("socket");
    return {};
  }
  if (!sourceAddress.empty()) {
    sockaddr_in source{};
    if (!FillAddress(sourceAddress, 0, source) ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
      error = Describe(("bind to " + sourceAddress).c_str());
      return {};
    }
  }
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
    if (errno != EINPROGRESS) {
      error = Describe("connect");
      return {};
    }
    if (WaitFor(fd.Get(), POLLOUT, -1, Clock::now() + timeout) != WaitResult::Ready) {
      error = "connect to " + host + ":" + std::to_string(port) + " timed out";
      return {};
    }
    int status = 0;
    socklen_t length = sizeof status;
    ::getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &status, &length);
    if (status != 0) {
      errno = status;
      error = Describe("connect");
      return {};
    }
  }
  ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

void EnableOption(int fd, int level, int name) {
  const int on = 1;
  ::setsockopt(fd, level, name, &on, sizeof on);
}

void ResetConnection(UniqueFd& fd) {
  if (!fd.Valid()) return;
  const linger abortive{1, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
  fd.Reset();
}

WaitResult WaitFor(int fd, short events, int stopFd, Clock::time_point deadline) {
  for (;;) {
    pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
    const int count = ::poll(fds, stopFd >= 0 ? 2 : 1, RemainingMs(deadline));
    if (count < 0 && errno == EINTR) continue;
    if (stopFd >= 0 && fds[1].revents != 0) return WaitResult::Stopped;
    // An error or hang-up counts as ready: the following call reports it.
    if (count > 0 && fds[0].revents != 0) return WaitResult::Ready;
    if (Clock::now() >= deadline) return WaitResult::TimedOut;
  }
}

bool ParsePortArgument(std::string_view argument, std::string& host, std::uint16_t& port) {
  while (!argument.empty() && argument.front() == ' ') argument.remove_prefix(1);
  while (!argument.empty() && argument.back() == ' ') argument.remove_suffix(1);
  std::vector<unsigned> numbers;
  unsigned current = 0;
  bool haveDigit = false;
  for (const char c : argument) {
    if (c >= '0' && c <= '9') {
      current = current * 10 + static_cast<unsigned>(c - '0');
      haveDigit = true;
      if (current > 255) return false;
    } else if (c == ',' && haveDigit) {
      numbers.push_back(current);
      current = 0;
      haveDigit = false;
    } else {
      return false;
    }
  }
  if (!haveDigit) return false;
  numbers.push_back(current);
  if (numbers.size() != 6) return false;
  host = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
         std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
  return true;
}

std::uint16_t PickFreePort() {
  std::string error;
  const UniqueFd probe = ListenLoopback(0, error);
  return probe.Valid() ? LocalPort(probe.Get()) : 0;
}

std::string UniqueLoopbackAddress() {
  std::random_device random;
  std::uniform_int_distribution<int> octet(1, 254);
  return "127." + std::to_string(octet(random)) + "." + std::to_string(octet(random)) + "." +
         std::to_string(octet(random));
}

}  // namespace talvo::test
