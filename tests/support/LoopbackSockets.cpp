#include "tests/support/LoopbackSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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

// host:port as a socket address of the host's family (IPv4 or IPv6 text).
bool FillAddress(const std::string& host, std::uint16_t port, sockaddr_storage& address, socklen_t& length) {
  address = {};
  auto& v4 = reinterpret_cast<sockaddr_in&>(address);
  auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
  if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    length = sizeof v4;
    return true;
  }
  if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) != 1) return false;
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(port);
  length = sizeof v6;
  return true;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

}  // namespace

UniqueFd AcceptWithin(const UniqueFd& listener, Millis timeout, std::string* peerAddress) {
  if (WaitFor(listener.Get(), POLLIN, -1, Clock::now() + timeout) != WaitResult::Ready) return {};
  sockaddr_in from{};
  socklen_t length = sizeof from;
  UniqueFd fd(::accept(listener.Get(), reinterpret_cast<sockaddr*>(&from), &length));
  if (peerAddress != nullptr) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    *peerAddress = text;
  }
  return fd;
}

std::string PortCommand(std::uint16_t port) {
  return "PORT 127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

UniqueFd ListenLoopback(std::uint16_t port, std::string& error, int backlog) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) {
    error = Describe("socket");
    return {};
  }
  const int on = 1;
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_storage address{};
  socklen_t length = 0;
  FillAddress("127.0.0.1", port, address, length);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
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
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  // The port sits at the same place in both families' addresses.
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

UniqueFd ConnectTo(const std::string& host, std::uint16_t port, const std::string& sourceAddress,
                   Millis timeout, std::string& error) {
  sockaddr_storage target{};
  socklen_t targetLength = 0;
  if (!FillAddress(host, port, target, targetLength)) {
    error = "bad address " + host;
    return {};
  }
  UniqueFd fd(::socket(target.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.Valid()) {
    error = Describe("socket");
    return {};
  }
  if (!sourceAddress.empty()) {
    sockaddr_storage source{};
    socklen_t sourceLength = 0;
    if (!FillAddress(sourceAddress, 0, source, sourceLength) ||
        ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&source), sourceLength) != 0) {
      error = Describe(("bind to " + sourceAddress).c_str());
      return {};
    }
  }
  if (::connect(fd.Get(), reinterpret_cast<sockaddr*>(&target), targetLength) != 0) {
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

bool ParseEprtArgument(std::string_view argument, std::string& host, std::uint16_t& port) {
  if (argument.size() < 2) return false;
  const char d = argument.front();
  const std::size_t protocolEnd = argument.find(d, 1);
  const std::size_t hostEnd = argument.find(d, protocolEnd + 1);
  const std::size_t portEnd = argument.find(d, hostEnd + 1);
  if (portEnd == std::string_view::npos || portEnd + 1 != argument.size()) return false;
  const unsigned long number = std::strtoul(std::string(argument.substr(hostEnd + 1)).c_str(), nullptr, 10);
  if (number == 0 || number > 65535) return false;
  host = std::string(argument.substr(protocolEnd + 1, hostEnd - protocolEnd - 1));
  port = static_cast<std::uint16_t>(number);
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
