// The SFTP component against a real OpenSSH sshd (SshdServer.h).
#include <gtest/gtest.h>

#include "tests/support/SftpTestSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

class SftpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.Error(); }
  SshdServer server_;
};

TEST_F(SftpSessionTest, LogsInListsAndTransfers) {
  ASSERT_TRUE(server_.Root().WritePatternFile("a.bin", 3 << 20));
  SftpTestSession s(server_);
  ASSERT_TRUE(s.LogIn()) << s.Transcript();
  ASSERT_TRUE(s.Run([&] { s.sftp.GetListing(); }, "listingDone")) << s.Transcript();
  EXPECT_EQ(s.sftp.FileNames, std::vector<std::string>{"a.bin"});
  s.sftp.RemoteFile = "a.bin";
  s.sftp.LocalFile = s.local.PathOf("a.bin");
  ASSERT_TRUE(s.Run([&] { s.sftp.ReceiveFile(); }, "fileReceived")) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success) << s.Transcript();
  EXPECT_EQ(s.local.FileSize("a.bin"), 3u << 20);
}

}  // namespace
}  // namespace talvo::test
