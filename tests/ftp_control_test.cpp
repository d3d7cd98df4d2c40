// The control side of TVelaFtp against a scripted peer: how the control text is cut into
// lines and replies, the login sequences and their prompts, the dialect read from SYST, the
// first change of directory, and the faults that end a connection (text that never ends
// its line, a reset while a line is being sent), each followed by a new Connect that works.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ftp/Ftp.h"
#include "ftp/FtpProbe.h"
#include "tests/support/FakeSocketLibrary.h"
#include "tests/support/ScriptedControlSession.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;
using Exchange = std::vector<std::pair<std::string, std::string>>;  // command, reply

const Lines kStandardLogin = {"USER alice", "PASS secret", "SYST", "FEAT"};
const Lines kLoggedInEvents = {"ftpiConnected:127.0.0.1", "ftpiLoggedIn:Logged in", "ready", "loggedIn"};

// The rest of a normal login, once the greeting has been sent.
ScriptedPeer& RestOfLogin(ScriptedPeer& peer) {
  return peer.Expect("USER").Reply("331 Password required\r\n")
      .Expect("PASS").Reply("230 Logged in\r\n")
      .Expect("SYST").Reply("215 UNIX Type: L8\r\n")
      .Expect("FEAT").Reply("500 Unknown command.\r\n");  // refused: the login goes on
}

ScriptedPeer& Play(ScriptedPeer& peer, const Exchange& exchange) {
  for (const auto& [command, reply] : exchange) peer.Expect(command).Reply(reply);
  return peer;
}

// ---- Cutting the control text into lines and replies ----

TEST(FtpControlLinesTest, MultiLineGreetingGivesOneUserAfterItsLastLine) {
  const struct {
    const char* name;
    std::string greeting;
  } rows[] = {
      {"one line", "220 ready\r\n"},
      {"continuation lines", "220-Welcome\r\n220-to the peer\r\n220 ready\r\n"},
      {"lines of other codes inside", "220-Welcome\r\n230 not the end\r\n500 nor this\r\n220 ready\r\n"},
      {"free text and indented code inside", "220-Welcome\r\nplain text\r\n 220 indented\r\n220 ready\r\n"},
      {"empty line and bare code inside", "220-Welcome\r\n\r\n220\r\n220 ready\r\n"},
      {"first line only the code and a dash", "220-\r\n220-Welcome\r\n220 ready\r\n"},
      {"a lone LF inside a line", "220-Welcome\n220 not a line\r\n220 ready\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    // The last line arrives in a read of its own, so that a USER sent too early shows.
    RestOfLogin(s.peer.ReplySplit(row.greeting, {row.greeting.rfind("220 ready")})).AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin());
    EXPECT_EQ(s.log.Count("ftpiSent:USER alice\r\n"), 1);
    EXPECT_EQ(s.ReceivedBeforeSending("USER alice"), row.greeting);
    EXPECT_TRUE(s.FinishPeer());
    EXPECT_EQ(s.peer.Commands(), kStandardLogin);
  }
}

TEST(FtpControlLinesTest, LinesAreJoinedAcrossReadsAndEndOnlyAtCrLf) {
  const struct {
    const char* name;
    std::string greeting;
    std::vector<std::size_t> cuts;
  } rows[] = {
      {"inside the code", "220 ready\r\n", {1}},
      {"after the code", "220 ready\r\n", {3}},
      {"before the CR", "220 ready\r\n", {9}},
      {"between CR and LF", "220 ready\r\n", {10}},
      {"at every byte", "220 ready\r\n", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"multi-line reply over several reads", "220-Welcome\r\n220 ready\r\n", {6, 12, 13, 17}},
      {"a lone LF is no line end", "220 first part\nsecond part\r\n", {15}},
      {"a lone CR is no line end", "220 first part\rsecond part\r\n", {15}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    RestOfLogin(s.peer.ReplySplit(row.greeting, row.cuts)).AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin());
    EXPECT_EQ(s.ReceivedBeforeSending("USER alice"), row.greeting) << "USER went before the line ended";
    EXPECT_TRUE(s.FinishPeer());
    EXPECT_EQ(s.peer.Commands(), kStandardLogin);
  }
}

TEST(FtpControlLinesTest, RepliesArrivingTogetherAreEachHandledInTheStateOfTheirCommand) {
  ScriptedControlSession s;
  // The answer to PASS comes in the same write as the answer to USER, before PASS is sent.
  s.peer.Reply("220 ready\r\n").Expect("USER").Reply("331 Password required\r\n230 Logged in\r\n")
      .Expect("PASS").Expect("SYST").Reply("215 UNIX Type: L8\r\n").Expect("FEAT").Reply("211 None\r\n").AwaitClose();
  ASSERT_TRUE(s.ConnectAndLogin());
  EXPECT_EQ(s.Events(), kLoggedInEvents);
  EXPECT_TRUE(s.FinishPeer());
  EXPECT_EQ(s.peer.Commands(), kStandardLogin);
}

// ---- Login ----

TEST(FtpLoginTest, LoginSequences) {
  const struct {
    const char* name;
    std::string userName;  // empty: asked through OnFtpNeedInfo
    Exchange exchange;
    Lines commands;
    Lines needs;
  } rows[] = {
      {"230 to USER goes straight to SYST", "alice",
       {{"USER", "230 Logged in\r\n"}},
       {"USER alice", "SYST", "FEAT"}, {}},
      {"331 to USER gives PASS", "alice",
       {{"USER", "331 Password required\r\n"}, {"PASS", "230 Logged in\r\n"}},
       kStandardLogin, {}},
      {"any 2xx to PASS ends the login", "alice",
       {{"USER", "331 Password required\r\n"}, {"PASS", "202 Superfluous\r\n"}},
       kStandardLogin, {}},
      {"332 to PASS gives ACCT", "alice",
       {{"USER", "331 Password required\r\n"}, {"PASS", "332 Need account\r\n"}, {"ACCT", "230 Logged in\r\n"}},
       {"USER alice", "PASS secret", "ACCT billing", "SYST", "FEAT"}, {}},
      {"empty fields are asked for", "",
       {{"USER", "331 Password required\r\n"}, {"PASS", "332 Need account\r\n"}, {"ACCT", "230 Logged in\r\n"}},
       {"USER bob", "PASS pw-bob", "ACCT acct-7", "SYST", "FEAT"},
       {"need ftpnUserName", "need ftpnPassword", "need ftpnAccount"}},
      {"multi-line replies count by their last line", "alice",
       {{"USER", "331-Hello\r\n530-not this\r\n530 nor this\r\n331-still\r\n331 Password required\r\n"},
        {"PASS", "230-Welcome\r\n500 noise\r\n230 Logged in\r\n"}},
       kStandardLogin, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    s.ftp.UserName = row.userName;
    s.ftp.UserPassword = row.userName.empty() ? "" : "secret";
    s.ftp.UserAccount = row.userName.empty() ? "" : "billing";
    s.log.Answers = {{ftpnUserName, "bob"}, {ftpnPassword, "pw-bob"}, {ftpnAccount, "acct-7"}};
    Play(s.peer.Reply("220 ready\r\n"), row.exchange)
        .Expect("SYST").Reply("215-Remote system\r\n215 UNIX Type: L8\r\n")
        .Expect("FEAT").Reply("211-Features:\r\n SIZE\r\n211 End\r\n").AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin());
    Settle();
    Lines expected = {"ftpiConnected:127.0.0.1"};
    expected.insert(expected.end(), row.needs.begin(), row.needs.end());
    expected.insert(expected.end(), kLoggedInEvents.begin() + 1, kLoggedInEvents.end());
    EXPECT_EQ(s.Events(), expected);
    EXPECT_TRUE(s.ftp.Success);
    EXPECT_TRUE(s.ftp.Connected);
    EXPECT_FALSE(s.ftp.Busy);
    EXPECT_EQ(TFtpProbe(s.ftp).State(), 100);
    EXPECT_STREQ(ServerTypeName(s.ftp.ServerType), "ftpstUNIX");
    EXPECT_TRUE(s.FinishPeer());
    EXPECT_EQ(s.peer.Commands(), row.commands);
  }
}

TEST(FtpLoginTest, WithoutNeedInfoHandlerEmptyFieldsAreSentEmpty) {
  ScriptedControlSession s;
  s.ftp.OnFtpNeedInfo = nullptr;
  s.ftp.UserName.clear();
  s.ftp.UserPassword.clear();
  Play(s.peer.Reply("220 ready\r\n"), {{"USER", "331 Password required\r\n"},
                                       {"PASS", "332 Need account\r\n"},
                                       {"ACCT", "230 Logged in\r\n"},
                                       {"SYST", "215 UNIX Type: L8\r\n"},
                                       {"FEAT", "211 None\r\n"}})
      .AwaitClose();
  ASSERT_TRUE(s.ConnectAndLogin());
  EXPECT_TRUE(s.FinishPeer());
  EXPECT_EQ(s.peer.Commands(), (Lines{"USER ", "PASS ", "ACCT ", "SYST", "FEAT"}));
}

TEST(FtpLoginTest, GreetingNotOfClass2EndsWithNoGreetingAndNoUser) {
  // The last: another service's banner, which looks like the start of a multi-line reply.
  for (const char* greeting : {"421 Service not available\r\n", "120 Ready in 5 minutes\r\n",
                               "530 Not welcome\r\n", "SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3\r\n"}) {
    SCOPED_TRACE(greeting);
    ScriptedControlSession s;
    s.peer.Reply(greeting).AwaitClose();
    s.Connect();
    ASSERT_TRUE(s.RunUntilEvent("quit"));
    Settle();
    EXPECT_EQ(s.Events(), (Lines{"ftpiConnected:127.0.0.1", "ftpeNoGreeting:Error", "quit"}));
    EXPECT_FALSE(s.ftp.Connected);
    EXPECT_EQ(s.ftp.LastError, ftpeNoGreeting);
    EXPECT_TRUE(s.FinishPeer()) << "the client must close the connection";
    EXPECT_EQ(s.peer.Commands(), Lines{});
    EXPECT_TRUE(s.LoginAgainWithNewPeer());
  }
}

// A refused login, by the server or because a login value holds a CR, an LF or a zero byte
// (it would put a second command on the line: nothing of it is sent), reports the refusal,
// quits, and ends with the server's close. So does a login whose prompt the owner cancels,
// with nothing sent for it.
TEST(FtpLoginTest, RefusedOrCancelledLoginQuitsAndEndsWithTheServersClose) {
  const struct {
    const char* name;
    Exchange exchange;  // what the server is asked before the refusal
    Lines commands;
    std::string user = "alice", password = "secret", account = "billing";
    std::optional<TFtpInfoNeeded> cancelled = std::nullopt;
  } rows[] = {
      {"account prompt cancelled",
       {{"USER", "331 Password required\r\n"}, {"PASS", "332 Need account\r\n"}},
       {"USER alice", "PASS secret", "QUIT"}, "alice", "secret", "", ftpnAccount},
      {"USER refused", {{"USER", "530 Not logged in\r\n"}}, {"USER alice", "QUIT"}},
      {"USER answered 1xx", {{"USER", "120 Try later\r\n"}}, {"USER alice", "QUIT"}},
      {"PASS refused", {{"USER", "331 Password required\r\n"}, {"PASS", "530 Login incorrect\r\n"}},
       {"USER alice", "PASS secret", "QUIT"}},
      {"ACCT refused",
       {{"USER", "331 Password required\r\n"}, {"PASS", "332 Need account\r\n"}, {"ACCT", "530 No\r\n"}},
       {"USER alice", "PASS secret", "ACCT billing", "QUIT"}},
      {"ACCT answered 3xx",
       {{"USER", "331 Password required\r\n"}, {"PASS", "332 Need account\r\n"}, {"ACCT", "332 Again\r\n"}},
       {"USER alice", "PASS secret", "ACCT billing", "QUIT"}},
      {"user name with CR LF", {}, {"QUIT"}, "bob\r\nDELE x"},
      {"user name with a lone CR", {}, {"QUIT"}, "bob\rDELE x"},
      {"password with a lone LF", {{"USER", "331 Password required\r\n"}}, {"USER alice", "QUIT"}, "alice",
       "pw\nDELE x"},
      {"account with a zero byte",
       {{"USER", "331 Password required\r\n"}, {"PASS", "332 Need account\r\n"}},
       {"USER alice", "PASS secret", "QUIT"}, "alice", "secret", std::string("acct\0DELE x", 11)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    s.ftp.UserName = row.user;
    s.ftp.UserPassword = row.password;
    s.ftp.UserAccount = row.account;
    s.log.Cancelled = row.cancelled;
    Play(s.peer.Reply("220 ready\r\n"), row.exchange).Expect("QUIT").Reply("221 Goodbye\r\n").Close();
    s.Connect();
    ASSERT_TRUE(s.RunUntilEvent("quit"));
    Settle();
    Lines events = {"ftpiConnected:127.0.0.1", "ftpeLoginRefused:Error", "ftpiDisconnected:Disconnected", "ready",
                    "quit"};
    if (row.cancelled) {
      events[1] = "ftpeCancelled:Error";
      events.insert(events.begin() + 1, std::string("need ") + FtpInfoNeededName(*row.cancelled));
    }
    EXPECT_EQ(s.Events(), events);
    EXPECT_FALSE(s.ftp.Connected);
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_TRUE(s.FinishPeer());
    EXPECT_EQ(s.peer.Commands(), row.commands);
    EXPECT_EQ(s.peer.ControlBytes().find("DELE"), std::string::npos);
  }
}

TEST(FtpLoginTest, InitialDirectoryIsEnteredAfterSyst) {
  const struct {
    const char* name;
    std::string reply;
    Lines events;
  } rows[] = {
      {"entered", "250 Directory changed\r\n", kLoggedInEvents},
      {"refused: the login still completes", "550 No such directory\r\n",
       {"ftpiConnected:127.0.0.1", "ftpiCommandFailed:", "ftpiLoggedIn:Logged in", "ready", "loggedIn"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    s.ftp.InitialDirectory = "/pub/My Files";
    s.peer.Login().Expect("CWD").Reply(row.reply).AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin());
    Settle();
    EXPECT_EQ(s.Events(), row.events);
    EXPECT_TRUE(s.ftp.Success);
    EXPECT_EQ(TFtpProbe(s.ftp).State(), 100);
    EXPECT_EQ(s.ftp.InitialDirectory, "/pub/My Files");
    EXPECT_TRUE(s.FinishPeer());
    EXPECT_EQ(s.peer.Commands(), (Lines{"USER alice", "PASS secret", "SYST", "FEAT", "CWD /pub/My Files"}));
  }
}

TEST(FtpLoginTest, ServerTypeIsSetFromTheSystReplyAtEveryLogin) {
  const struct {
    std::string syst;
    TFTPServerType type;
  } rows[] = {
      {"215 UNIX Type: L8\r\n", ftpstUNIX},
      {"215 VMS MultiNet V3.5\r\n", ftpstVmsMultinet},
      {"215 MVS is the operating system of this server.\r\n", ftpstMVS},
      {"215 Windows_NT\r\n", ftpstDefault},
      {"500 SYST not understood\r\n", ftpstDefault},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.syst);
    ScriptedControlSession s;
    s.ftp.ServerType = ftpstChameleon;  // left from an earlier connection
    ScriptedPeer::LoginReplies replies;
    replies.syst = row.syst;
    s.peer.Login(replies).AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin()) << "a refused SYST must not stop the login";
    EXPECT_STREQ(ServerTypeName(s.ftp.ServerType), ServerTypeName(row.type));
    EXPECT_TRUE(s.FinishPeer());
  }
}

// ---- Faults ----

TEST(FtpControlFaultTest, LongRepliesThatEndTheirLinesAreAccepted) {
  std::string manyLines = "220-Welcome\r\n";
  for (int i = 0; i < 1000; ++i) manyLines += "220-" + std::string(96, 'a' + i % 26) + "\r\n";
  manyLines += "220 ready\r\n";
  const std::pair<const char*, std::string> rows[] = {
      {"100 KB of short lines", manyLines},
      {"one line of 60 KB", "220 " + std::string(60 * 1024, 'x') + "\r\n"},
  };
  for (const auto& [name, greeting] : rows) {
    SCOPED_TRACE(name);
    ScriptedControlSession s;
    RestOfLogin(s.peer.Reply(greeting)).AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin());
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    EXPECT_TRUE(s.FinishPeer());
  }
}

TEST(FtpControlFaultTest, ControlTextWithoutLineEndBeyond64KiBIsRefused) {
  ScriptedControlSession s;
  s.peer.Login().Expect("CWD /pub").Reply(std::string(70 * 1024, 'x')).AwaitClose();
  ASSERT_TRUE(s.ConnectAndLogin());
  s.log.Clear();
  s.ftp.ChangeDirectory("/pub");
  ASSERT_TRUE(s.RunUntilEvent("quit"));
  Settle();
  EXPECT_EQ(s.Events(), (Lines{"ftpeUnexpectedReply:Error", "quit"}));
  EXPECT_FALSE(s.ftp.Connected);
  EXPECT_EQ(s.ftp.SockHandle, platform::INVALID_SOCKET);
  EXPECT_TRUE(s.FinishPeer()) << "the client must close the connection";
  EXPECT_TRUE(s.LoginAgainWithNewPeer());
}

TEST(FtpControlFaultTest, ResetWhileALineIsBeingSentGivesConnectionReset) {
  FakeSocketLibrary fake;  // before the session, so that it outlives the component
  ScriptedControlSession s;
  s.peer.Login().AwaitClose();
  ASSERT_TRUE(s.ConnectAndLogin());
  s.log.Clear();
  fake.SendFailsAfter(4, 10054, s.ftp.SockHandle);  // "CWD " goes, the rest fails
  s.ftp.ChangeDirectory("/pub");
  ASSERT_TRUE(s.RunUntilEvent("quit", 2));
  Settle();
  EXPECT_EQ(s.Events(), (Lines{"ftpeConnectionReset:Error", "quit", "quit"}));
  EXPECT_EQ(s.ftp.LastError, ftpeConnectionReset);
  EXPECT_FALSE(s.ftp.Connected);
  EXPECT_FALSE(s.ftp.Busy);
  EXPECT_TRUE(TFtpProbe(s.ftp).ShuttingDown());
  EXPECT_TRUE(s.FinishPeer());
  EXPECT_EQ(s.peer.ControlBytes().substr(s.peer.ControlBytes().rfind("FEAT\r\n") + 6), "CWD ");
  fake.Reset();
  EXPECT_TRUE(s.LoginAgainWithNewPeer());
}

}  // namespace
}  // namespace talvo::test
