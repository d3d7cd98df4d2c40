// The remote file-system commands of TVelaFtp against a scripted peer: CWD, MKD, RMD and
// DELE with their arguments sent unchanged, a preliminary reply taken as a refusal, the
// RNFR/RNTO pair, QUIT and its endings (also a server that never answers it), and a server
// that closes or resets the connection while a command waits for its reply.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ftp/Ftp.h"
#include "ftp/FtpProbe.h"
#include "tests/support/ScriptedControlSession.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;

const Lines kStandardLogin = {"USER alice", "PASS secret", "SYST", "FEAT"};

class FtpCommandsTest : public ::testing::Test, protected ScriptedControlSession {
 protected:
  // Logs in, then forgets the login's events so that a test sees only its own.
  ::testing::AssertionResult LogIn() {
    ::testing::AssertionResult result = ConnectAndLogin();
    log.Clear();
    return result;
  }

  // The events of a command that ended with `completion`, refused or not.
  static Lines Ended(const std::string& completion, bool success) {
    return success ? Lines{"ready", completion} : Lines{"ftpiCommandFailed:", "ready", completion};
  }

  // The commands sent after the login.
  Lines CommandsAfterLogin() const {
    const Lines all = peer.Commands();
    return all.size() < kStandardLogin.size() ? Lines{} : Lines(all.begin() + kStandardLogin.size(), all.end());
  }
};

TEST_F(FtpCommandsTest, SimpleCommandsEndWithTheirCompletionEvent) {
  const struct {
    const char* name;
    std::function<void(TVelaFtp&)> call;
    std::string command;
    std::string reply;
    std::string completion;
    bool success;
  } rows[] = {
      {"CWD accepted", [](TVelaFtp& f) { f.ChangeDirectory("/pub"); }, "CWD /pub", "250 Directory changed\r\n", "directoryChanged", true},
      {"CWD refused", [](TVelaFtp& f) { f.ChangeDirectory("/nowhere"); }, "CWD /nowhere", "550 No such directory\r\n", "directoryChanged", false},
      {"CWD with a multi-line 2xx", [](TVelaFtp& f) { f.ChangeDirectory("/multi"); }, "CWD /multi", "250-First\r\n550 inside\r\n250 Done\r\n", "directoryChanged", true},
      {"MKD accepted", [](TVelaFtp& f) { f.CreateDirectory("new dir"); }, "MKD new dir", "257 \"/new dir\" created\r\n", "directoryCreated", true},
      {"MKD refused", [](TVelaFtp& f) { f.CreateDirectory("exists"); }, "MKD exists", "550 Exists\r\n", "directoryCreated", false},
      {"RMD accepted", [](TVelaFtp& f) { f.DeleteDirectory("old"); }, "RMD old", "250 Removed\r\n", "directoryDeleted", true},
      {"RMD answered 4xx", [](TVelaFtp& f) { f.DeleteDirectory("busy"); }, "RMD busy", "450 Busy\r\n", "directoryDeleted", false},
      {"DELE with a blank in the name", [](TVelaFtp& f) { f.DeleteFile("my file.txt"); }, "DELE my file.txt", "250 Deleted\r\n", "fileDeleted", true},
      {"DELE keeps outer blanks", [](TVelaFtp& f) { f.DeleteFile("  spaced  "); }, "DELE   spaced  ", "250 Deleted\r\n", "fileDeleted", true},
      {"DELE answered 3xx", [](TVelaFtp& f) { f.DeleteFile("odd"); }, "DELE odd", "350 Pending\r\n", "fileDeleted", false},
  };
  peer.Login();
  Lines commands;
  for (const auto& row : rows) {
    peer.Expect(row.command).Reply(row.reply);
    commands.push_back(row.command);
  }
  peer.AwaitClose();
  ASSERT_TRUE(LogIn());

  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    log.Clear();
    row.call(ftp);
    EXPECT_TRUE(ftp.Busy);
    ASSERT_TRUE(RunUntilEvent(row.completion));
    Settle();
    EXPECT_EQ(Events(), Ended(row.completion, row.success));
    EXPECT_EQ(ftp.Success, row.success);
    EXPECT_FALSE(ftp.Busy);
    EXPECT_TRUE(ftp.Connected) << "a refusal keeps the connection";
    EXPECT_EQ(TFtpProbe(ftp).State(), 100);
  }
  EXPECT_TRUE(FinishPeer());
  EXPECT_EQ(CommandsAfterLogin(), commands);
}

TEST_F(FtpCommandsTest, RefusedCwdLeavesTheAskedDirectoryInInitialDirectory) {
  peer.Login().Expect("CWD /missing").Reply("550 No such directory\r\n").AwaitClose();
  ASSERT_TRUE(LogIn());
  ftp.ChangeDirectory("/missing");
  EXPECT_EQ(ftp.InitialDirectory, "/missing") << "stored before the server answers";
  ASSERT_TRUE(RunUntilEvent("directoryChanged"));
  EXPECT_EQ(Events(), Ended("directoryChanged", false));
  EXPECT_EQ(ftp.InitialDirectory, "/missing");
  EXPECT_TRUE(FinishPeer());
}

TEST_F(FtpCommandsTest, PreliminaryReplyEndsASimpleCommandAsRefusedAndTheLate2xxIsIgnored) {
  peer.Login()
      .Expect("DELE a.txt").Reply("150 Working on it\r\n").Pause(200).Reply("250 Deleted\r\n")
      .Expect("CWD /next").Reply("550 No such directory\r\n")
      .AwaitClose();
  ASSERT_TRUE(LogIn());
  ftp.DeleteFile("a.txt");
  ASSERT_TRUE(RunUntilEvent("fileDeleted"));
  EXPECT_EQ(Events(), Ended("fileDeleted", false));
  EXPECT_FALSE(ftp.Success);

  ASSERT_TRUE(RunUntil([&] { return ReceivedBeforeSending("CWD /next").find("250 Deleted\r\n") != std::string::npos; },
                       "the late 250"));
  Settle();
  EXPECT_EQ(Events(), Ended("fileDeleted", false)) << "the late 250 must change nothing";

  // The next command is answered by its own reply (a refusal), not by the late 250.
  log.Clear();
  ftp.ChangeDirectory("/next");
  ASSERT_TRUE(RunUntilEvent("directoryChanged"));
  EXPECT_EQ(Events(), Ended("directoryChanged", false));
  EXPECT_TRUE(FinishPeer());
  EXPECT_EQ(CommandsAfterLogin(), (Lines{"DELE a.txt", "CWD /next"}));
}

TEST_F(FtpCommandsTest, RenameSendsRntoOnlyAfterA3xxToRnfr) {
  const struct {
    const char* name;
    std::string oldName;
    std::string newName;
    std::string rnfrReply;
    std::string rntoReply;  // empty: no RNTO may be sent
    bool success;
  } rows[] = {
      {"350 then 250", "old name.txt", "new name.txt", "350 Ready for RNTO\r\n", "250 Renamed\r\n", true},
      {"RNTO refused", "a", "b", "350 Ready for RNTO\r\n", "553 Not allowed\r\n", false},
      {"RNFR answered 250", "c", "d", "250 Odd\r\n", "", false},
      {"RNFR answered 550", "missing", "e", "550 No such file\r\n", "", false},
  };
  peer.Login();
  Lines commands;
  for (const auto& row : rows) {
    peer.Expect("RNFR " + row.oldName).Reply(row.rnfrReply);
    commands.push_back("RNFR " + row.oldName);
    if (row.rntoReply.empty()) continue;
    peer.Expect("RNTO " + row.newName).Reply(row.rntoReply);
    commands.push_back("RNTO " + row.newName);
  }
  peer.AwaitClose();
  ASSERT_TRUE(LogIn());

  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    log.Clear();
    ftp.RenameFile(row.oldName, row.newName);
    EXPECT_EQ(TFtpProbe(ftp).RenameTarget(), row.newName);
    ASSERT_TRUE(RunUntilEvent("fileRenamed"));
    Settle();
    EXPECT_EQ(Events(), Ended("fileRenamed", row.success));
    EXPECT_EQ(ftp.Success, row.success);
    EXPECT_EQ(TFtpProbe(ftp).State(), 100);
  }
  EXPECT_TRUE(FinishPeer());
  EXPECT_EQ(CommandsAfterLogin(), commands);
}

// ---- QUIT ----

TEST_F(FtpCommandsTest, QuitAnsweredAndClosedByTheServer) {
  peer.Login().Expect("QUIT").Reply("221 Goodbye\r\n").Close();
  ASSERT_TRUE(LogIn());
  ftp.Quit();
  EXPECT_TRUE(ftp.Busy);
  ASSERT_TRUE(RunUntilEvent("quit"));
  Settle();
  EXPECT_EQ(Events(), (Lines{"ftpiDisconnected:Disconnected", "ready", "quit"}));
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy);
  EXPECT_TRUE(FinishPeer());
  EXPECT_EQ(CommandsAfterLogin(), Lines{"QUIT"});
}

// A server that keeps the connection after QUIT, answered or not, is closed from this side
// (the window's close waits for OnFtpQuit): after the close wait once the 221 came, after
// the reply wait when nothing came. The other wait is long each time, so that only the
// right one can end the connection within the test's bound.
TEST(FtpQuitTest, QuitNeverFollowedByTheServersCloseIsClosedByTheClient) {
  for (const bool answered : {true, false}) {
    SCOPED_TRACE(answered ? "answered 221, never closed" : "never answered");
    ScriptedControlSession s;
    TFtpProbe(s.ftp).GuardTimes().QuitClose = answered ? 1 : 60;
    TFtpProbe(s.ftp).GuardTimes().QuitReply = answered ? 60 : 1;
    s.peer.Login().Expect("QUIT");
    if (answered) s.peer.Reply("221 Goodbye\r\n");
    s.peer.AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin());
    s.log.Clear();
    s.ftp.Quit();
    if (answered) {
      ASSERT_TRUE(s.RunUntil([&] { return s.log.Count("ftpiReceived:221 Goodbye\r\n") == 1; }, "the 221"));
      EXPECT_TRUE(s.ftp.Connected) << "the client first leaves the close to the server";
    }
    ASSERT_TRUE(s.RunUntilEvent("quit"));
    Settle();
    EXPECT_EQ(s.Events(), (Lines{"ftpiDisconnected:Disconnected", "ready", "quit"}));
    EXPECT_FALSE(s.ftp.Connected);
    EXPECT_FALSE(s.ftp.Busy);
    EXPECT_EQ(s.ftp.SockHandle, platform::INVALID_SOCKET);
    EXPECT_TRUE(s.peer.WaitFinished(Millis(ScriptedControlSession::kWaitMs))) << "the peer never saw the close";
    EXPECT_TRUE(s.FinishPeer());
  }
}

// A server that stops answering, at the greeting, in the middle of the login or of a
// listing's preparation, or after RNFR: the wait is bounded like every other, ends as a
// time-out (a greeting that never comes: no greeting), and a new session on the same
// component logs in as usual.
TEST(FtpSilentServerTest, EveryCommandWaitingForItsReplyTimesOut) {
  const struct {
    const char* name;
    std::function<void(ScriptedPeer&)> script;
    std::function<void(TVelaFtp&)> call;  // after the login, when the silence comes later
    const char* error = "ftpeTimeout:Error";
  } rows[] = {
      {"no greeting", [](ScriptedPeer& p) { p.AwaitClose(); }, nullptr, "ftpeNoGreeting:Error"},
      {"PASS unanswered",
       [](ScriptedPeer& p) { p.Reply("220 ready\r\n").Expect("USER").Reply("331 go on\r\n").Expect("PASS").AwaitClose(); },
       nullptr},
      {"PORT unanswered",
       [](ScriptedPeer& p) {
         p.Login().Expect("PWD").Reply("257 \"/\"\r\n").Expect("TYPE A").Reply("200 ok\r\n").Expect("PORT").AwaitClose();
       },
       [](TVelaFtp& ftp) { ftp.GetListing(); }},
      {"RNTO unanswered",
       [](ScriptedPeer& p) { p.Login().Expect("RNFR a").Reply("350 go on\r\n").Expect("RNTO b").AwaitClose(); },
       [](TVelaFtp& ftp) { ftp.RenameFile("a", "b"); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    TGuardTimes& times = TFtpProbe(s.ftp).GuardTimes();
    times.Reply = times.Greeting = 1;
    row.script(s.peer);
    s.peer.SetStepTimeout(Millis(8000));
    if (row.call) {
      ASSERT_TRUE(s.ConnectAndLogin());
      row.call(s.ftp);
    } else {
      s.Connect();
    }
    ASSERT_TRUE(s.RunUntilEvent("quit", 1, 8000)) << s.Transcript();
    EXPECT_EQ(s.log.Count(row.error), 1) << s.Transcript();
    EXPECT_FALSE(s.ftp.Connected);
    EXPECT_TRUE(s.FinishPeer());
    EXPECT_TRUE(s.LoginAgainWithNewPeer());
  }
}

TEST_F(FtpCommandsTest, QuitRefusedIsAFatalErrorWithCodeZero) {
  peer.Login().Expect("QUIT").Reply("500 Not now\r\n").AwaitClose();
  ASSERT_TRUE(LogIn());
  ftp.Quit();
  ASSERT_TRUE(RunUntilEvent("quit"));
  Settle();
  EXPECT_EQ(Events(), (Lines{"ftpeNone:Error", "quit"})) << "no OnFtpReady";
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy);
  EXPECT_EQ(ftp.LastError, ftpeNone);
  EXPECT_TRUE(FinishPeer()) << "the client must close the connection";
}

// ---- The connection ends while a command waits for its reply ----

TEST_F(FtpCommandsTest, ServerClosingInTheMiddleOfACommandEndsIt) {
  peer.Login().Expect("CWD /pub").Close();
  ASSERT_TRUE(LogIn());
  ftp.ChangeDirectory("/pub");
  ASSERT_TRUE(RunUntilEvent("quit"));
  Settle();
  EXPECT_EQ(Events(), (Lines{"ftpiDisconnected:Disconnected", "ready", "directoryChanged", "quit"}));
  EXPECT_FALSE(ftp.Success) << "a command the server never answered did not succeed";
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy);
  EXPECT_TRUE(FinishPeer());
  EXPECT_TRUE(LoginAgainWithNewPeer());
}

TEST_F(FtpCommandsTest, ResetInTheMiddleOfACommandIsTheMappedFatalError) {
  peer.Login().Expect("CWD /pub").Reset();
  ASSERT_TRUE(LogIn());
  ftp.ChangeDirectory("/pub");
  ASSERT_TRUE(RunUntilEvent("quit", 2));
  Settle();
  EXPECT_EQ(Events(), (Lines{"ftpeConnectionReset:Error", "quit", "quit"}));
  EXPECT_EQ(ftp.LastError, ftpeConnectionReset);
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy);
  EXPECT_TRUE(FinishPeer());
  EXPECT_TRUE(LoginAgainWithNewPeer());
}

}  // namespace
}  // namespace talvo::test
