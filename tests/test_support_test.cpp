// Self-tests of the test tools: the scripted peer and the real-server fixtures, driven by
// a plain blocking-socket client so that they do not depend on the engine they test.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/LoopbackSockets.h"
#include "tests/support/RawFtpClient.h"
#include "tests/support/RealServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

constexpr Millis kWait{10000};

std::string ReadAll(const UniqueFd& fd) {
  std::string all;
  char buffer[65536];
  for (;;) {
    if (WaitFor(fd.Get(), POLLIN, -1, Clock::now() + kWait) != WaitResult::Ready) break;
    const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    all.append(buffer, static_cast<std::size_t>(n));
  }
  return all;
}

// --- Scripted peer ---

TEST(ScriptedPeerTest, PlaysLoginAndRecordsTheCommands) {
  ScriptedPeer peer;
  peer.Login().Expect("QUIT").Reply("221 Bye\r\n").AwaitClose();
  peer.Start();

  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
  EXPECT_EQ(client.Reply(), "220 Talvo scripted peer ready\n");
  EXPECT_EQ(client.Command("USER bob"), "331 Password required\n");
  EXPECT_EQ(client.Command("PASS secret"), "230 Logged in\n");
  EXPECT_EQ(client.Command("SYST"), "215 UNIX Type: L8\n");
  EXPECT_EQ(client.Command("FEAT"), "211-Features:\n EPSV\n SIZE\n211 End\n");
  EXPECT_EQ(client.Command("QUIT"), "221 Bye\n");
  ::shutdown(client.Fd(), SHUT_WR);

  ASSERT_TRUE(peer.WaitFinished(kWait));
  EXPECT_EQ(peer.Failure(), "");
  EXPECT_EQ(peer.Commands(), (std::vector<std::string>{"USER bob", "PASS secret", "SYST", "FEAT", "QUIT"}));
}

TEST(ScriptedPeerTest, LoginWithoutPasswordWhenUserIsAccepted) {
  ScriptedPeer peer;
  ScriptedPeer::LoginReplies replies;
  replies.user = "230 Welcome\r\n";
  peer.Login(replies);
  peer.Start();

  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
  client.Reply();
  EXPECT_EQ(client.Command("USER anonymous"), "230 Welcome\n");
  EXPECT_EQ(client.Command("SYST"), "215 UNIX Type: L8\n");
  client.Command("FEAT");
  ASSERT_TRUE(peer.WaitFinished(kWait));
  EXPECT_EQ(peer.Failure(), "");
}

TEST(ScriptedPeerTest, SplitReplyArrivesInSeparateReads) {
  ScriptedPeer peer;
  peer.ReplySplit("220 hello\r\n230 x\r\n", {10, 12}).Pause(5000);
  peer.Start();

  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
  EXPECT_EQ(client.ReceiveOnce(), "220 hello\r");
  EXPECT_EQ(client.ReceiveOnce(), "\n2");
  EXPECT_EQ(client.ReceiveOnce(), "30 x\r\n");
}

TEST(ScriptedPeerTest, UnexpectedCommandFailsAndStopsTheScript) {
  ScriptedPeer peer;
  peer.Reply("220 hi\r\n").Expect("USER").Reply("331 never sent\r\n");
  peer.Start();

  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
  client.Reply();
  client.Send("PASS oops\r\n");
  ASSERT_TRUE(peer.WaitFinished(kWait));
  EXPECT_NE(peer.Failure().find("step 2 (Expect \"USER\")"), std::string::npos) << peer.Failure();
  EXPECT_NE(peer.Failure().find("got \"PASS oops\""), std::string::npos) << peer.Failure();
  EXPECT_EQ(peer.Commands(), (std::vector<std::string>{"PASS oops"}));
}

TEST(ScriptedPeerTest, KeepsAbortBytesAndTheUrgentMark) {
  ScriptedPeer peer;
  peer.ExpectRaw("\xFF\xF4\xFF\xF2").Expect("ABOR").Expect("LIST");
  peer.Start();

  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
  client.Send("\xFF\xF4");
  client.Send("\xFF\xF2", MSG_OOB);
  client.Send("ABOR\r\n");
  client.Send("\xFF\xF2LIST\r\n");

  ASSERT_TRUE(peer.WaitFinished(kWait));
  EXPECT_EQ(peer.Failure(), "");
  EXPECT_EQ(peer.ControlBytes(), "\xFF\xF4\xFF\xF2" "ABOR\r\n\xFF\xF2LIST\r\n");
  // Only the last byte of an urgent send carries the mark.
  EXPECT_EQ(peer.UrgentOffsets(), (std::vector<std::size_t>{3}));
  EXPECT_EQ(peer.Commands(), (std::vector<std::string>{"ABOR", "LIST"}));
}

TEST(ScriptedPeerTest, CloseAndResetReachTheClientAsSuch) {
  struct Case {
    const char* name;
    std::function<void(ScriptedPeer&)> end;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"close", [](ScriptedPeer& p) { p.Close(); }, ""},
      {"reset", [](ScriptedPeer& p) { p.Reset(); }, "<errno " + std::to_string(ECONNRESET) + ">"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Reply("220 hi\r\n");
    c.end(peer);
    peer.Start();
    RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
    ASSERT_TRUE(peer.WaitFinished(kWait));
    EXPECT_EQ(client.ReceiveOnce(), "220 hi\r\n");
    EXPECT_EQ(client.ReceiveOnce(), c.expected);
  }
}

TEST(ScriptedPeerTest, ActiveDataConnectionsBothWaysAndFromAnotherAddress) {
  ScriptedPeer peer;
  peer.Expect("PORT").DataConnect().DataSendPattern(300000).DataClose()
      .Expect("PORT").DataConnect("127.0.0.2").DataReceive();
  peer.Start();

  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer.Port());
  std::string error;
  const UniqueFd listener = ListenLoopback(0, error);
  ASSERT_TRUE(listener.Valid()) << error;
  const std::uint16_t dataPort = LocalPort(listener.Get());

  client.Send(PortCommand(dataPort) + "\r\n");
  std::string from;
  UniqueFd download = AcceptWithin(listener, kWait, &from);
  ASSERT_TRUE(download.Valid());
  EXPECT_EQ(from, "127.0.0.1");
  EXPECT_EQ(ReadAll(download), PatternBytes(300000));

  client.Send(PortCommand(dataPort) + "\r\n");
  UniqueFd upload = AcceptWithin(listener, kWait, &from);
  ASSERT_TRUE(upload.Valid());
  EXPECT_EQ(from, "127.0.0.2");
  ASSERT_EQ(::send(upload.Get(), "uploaded", 8, MSG_NOSIGNAL), 8);
  upload.Reset();

  ASSERT_TRUE(peer.WaitFinished(kWait));
  EXPECT_EQ(peer.Failure(), "");
  EXPECT_EQ(peer.DataBytesSent(), 300000u);
  const auto received = peer.DataReceived();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].bytes, "uploaded");
  EXPECT_EQ(received[0].fnv1a, Fnv1a("uploaded"));
}

TEST(ScriptedPeerTest, DestructionEndsAScriptThatWaits) {
  auto peer = std::make_unique<ScriptedPeer>();
  peer->Reply("220 hi\r\n").Expect("USER");
  peer->Start();
  RawFtpClient client = RawFtpClient::To("127.0.0.1", peer->Port());
  EXPECT_EQ(client.ReceiveOnce(), "220 hi\r\n");
  peer.reset();  // must wake the thread that waits for USER, not hang
  EXPECT_EQ(client.ReceiveOnce(), "");
}

// --- Real servers ---

struct ServerKind {
  const char* name;
  std::function<std::unique_ptr<FtpServerFixture>()> make;
};

void PrintTo(const ServerKind& kind, std::ostream* out) { *out << kind.name; }

class RealServerTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override {
    server_ = GetParam().make();
    ASSERT_TRUE(server_->Start()) << server_->Error();
  }

  // Logs in on a new connection; returns the reply to PASS (or to USER when that ends it).
  std::string Login(RawFtpClient& client, const std::string& user, const std::string& password) {
    const std::string greeting = client.Reply();
    EXPECT_EQ(greeting.substr(0, 3), "220") << greeting;
    const std::string toUser = client.Command("USER " + user);
    if (toUser.substr(0, 3) != "331") return toUser;
    return client.Command("PASS " + password);
  }

  // RETR or STOR in active mode; returns the bytes received (RETR) and checks the replies.
  std::string Transfer(RawFtpClient& client, const std::string& command, const std::string& upload = {}) {
    std::string error;
    const UniqueFd listener = ListenLoopback(0, error);
    EXPECT_TRUE(listener.Valid()) << error;
    EXPECT_EQ(client.Command(PortCommand(LocalPort(listener.Get()))).substr(0, 3), "200");
    const std::string opening = client.Command(command);
    // 150, or 125 from a server that connected already at PORT (pyftpdlib).
    EXPECT_EQ(opening.substr(0, 1), "1") << command << ": " << opening;
    UniqueFd data = AcceptWithin(listener, kWait);
    EXPECT_TRUE(data.Valid()) << command;
    std::string received;
    if (command.rfind("STOR", 0) == 0) {
      EXPECT_EQ(::send(data.Get(), upload.data(), upload.size(), MSG_NOSIGNAL), static_cast<ssize_t>(upload.size()));
      data.Reset();
    } else {
      received = ReadAll(data);
    }
    const std::string final = client.Reply();
    EXPECT_EQ(final.substr(0, 3), "226") << command << ": " << final;
    return received;
  }

  std::unique_ptr<FtpServerFixture> server_;
};

TEST_P(RealServerTest, AcceptsTheUserAndAnonymousAndRefusesAWrongPassword) {
  {
    RawFtpClient client = RawFtpClient::To("127.0.0.1", server_->Port());
    EXPECT_EQ(Login(client, server_->User(), server_->Password()).substr(0, 3), "230")
        << "(vsftpd needs libpam-pwdfile; see scripts/install-deps.sh)\n" << server_->Log();
  }
  {
    RawFtpClient client = RawFtpClient::To("127.0.0.1", server_->Port());
    EXPECT_EQ(Login(client, server_->User(), "wrong").substr(0, 3), "530");
  }
  {
    RawFtpClient client = RawFtpClient::To("127.0.0.1", server_->Port());
    EXPECT_EQ(Login(client, FtpServerFixture::kAnonymousUser, FtpServerFixture::kAnonymousPassword).substr(0, 3),
              "230");
  }
}

TEST_P(RealServerTest, TransfersInActiveModeWithTheFilesOfTheRoot) {
  ASSERT_TRUE(server_->Root().WritePatternFile("pattern.bin", 100000));
  ASSERT_TRUE(server_->Root().MakeDirectory("incoming"));
  {
    RawFtpClient client = RawFtpClient::To("127.0.0.1", server_->Port());
    ASSERT_EQ(Login(client, server_->User(), server_->Password()).substr(0, 3), "230");
    EXPECT_EQ(client.Command("TYPE I").substr(0, 3), "200");
    EXPECT_EQ(Transfer(client, "RETR pattern.bin"), PatternBytes(100000));
    Transfer(client, "STOR uploaded by user.bin", "user bytes");
  }
  {
    RawFtpClient client = RawFtpClient::To("127.0.0.1", server_->Port());
    ASSERT_EQ(Login(client, FtpServerFixture::kAnonymousUser, FtpServerFixture::kAnonymousPassword).substr(0, 3),
              "230");
    EXPECT_EQ(client.Command("TYPE I").substr(0, 3), "200");
    Transfer(client, "STOR incoming/anonymous.bin", "anonymous bytes");
    EXPECT_EQ(client.Command("MKD incoming/sub").substr(0, 3), "257");
  }
  EXPECT_EQ(server_->Root().ReadFile("uploaded by user.bin"), "user bytes");
  EXPECT_EQ(server_->Root().ReadFile("incoming/anonymous.bin"), "anonymous bytes");
}

TEST_P(RealServerTest, StopLeavesNoProcess) {
  const pid_t pid = server_->Pid();
  ASSERT_GT(pid, 0);
  std::vector<pid_t> processes;
  {
    // A logged-in session makes vsftpd fork (and start sessions of its own); those
    // processes must go too.
    RawFtpClient client = RawFtpClient::To("127.0.0.1", server_->Port());
    ASSERT_EQ(Login(client, server_->User(), server_->Password()).substr(0, 3), "230");
    processes = DescendantsOf(pid);
    processes.push_back(pid);
    server_->Stop();
  }
  for (const pid_t process : processes) {
    EXPECT_TRUE(ProcessGone(process)) << "process " << process << " of " << GetParam().name << " is still there";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, RealServerTest,
    ::testing::Values(
        ServerKind{"pyftpdlib", [] { return std::make_unique<PyFtpdServer>(); }},
        ServerKind{"vsftpd", [] { return std::make_unique<VsftpdServer>(); }},
        ServerKind{"vsftpd_async_abor",
                   [] { return std::make_unique<VsftpdServer>(std::vector<std::string>{"async_abor_enable=YES"}); }}),
    [](const ::testing::TestParamInfo<ServerKind>& info) { return std::string(info.param.name); });

TEST(TempTreeTest, MakesTheFilesTestsNeedAndRemovesThem) {
  std::string path;
  {
    TempTree tree("selftest");
    path = tree.Path();
    ASSERT_TRUE(tree.WriteSparseFile("big/sparse.bin", (2ULL << 30) + 1));
    ASSERT_TRUE(tree.WriteFile("name with blank.txt", "x"));
    ASSERT_TRUE(tree.MakeSymlink("link", "name with blank.txt"));
    EXPECT_EQ(tree.FileSize("big/sparse.bin"), (2ULL << 30) + 1);
    EXPECT_EQ(tree.ReadFile("link"), "x");
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << path << " is still there";
}

}  // namespace
}  // namespace talvo::test
