// The encrypted session seen from the wire: a capture of the loopback traffic of whole
// sessions with vsftpd over TLS (active and passive) holds neither the password nor any
// byte of the files, while the same capture finds the commands that must go in clear.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/LoopbackSockets.h"
#include "tests/support/RealServerSession.h"
#include "tests/support/WireCapture.h"

namespace talvo::test {
namespace {

// A text that shows wherever its bytes travel in clear.
std::string Marked(const std::string& marker, std::size_t size) {
  std::string text;
  while (text.size() < size) text += marker;
  return text;
}

TEST(RealServerTlsWireTest, NeitherThePasswordNorTheFilesCrossInClear) {
  VsftpdServer server;
  server.EnableTls();
  server.SetHost(UniqueLoopbackAddress());
  ASSERT_TRUE(server.Start()) << server.Error();
  const std::string down = Marked("DOWNLOADED-IN-CLEAR?", 300000);
  const std::string up = Marked("UPLOADED-IN-CLEAR?", 300000);
  ASSERT_TRUE(server.Root().WriteFile("down.txt", down));
  TempTree local("wire");
  ASSERT_TRUE(local.WriteFile("up.txt", up));

  WireCapture capture(server.Host());
  const WireCapture::Started started = capture.Start();
  if (started == WireCapture::Started::Unavailable) GTEST_SKIP() << capture.Error();
  ASSERT_EQ(started, WireCapture::Started::Yes) << capture.Error();
  for (const TDataConnectionMode mode : {dcmActive, dcmPassive}) {
    SCOPED_TRACE(mode == dcmActive ? "active" : "passive");
    RealServerSession session(server, mode);
    ASSERT_TRUE(session.LogIn(server.User(), server.Password())) << session.Transcript() << server.Log();
    session.ftp.LocalFile = local.PathOf("down.txt");
    session.ftp.RemoteFile = "down.txt";
    ASSERT_TRUE(session.Run([&] { session.ftp.ReceiveFile(); }, "fileReceived")) << session.Transcript();
    session.ftp.LocalFile = local.PathOf("up.txt");
    session.ftp.RemoteFile = "up.txt";
    ASSERT_TRUE(session.Run([&] { session.ftp.StoreFile(); }, "fileStored")) << session.Transcript();
    EXPECT_EQ(local.ReadFile("down.txt"), down);
    EXPECT_EQ(server.Root().ReadFile("up.txt"), up);
    EXPECT_EQ(session.log.CountPrefix("ftpe"), 0) << session.Transcript();
  }
  ASSERT_TRUE(capture.Stop()) << capture.Error();
  EXPECT_TRUE(capture.Contains("AUTH TLS")) << "the capture missed the session";
  EXPECT_FALSE(capture.Contains(FtpServerFixture::kPassword));
  EXPECT_FALSE(capture.Contains(FtpServerFixture::kUser)) << "the user name crossed in clear";
  EXPECT_FALSE(capture.Contains("DOWNLOADED-IN-CLEAR?"));
  EXPECT_FALSE(capture.Contains("UPLOADED-IN-CLEAR?"));
}

}  // namespace
}  // namespace talvo::test
