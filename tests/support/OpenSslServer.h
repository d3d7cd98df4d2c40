// `openssl s_server` from Debian on a free 127.0.0.1 port, started and stopped by the test,
// with two self-signed certificates the fixture makes with the openssl command in a
// throw-away tree: kName's, served to a client that asks for that name by SNI, and
// kFallbackName's, served to any other. The plain bytes the client sends come out on the
// server's standard output; what the test writes to its standard input goes to the client.
// Both directions run on helper threads, so that the test thread's loop drives the client
// meanwhile. The server logs its protocol messages, so a test can see a close_notify come.
//
//   OpenSslServer server({"-tls1_2"});
//   ASSERT_TRUE(server.Start()) << server.Error();
//   ... connect to 127.0.0.1:server.Port() with ServerName OpenSslServer::kName ...
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ServerProcess.h"
#include "tests/support/TempTree.h"

namespace talvo::test {

class OpenSslServer {
 public:
  static constexpr const char* kName = "tls.test";
  static constexpr const char* kFallbackName = "fallback.test";

  explicit OpenSslServer(std::vector<std::string> extraArgs = {});
  ~OpenSslServer();
  OpenSslServer(const OpenSslServer&) = delete;
  OpenSslServer& operator=(const OpenSslServer&) = delete;

  // Makes the certificates (once), starts the server and waits until it accepts.
  bool Start();
  void Stop();
  // Ends the server with SIGKILL: its connection closes without close_notify.
  void Kill();
  const std::string& Error() const { return error_; }
  std::uint16_t Port() const { return port_; }

  // PEM files: the certificate of `name` (kName or kFallbackName); both certificates.
  std::string CertificateFile(const std::string& name) const;
  std::string BothCertificatesFile() const;
  // A directory in OpenSSL's hashed layout (as /etc/ssl/certs) holding kName's certificate;
  // empty with Error() on failure.
  std::string TrustDirectory();
  // The certificate's SHA-256 fingerprint as `openssl x509 -noout -fingerprint -sha256`
  // prints it (the text after '='); empty with Error() on failure.
  std::string Fingerprint(const std::string& name);

  // The server sends `data` to its client; SendFinished waits for the writing to end. With
  // `thenEnd` the server's input ends after the data: it then sends close_notify and
  // closes the connection (and no longer reads what the client sends).
  void SendToClient(std::string data, bool thenEnd = false);
  bool SendFinished();
  // Collects the next `size` bytes the client sends; Collected waits for them.
  void CollectFromClient(std::size_t size);
  bool Collected(std::string& data);

  // The protocol messages the server saw and sent (its -msg trace).
  std::string Messages() const { return work_.ReadFile("messages.txt"); }
  std::string Log() const { return work_.ReadFile("server.log"); }

 private:
  bool MakeCertificate(const std::string& name);
  bool Run(const std::vector<std::string>& argv, std::string* firstLine);
  bool Launch(std::uint16_t port, std::string& error);

  std::vector<std::string> extraArgs_;
  TempTree work_{"tls"};
  ServerProcess process_;
  std::uint16_t port_ = 0;
  bool certificatesMade_ = false;
  std::string error_;
  std::thread sender_, collector_;
  bool sendOk_ = false, collectOk_ = false;
  std::string sendError_, collectError_, collected_;
};

}  // namespace talvo::test
