// The TLS sessions trust the system's certificates as OpenSSL's hashed directory
// (SSL_CERT_DIR, else /etc/ssl/certs). Its own executable: the process's client context is
// made once, at the first session, with the environment of that moment.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/MessageLoop.h"
#include "tests/support/OpenSslServer.h"
#include "transport/velasock.h"

namespace talvo::test {
namespace {

TEST(TlsSystemStore, ACertificateInTheHashedDirectoryIsTrusted) {
  OpenSslServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  const std::string trusted = server.TrustDirectory();
  ASSERT_FALSE(trusted.empty()) << server.Error();
  ::setenv("SSL_CERT_DIR", trusted.c_str(), 1);
  ::unsetenv("SSL_CERT_FILE");

  TVelaSocket s;
  ASSERT_TRUE(s.InitWinsock());
  bool connected = false, done = false;
  s.OnSockConnect = [&](TObject*) { connected = true; };
  s.OnSockTlsDone = [&](TObject*) { done = true; };
  s.TimeOutConnect = 5;
  s.SockOpen();
  s.SockSetAddress("127.0.0.1");
  s.SockSetPort(server.Port());
  s.SockConnect();
  ASSERT_TRUE(platform::MessageLoop::Current().RunUntil([&] { return connected; }, 10000));
  TTlsClientOptions options;
  options.ServerName = OpenSslServer::kName;
  s.SockStartTls(options);  // verification on, no extra certificates
  ASSERT_TRUE(platform::MessageLoop::Current().RunUntil([&] { return done; }, 10000));
  EXPECT_EQ(s.SockError, 0);
  EXPECT_TRUE(s.TlsInfo.PeerVerified) << s.TlsInfo.VerifyProblem;
  s.SockClose();
}

}  // namespace
}  // namespace talvo::test
