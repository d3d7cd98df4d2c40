// A small blocking FTP client for the tests of the test tools themselves (the scripted
// peer, the real servers, the TLS servers), never of the engine: plain until StartTls (a
// TLS client with OpenSSL, no verification, SNI "localhost"). Every read waits at most the
// socket's receive limit, so that a broken tool fails a test instead of hanging it.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/LoopbackSockets.h"

namespace talvo::test {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct SessionFree {
  void operator()(SSL_SESSION* session) const { SSL_SESSION_free(session); }
};
using TlsClientSession = std::unique_ptr<SSL_SESSION, SessionFree>;

class RawFtpClient {
 public:
  explicit RawFtpClient(UniqueFd fd, int limitSeconds = 10);
  // Connected to host:port (from `source` when given).
  static RawFtpClient To(const std::string& host, std::uint16_t port, int limitSeconds = 10,
                         const std::string& source = {});

  // A TLS client handshake, offering `resume` when given. False with the OpenSSL error in
  // `error` (and LastError()).
  bool StartTls(const TlsClientSession& resume = nullptr);

  // Sends every byte (with `flags`, such as MSG_OOB, on a plain connection).
  void Send(const std::string& bytes, int flags = 0);
  // One read: "" at the end of the stream; "<errno N>" when a plain read fails (a TLS read
  // that fails is an end).
  std::string ReceiveOnce();
  std::string ReceiveAll();
  // One FTP reply, multi-line ones whole, lines joined with "\n".
  std::string Reply();
  std::string Command(const std::string& line);
  // Sends close_notify and closes once the other side has closed too (a close with unread
  // bytes, such as TLS session tickets, would reset the connection).
  void Finish();

  int Fd() const { return fd_.Get(); }
  TlsClientSession TlsSession() const;
  bool Resumed() const;
  bool CloseNotify() const { return closeNotify_; }
  int LastError() const { return lastError_; }
  // The server certificate's SHA-256, "AB:CD:...".
  std::string PeerFingerprint() const;

  std::string error;

 private:
  UniqueFd fd_;
  std::unique_ptr<SSL, SslFree> ssl_;
  std::string pending_;
  bool closeNotify_ = false;
  int lastError_ = 0;
};

}  // namespace talvo::test
