// The server side of TLS for the scripted peer: a context (certificate, key, TLS 1.2 or
// newer, a session cache and tickets so that a client may resume) and sessions over
// connected sockets, each call bounded by a deadline and cut short by a stop descriptor like
// the peer's other waits. OpenSSL stays inside the .cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "tests/support/LoopbackSockets.h"

namespace talvo::test {

class TlsServerContext {
 public:
  TlsServerContext();
  ~TlsServerContext();
  TlsServerContext(const TlsServerContext&) = delete;
  TlsServerContext& operator=(const TlsServerContext&) = delete;

  // Loads the PEM certificate and key. False with `error`.
  bool Load(const std::string& certificateFile, const std::string& keyFile, std::string& error);

 private:
  friend class TlsServerSession;
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// How a session call ended. Closed: the client ended its stream (ClosedByNotify() says
// whether with close_notify); Reset: the connection was reset or the pipe broke.
enum class TlsIo { Done, Closed, Reset, TimedOut, Stopped, Failed };

class TlsServerSession {
 public:
  TlsServerSession();
  ~TlsServerSession();
  TlsServerSession(const TlsServerSession&) = delete;
  TlsServerSession& operator=(const TlsServerSession&) = delete;

  // Takes the client's handshake on `fd` (made non-blocking; the caller keeps owning it).
  TlsIo Accept(TlsServerContext& context, int fd, Clock::time_point deadline, int stopFd,
               std::string& error);
  // Reads some plain bytes (at least one) into buffer; `got` says how many.
  TlsIo Read(char* buffer, std::size_t size, std::size_t& got, Clock::time_point deadline, int stopFd,
             std::string& error);
  // Writes some of `data` (at least one byte); `written` says how many.
  TlsIo Write(const char* data, std::size_t size, std::size_t& written, Clock::time_point deadline,
              int stopFd, std::string& error);
  // Sends close_notify (without waiting for the client's).
  TlsIo Shutdown(Clock::time_point deadline, int stopFd, std::string& error);

  // What the handshake established.
  std::string Version() const;     // "TLSv1.3"
  std::string ServerName() const;  // the client's SNI, empty without one
  bool Resumed() const;            // the client resumed an earlier session
  bool ClosedByNotify() const { return closedByNotify_; }

 private:
  template <typename Call>
  TlsIo Drive(const Call& call, Clock::time_point deadline, int stopFd, std::string& error);

  struct Handle;
  std::unique_ptr<Handle> handle_;
  int fd_ = -1;
  bool closedByNotify_ = false;
};

}  // namespace talvo::test
