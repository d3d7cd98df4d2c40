// The bare FTP session the benchmark baselines share: a blocking control connection to a
// loopback server, anonymous login, TYPE I, and an active-mode data connection (PORT) that
// the caller then reads or writes with poll and 2048-byte calls. Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bare {

constexpr int kChunk = 2048;
constexpr int kWaitMs = 30000;

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "baseline: %s\n", what.c_str());
  std::exit(1);
}

[[noreturn]] inline void FailErrno(const std::string& what) { Fail(what + ": " + std::strerror(errno)); }

class Session {
 public:
  explicit Session(int port) {
    control_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (control_ < 0) FailErrno("socket");
    const timeval limit{kWaitMs / 1000, 0};
    ::setsockopt(control_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_in server = Loopback(static_cast<std::uint16_t>(port));
    if (::connect(control_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) FailErrno("connect");
    Expect('2', "greeting");
    Send("USER anonymous");
    if (Reply() == '3') {
      Send("PASS x");
      Expect('2', "PASS");
    }
    Send("TYPE I");
    Expect('2', "TYPE I");
  }

  ~Session() {
    Send("QUIT");
    ::close(control_);
  }

  // Sends PORT and then COMMAND (RETR or STOR); returns the accepted, non-blocking data socket.
  int OpenData(const std::string& command) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = Loopback(0);
    socklen_t length = sizeof local;
    auto* address = reinterpret_cast<sockaddr*>(&local);
    if (listener < 0 || ::bind(listener, address, sizeof local) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, address, &length) != 0) {
      FailErrno("data listener");
    }
    const unsigned port = ntohs(local.sin_port);
    Send("PORT 127,0,0,1," + std::to_string(port >> 8) + "," + std::to_string(port & 0xff));
    Expect('2', "PORT");
    Send(command);
    Expect('1', command);
    pollfd waiting{listener, POLLIN, 0};
    if (::poll(&waiting, 1, kWaitMs) != 1) Fail("no data connection");
    const int data = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
    if (data < 0) FailErrno("accept");
    ::close(listener);
    return data;
  }

  // Waits until FD is ready for EVENTS, or fails after the bounded wait.
  static void Wait(int fd, short events) {
    pollfd waiting{fd, events, 0};
    if (::poll(&waiting, 1, kWaitMs) != 1) Fail("data connection stalled");
  }

  void ExpectTransferComplete() { Expect('2', "transfer"); }

 private:
  static sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  void Send(const std::string& command) {
    const std::string line = command + "\r\n";
    const ssize_t sent = ::send(control_, line.data(), line.size(), MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(line.size())) FailErrno("send");
  }

  // Reads one whole reply (multi-line replies end with "ddd "); returns its first digit.
  char Reply() {
    for (;;) {
      const std::string line = Line();
      if (line.size() >= 4 && line[3] == ' ' && line[0] >= '1' && line[0] <= '5') return line[0];
    }
  }

  void Expect(char digit, const std::string& what) {
    if (Reply() != digit) Fail("unexpected reply to " + what);
  }

  std::string Line() {
    std::string line;
    for (;;) {
      const auto end = pending_.find('\n');
      if (end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      char buffer[512];
      const ssize_t n = ::recv(control_, buffer, sizeof buffer, 0);
      if (n <= 0) Fail("control connection closed");
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  int control_ = -1;
  std::string pending_;
};

}  // namespace bare
