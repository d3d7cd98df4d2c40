// The control connection against real servers (pyftpdlib and vsftpd on loopback): the
// login with a user, anonymous and a wrong password, the dialect from the real SYST reply,
// the initial directory, CWD, MKD, RMD, DELE, RNFR/RNTO and QUIT, each checked both by
// the events and by what the server's file tree shows afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/FtpProbe.h"
#include "tests/support/RealServerSession.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;

class RealServerCommandsTest : public RealServerSessionTest {
 protected:
  void SetUp() override {
    RealServerSessionTest::SetUp();
    ASSERT_TRUE(root().MakeDirectory("docs"));
    ASSERT_TRUE(root().WriteFile("docs/inside.txt", "inside\n"));
  }
  // The login's commands: FEAT after SYST, and OPTS UTF8 ON where FEAT lists UTF8
  // (pyftpdlib does, vsftpd not in its default configuration).
  Lines LoginCommands(const std::string& user) const {
    Lines commands = {"USER " + user, "PASS ********", "SYST", "FEAT"};
    if (std::string(server_->Name()) == "pyftpdlib") commands.push_back("OPTS UTF8 ON");
    return commands;
  }
};

TEST_P(RealServerCommandsTest, LogsInWithUserAndPassword) {
  LogIn();
  EXPECT_EQ(log().Events(), (Lines{"ftpiConnected:127.0.0.1", "ftpiLoggedIn:Logged in", "ready", "loggedIn"}));
  // The events show the password masked; the real one went out, since the server let us in.
  EXPECT_EQ(session_->SentCommands(), LoginCommands("talvo"));
  EXPECT_TRUE(ftp().Connected);
  EXPECT_TRUE(ftp().Success);
  EXPECT_FALSE(ftp().Busy);
  EXPECT_EQ(ftp().LastError, ftpeNone);
}

TEST_P(RealServerCommandsTest, LogsInAnonymouslyAndReads) {
  ASSERT_TRUE(session_->LogIn(FtpServerFixture::kAnonymousUser, FtpServerFixture::kAnonymousPassword))
      << Transcript();
  EXPECT_EQ(session_->SentCommands(), LoginCommands("anonymous"));
  EXPECT_EQ(log().CountPrefix("ftpe"), 0);
  ASSERT_TRUE(session_->Run([this] { ftp().ChangeDirectory("docs"); }, "directoryChanged"));
  EXPECT_TRUE(ftp().Success) << Transcript();
  Listing();
  EXPECT_EQ(ftp().FileNames, Lines{"inside.txt"});
}

TEST_P(RealServerCommandsTest, WrongPasswordIsRefusedAndTheSessionQuits) {
  // Only the server's own close may end the session here, not the client's wait for it.
  TFtpProbe(ftp()).GuardTimes().QuitClose = 60;
  ftp().UserName = server_->User();
  ftp().UserPassword = "wrong-password";
  ftp().SetFtpServer(server_->Host());
  ftp().FtpPort = server_->Port();
  ftp().Connect();
  ASSERT_TRUE(session_->WaitFor("quit", 1)) << Transcript();

  EXPECT_EQ(log().Events(), (Lines{"ftpiConnected:127.0.0.1", "ftpeLoginRefused:Error",
                                   "ftpiDisconnected:Disconnected", "ready", "quit"}))
      << Transcript();
  EXPECT_EQ(session_->SentCommands(), (Lines{"USER talvo", "PASS ********", "QUIT"}));
  // QUIT goes out after the refusal has been reported.
  const Lines& lines = log().Lines();
  const auto refused = std::find(lines.begin(), lines.end(), "ftpeLoginRefused:Error");
  const auto quit = std::find(lines.begin(), lines.end(), "ftpiSent:QUIT\r\n");
  EXPECT_LT(refused, quit);
  EXPECT_EQ(log().Count("loggedIn"), 0);
  EXPECT_FALSE(ftp().Connected);
  EXPECT_FALSE(ftp().Success);
  EXPECT_FALSE(ftp().Busy);
}

TEST_P(RealServerCommandsTest, TakesTheDialectFromTheRealSystReply) {
  ftp().ServerType = ftpstDefault;
  LogIn();
  const Lines replies = session_->RepliesSince(0);
  const auto syst = std::find_if(replies.begin(), replies.end(), [](const std::string& r) { return r.starts_with("215 "); });
  ASSERT_NE(syst, replies.end()) << Transcript();
  EXPECT_TRUE(syst->starts_with("215 UNIX")) << *syst;
  EXPECT_EQ(ftp().ServerType, ftpstUNIX) << ServerTypeName(ftp().ServerType);
}

TEST_P(RealServerCommandsTest, EntersTheInitialDirectoryAtLogin) {
  struct Case {
    const char* directory;
    bool exists;
  };
  for (const Case& c : {Case{"docs", true}, Case{"nowhere", false}}) {
    SCOPED_TRACE(c.directory);
    session_ = std::make_unique<RealServerSession>(*server_, GetParam().mode);
    ftp().InitialDirectory = c.directory;
    LogIn();
    Lines commands = LoginCommands("talvo");
    commands.push_back(std::string("CWD ") + c.directory);
    EXPECT_EQ(session_->SentCommands(), commands);
    // A directory that is not there is reported, and the login still ends as a login.
    Lines expected = {"ftpiConnected:127.0.0.1", "ftpiLoggedIn:Logged in", "ready", "loggedIn"};
    if (!c.exists) expected.insert(expected.begin() + 1, "ftpiCommandFailed:");
    EXPECT_EQ(log().Events(), expected);
    EXPECT_TRUE(ftp().Connected);
    Listing();
    EXPECT_EQ(ftp().InitialDirectory, c.exists ? "/docs" : "/");
    EXPECT_EQ(ftp().FileNames, c.exists ? Lines{"inside.txt"} : Lines{});
  }
}

TEST_P(RealServerCommandsTest, ChangesToAnExistingDirectoryAndRefusesAMissingOne) {
  LogIn();
  ASSERT_TRUE(session_->Run([this] { ftp().ChangeDirectory("docs"); }, "directoryChanged"));
  EXPECT_TRUE(ftp().Success) << Transcript();
  EXPECT_EQ(log().Count("ftpiCommandFailed:"), 0);
  Listing();
  EXPECT_EQ(ftp().InitialDirectory, "/docs");
  EXPECT_EQ(ftp().FileNames, Lines{"inside.txt"});

  ASSERT_TRUE(session_->Run([this] { ftp().ChangeDirectory("missing"); }, "directoryChanged"));
  EXPECT_FALSE(ftp().Success);
  EXPECT_EQ(log().Count("ftpiCommandFailed:"), 1);
  EXPECT_TRUE(ftp().Connected);
  Listing();
  EXPECT_EQ(ftp().InitialDirectory, "/docs") << "the server stays where it was";
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

TEST_P(RealServerCommandsTest, CreatesAndDeletesDirectoriesAndFiles) {
  ASSERT_TRUE(root().WriteFile("old.txt", "old"));
  ASSERT_TRUE(root().WriteFile("full/kept.txt", "kept"));
  LogIn();
  struct Case {
    const char* what;
    std::function<void(TVelaFtp&)> start;
    const char* completion;
    const char* sent;
    bool succeeds;
    const char* path;  // in the server's root
    bool existsAfter;
  };
  const Case cases[] = {
      {"new directory", [](TVelaFtp& f) { f.CreateDirectory("made"); }, "directoryCreated", "MKD made", true, "made", true},
      {"directory with blanks", [](TVelaFtp& f) { f.CreateDirectory("with  two blanks"); }, "directoryCreated",
       "MKD with  two blanks", true, "with  two blanks", true},
      {"directory that exists", [](TVelaFtp& f) { f.CreateDirectory("made"); }, "directoryCreated", "MKD made", false,
       "made", true},
      {"empty directory", [](TVelaFtp& f) { f.DeleteDirectory("made"); }, "directoryDeleted", "RMD made", true, "made",
       false},
      {"missing directory", [](TVelaFtp& f) { f.DeleteDirectory("made"); }, "directoryDeleted", "RMD made", false,
       "made", false},
      {"directory not empty", [](TVelaFtp& f) { f.DeleteDirectory("full"); }, "directoryDeleted", "RMD full", false,
       "full/kept.txt", true},
      {"file", [](TVelaFtp& f) { f.DeleteFile("old.txt"); }, "fileDeleted", "DELE old.txt", true, "old.txt", false},
      {"missing file", [](TVelaFtp& f) { f.DeleteFile("old.txt"); }, "fileDeleted", "DELE old.txt", false, "old.txt",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int failedBefore = log().Count("ftpiCommandFailed:");
    const std::size_t sentBefore = session_->SentCommands().size();
    ASSERT_TRUE(session_->Run([&] { c.start(ftp()); }, c.completion)) << Transcript();
    EXPECT_EQ(session_->SentCommands().size(), sentBefore + 1);
    EXPECT_EQ(session_->SentCommands().back(), c.sent);
    EXPECT_EQ(ftp().Success, c.succeeds);
    EXPECT_EQ(log().Count("ftpiCommandFailed:") - failedBefore, c.succeeds ? 0 : 1);
    EXPECT_EQ(root().Exists(c.path), c.existsAfter);
    EXPECT_TRUE(ftp().Connected);
    EXPECT_FALSE(ftp().Busy);
  }
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

TEST_P(RealServerCommandsTest, RenamesAFileAndRefusesAMissingSource) {
  ASSERT_TRUE(root().WriteFile("before.txt", "contents"));
  LogIn();
  ASSERT_TRUE(session_->Run([this] { ftp().RenameFile("before.txt", "after name.txt"); }, "fileRenamed"));
  EXPECT_TRUE(ftp().Success) << Transcript();
  EXPECT_FALSE(root().Exists("before.txt"));
  EXPECT_EQ(root().ReadFile("after name.txt"), "contents");

  ASSERT_TRUE(session_->Run([this] { ftp().RenameFile("missing.txt", "other.txt"); }, "fileRenamed"));
  EXPECT_FALSE(ftp().Success);
  EXPECT_EQ(log().Count("ftpiCommandFailed:"), 1);
  EXPECT_FALSE(root().Exists("other.txt"));
  EXPECT_TRUE(ftp().Connected);

  // A refused RNFR is not followed by RNTO.
  const Lines sent = session_->SentCommands();
  EXPECT_EQ(Lines(sent.end() - 3, sent.end()),
            (Lines{"RNFR before.txt", "RNTO after name.txt", "RNFR missing.txt"}));
}

TEST_P(RealServerCommandsTest, QuitEndsTheSessionWhenTheServerCloses) {
  TFtpProbe(ftp()).GuardTimes().QuitClose = 60;  // only the server's own close may end it here
  LogIn();
  log().Clear();
  ftp().Quit();
  EXPECT_TRUE(ftp().Busy);
  ASSERT_TRUE(session_->WaitFor("quit", 1)) << Transcript();
  EXPECT_EQ(log().Events(), (Lines{"ftpiDisconnected:Disconnected", "ready", "quit"}));
  EXPECT_EQ(session_->SentCommands(), Lines{"QUIT"});
  const Lines replies = session_->RepliesSince(0);
  ASSERT_EQ(replies.size(), 1u) << Transcript();
  EXPECT_TRUE(replies[0].starts_with("221")) << replies[0];
  EXPECT_FALSE(ftp().Connected);
  EXPECT_FALSE(ftp().Busy);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerCommandsTest,
                         ::testing::Values(PyFtpdKind(), VsftpdKind(), PyFtpdPortRefusedKind(), VsftpdPortRefusedKind()),
                         ServerKindName);

}  // namespace
}  // namespace talvo::test
