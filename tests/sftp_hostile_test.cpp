// Peers that do not behave: one that closes during the key exchange, one that answers
// with something else than an SSH banner, one whose SFTP subsystem answers with nonsense.
// Each ends the session with one clear message, within the bounded wait, and touches no
// local file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/MessageLoop.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/SftpTestSession.h"

namespace talvo::test {
namespace {

// A TCP peer on 127.0.0.1 that plays `script` on the first connection, on a thread of its
// own, and is stopped when it goes.
class ScriptedTcpPeer {
 public:
  explicit ScriptedTcpPeer(std::function<void(int fd, int stopFd)> script) {
    std::string error;
    listener_ = ListenLoopback(0, error);
    port_ = LocalPort(listener_.Get());
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) == 0) {
      stopRead_.Reset(fds[0]);
      stopWrite_.Reset(fds[1]);
    }
    thread_ = std::thread([this, script] {
      if (WaitFor(listener_.Get(), POLLIN, stopRead_.Get(), Clock::now() + Millis(20000)) != WaitResult::Ready) return;
      UniqueFd peer(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (peer.Valid()) script(peer.Get(), stopRead_.Get());
    });
  }
  ~ScriptedTcpPeer() {
    (void)!::write(stopWrite_.Get(), "x", 1);
    thread_.join();
  }
  std::uint16_t Port() const { return port_; }

 private:
  UniqueFd listener_, stopRead_, stopWrite_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// Reads what the client sends for a while (or until it closes).
void Drain(int fd, int stopFd, Millis time) {
  const auto deadline = Clock::now() + time;
  char buffer[4096];
  while (WaitFor(fd, POLLIN, stopFd, deadline) == WaitResult::Ready && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
}

class SftpHostileTest : public ::testing::Test {
 protected:
  // A session to 127.0.0.1:port with short bounded waits; runs until the quit
  // notification and returns the seconds it took.
  double RunAgainst(std::uint16_t port) {
    session_.sftp.SetFtpServer("127.0.0.1");
    session_.sftp.FtpPort = port;
    session_.sftp.GuardTimes.Handshake = 3;
    session_.sftp.GuardTimes.Stall = 3;
    const auto start = std::chrono::steady_clock::now();
    session_.sftp.Connect();
    EXPECT_TRUE(session_.WaitQuit(15000)) << session_.Transcript();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  // One error, this one, and the end of the session.
  void ExpectOneError(const std::string& line) {
    EXPECT_EQ(session_.log.Count(line), 1) << session_.Transcript();
    EXPECT_EQ(session_.log.CountPrefix("ftpe") + session_.log.CountPrefix("sftpe"), 1) << session_.Transcript();
    EXPECT_EQ(session_.log.Count("loggedIn"), 0);
    EXPECT_FALSE(session_.sftp.Connected);
  }

  SshdServer server_;  // not started: only its folders serve the session
  SftpTestSession session_{server_, false, false};
};

TEST_F(SftpHostileTest, PeerClosingDuringTheKeyExchange) {
  ScriptedTcpPeer peer([](int fd, int stopFd) {
    const std::string banner = "SSH-2.0-OpenSSH_9.2\r\n";
    (void)!::send(fd, banner.data(), banner.size(), MSG_NOSIGNAL);
    Drain(fd, stopFd, Millis(300));  // the client's banner and key exchange offer
  });
  EXPECT_LT(RunAgainst(peer.Port()), 3.0);
  ExpectOneError("sftpeHandshake:closed");
}

// An FTP server's greeting, then silence: no SSH server, said once the bounded wait ends.
TEST_F(SftpHostileTest, PeerAnsweringWithSomethingElseThanSsh) {
  ScriptedTcpPeer peer([](int fd, int stopFd) {
    const std::string greeting = "220 Bienvenue sur le serveur FTP\r\n";
    (void)!::send(fd, greeting.data(), greeting.size(), MSG_NOSIGNAL);
    Drain(fd, stopFd, Millis(10000));
  });
  EXPECT_LT(RunAgainst(peer.Port()), 6.0);
  ExpectOneError("sftpeHandshake:banner");
}

TEST_F(SftpHostileTest, SftpSubsystemAnsweringWithNonsense) {
  SshdServer server({"Subsystem sftp /usr/bin/python3 " TALVO_SOURCE_DIR "/tests/support/nonsense_sftp_server.py"});
  ASSERT_TRUE(server.Start()) << server.Error();
  SftpTestSession s(server);
  ASSERT_TRUE(s.local.WriteFile("kept.txt", "mine"));
  ASSERT_TRUE(s.LogIn()) << s.Transcript();
  EXPECT_EQ(s.sftp.InitialDirectory, "/srv");
  s.sftp.RemoteFile = "file";
  s.sftp.LocalFile = s.local.PathOf("kept.txt");
  const auto start = std::chrono::steady_clock::now();
  s.sftp.ReceiveFile();
  ASSERT_TRUE(s.WaitQuit(15000)) << s.Transcript();
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  EXPECT_EQ(s.log.CountPrefix("sftpeProtocol:"), 1) << s.Transcript();
  EXPECT_EQ(s.log.CountPrefix("ftpe") + s.log.CountPrefix("sftpe"), 1) << s.Transcript();
  EXPECT_EQ(s.log.Count("fileReceived"), 1) << "the download ends, failed";
  EXPECT_EQ(s.local.ReadFile("kept.txt"), "mine");
  EXPECT_FALSE(s.local.Exists("kept.txt.part"));
}

}  // namespace
}  // namespace talvo::test
