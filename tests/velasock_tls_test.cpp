// TVelaSocket's TLS client session against `openssl s_server` (certificates, SNI,
// resumption, plain bytes both ways, close_notify), against plain loopback peers that
// break the handshake, and through the fake socket library.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/WinsockErrors.h"
#include "tests/support/FakeSocketLibrary.h"
#include "tests/support/LoopRuns.h"
#include "tests/support/SocketEvents.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/OpenSslServer.h"
#include "tests/support/TestPattern.h"
#include "transport/TlsLinger.h"
#include "transport/velasock.h"

namespace talvo::test {
namespace {

using namespace platform;

constexpr int kWaitMs = 10000;
constexpr int kChunk = 2048;  // what the FTP component reads and writes at a time

class VelaSocketTlsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& s : sockets_) s->SockClose();
    sockets_.clear();
    RunUntil([] { return transport::ClosesFinishing() == 0; });
  }

  // A socket connected to 127.0.0.1:port, every event recorded in `events`.
  TVelaSocket& Connected(std::uint16_t port, SocketEvents& events) {
    sockets_.push_back(std::make_unique<TVelaSocket>());
    TVelaSocket& s = *sockets_.back();
    EXPECT_TRUE(s.InitWinsock());
    events.Record(s);
    s.TimeOutConnect = 5;
    s.SockOpen();
    s.SockSetAddress("127.0.0.1");
    s.SockSetPort(port);
    s.SockConnect();
    EXPECT_TRUE(RunUntil([&] { return events.Count('C') == 1; }));
    EXPECT_EQ(events.ErrorOf('C'), 0);
    events = SocketEvents{};
    return s;
  }

  // `server` started, and a socket through its handshake with it.
  TVelaSocket& Established(OpenSslServer& server, SocketEvents& events) {
    StartServer(server);
    TVelaSocket& s = Connected(server.Port(), events);
    Handshake(s, events, Options("tls.test", false));
    EXPECT_EQ(events.ErrorOf('D'), 0);
    return s;
  }

  // Starts the handshake and waits for its end (done or time-out).
  static void Handshake(TVelaSocket& s, SocketEvents& events, const TTlsClientOptions& options) {
    s.SockStartTls(options);
    ASSERT_EQ(s.SockError, 0);
    ASSERT_TRUE(RunUntil([&] { return events.Count('D') + events.Count('T') > 0; }));
  }

  static TTlsClientOptions Options(const std::string& serverName, bool verify, const std::string& caFile = "") {
    TTlsClientOptions options;
    options.ServerName = serverName;
    options.VerifyPeer = verify;
    options.CaFile = caFile;
    return options;
  }

  static void StartServer(OpenSslServer& server) { ASSERT_TRUE(server.Start()) << server.Error(); }

 private:
  std::vector<std::unique_ptr<TVelaSocket>> sockets_;
};

// ---- Against openssl s_server ----

TEST_F(VelaSocketTlsTest, HandshakeSendsTheServerNameAndChecksTheCertificate) {
  OpenSslServer server;
  StartServer(server);
  const std::string named = server.Fingerprint(OpenSslServer::kName);
  const std::string fallback = server.Fingerprint(OpenSslServer::kFallbackName);
  ASSERT_FALSE(named.empty()) << server.Error();
  ASSERT_NE(named, fallback);
  const std::string both = server.BothCertificatesFile();

  struct Case {
    const char* what;
    TTlsClientOptions options;
    std::uint16_t error;
    const std::string* fingerprint;  // the certificate the server chose by SNI
    bool verified;
    const char* problem;  // the chain's; a name that does not match is told apart
  };
  const Case cases[] = {
      {"self-signed, verification on", Options("tls.test", true), TLSE_CERT_UNTRUSTED, nullptr, false, ""},
      {"self-signed, verification off", Options("tls.test", false), 0, &named, false, "self-signed certificate"},
      {"trusted, its own name", Options("tls.test", true, both), 0, &named, true, ""},
      {"trusted, another name", Options("other.test", true, both), TLSE_HOST_MISMATCH, nullptr, false, ""},
      {"trusted, another name, verification off", Options("other.test", false, both), 0, &fallback, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SocketEvents events;
    TVelaSocket& s = Connected(server.Port(), events);
    Handshake(s, events, c.options);
    EXPECT_EQ(events.order, "D");
    EXPECT_EQ(events.ErrorOf('D'), c.error);
    if (c.error == 0) {
      EXPECT_EQ(s.TlsInfo.PeerFingerprint, *c.fingerprint);
      EXPECT_EQ(s.TlsInfo.PeerVerified, c.verified);
      EXPECT_EQ(s.TlsInfo.VerifyProblem, c.problem);
      EXPECT_EQ(s.TlsInfo.PeerNameMatches, c.fingerprint == &named);
      EXPECT_EQ(s.TlsInfo.Version, "TLSv1.3");
      EXPECT_EQ(s.TlsInfo.Cipher.rfind("TLS_", 0), 0u) << s.TlsInfo.Cipher;
      EXPECT_FALSE(s.TlsInfo.Resumed);
    }
    s.SockClose();
  }
}

// A client reading one 2048-byte block per read notification, as the FTP component does;
// what it saw when the close came.
struct PlainReader {
  explicit PlainReader(TVelaSocket& s) {
    s.OnSockRead = [this, &s](TObject*) {
      char buffer[kChunk];
      const int n = s.SockReceive(buffer, kChunk);
      EXPECT_EQ(s.SockError, 0);
      received.append(buffer, static_cast<std::size_t>(n));
    };
    s.OnSockClose = [this, &s](TObject*) {
      ++closes;
      receivedAtClose = received.size();
      closeError = s.SockError;
      closeNotify = s.TlsInfo.PeerCloseNotify;
    };
  }
  std::string received;
  int closes = 0;
  std::size_t receivedAtClose = 0;
  std::uint16_t closeError = 0;
  bool closeNotify = false;
};

// Plain bytes both ways at once, written 2048 bytes at a time as the FTP component does.
TEST_F(VelaSocketTlsTest, PlainBytesGoBothWaysByteForByte) {
  constexpr std::size_t kSize = 4 << 20;
  OpenSslServer server;
  SocketEvents events;
  TVelaSocket& s = Established(server, events);
  PlainReader reader(s);
  const std::string upload = PatternBytes(kSize);
  std::size_t sent = 0;
  const auto sendMore = [&] {
    while (sent < upload.size()) {
      const int count = static_cast<int>(std::min<std::size_t>(kChunk, upload.size() - sent));
      const int n = s.SockSend(upload.data() + sent, count);
      ASSERT_EQ(s.SockError, 0);
      if (n == 0) return;  // the write notification resumes
      sent += static_cast<std::size_t>(n);
    }
  };
  s.OnSockWrite = [&](TObject*) { sendMore(); };

  server.CollectFromClient(kSize);
  std::string download = PatternBytes(kSize);
  std::reverse(download.begin(), download.end());
  server.SendToClient(download);
  sendMore();
  ASSERT_TRUE(RunUntil([&] { return sent == kSize && reader.received.size() == kSize; }, 60000))
      << "sent " << sent << ", received " << reader.received.size();
  std::string uploaded;
  ASSERT_TRUE(server.Collected(uploaded)) << server.Error();
  EXPECT_TRUE(uploaded == upload) << "the server got other bytes than were sent";
  EXPECT_TRUE(reader.received == download) << "the client got other bytes than the server sent";
  EXPECT_EQ(reader.closes, 0);
}

// The peer sends a burst and closes at once, while the client still reads it 2048 bytes at a
// time: the close comes once, after the last byte, whether or not close_notify came first.
TEST_F(VelaSocketTlsTest, TheCloseComesAfterTheLastPlainByte) {
  constexpr std::size_t kBurst = 64 << 10;
  for (const bool closeNotify : {true, false}) {
    SCOPED_TRACE(closeNotify ? "close_notify, then the close" : "a bare close (the server killed)");
    OpenSslServer server;
    SocketEvents events;
    TVelaSocket& s = Established(server, events);
    PlainReader reader(s);
    RunFor(100);  // the TLS 1.3 tickets

    // The loop does not run meanwhile: the burst and the close wait in the socket together.
    server.SendToClient(PatternBytes(kBurst), /*thenEnd=*/closeNotify);
    ASSERT_TRUE(server.SendFinished()) << server.Error();
    std::this_thread::sleep_for(Millis(300));
    if (!closeNotify) server.Kill();

    ASSERT_TRUE(RunUntil([&] { return s.SockHandle == INVALID_SOCKET; }));
    RunFor(100);
    EXPECT_EQ(reader.closes, 1);
    EXPECT_EQ(reader.receivedAtClose, kBurst);
    EXPECT_TRUE(reader.received == PatternBytes(kBurst));
    EXPECT_EQ(reader.closeError, 0);
    EXPECT_EQ(reader.closeNotify, closeNotify);
  }
}

// OpenSSL decrypts a whole record at once: what remains of it after one read has no network
// event of its own, and must still be announced.
TEST_F(VelaSocketTlsTest, ARecordLargerThanOneReadIsReadWithoutFurtherNetworkData) {
  constexpr std::size_t kRecord = 16000;
  OpenSslServer server;
  SocketEvents events;
  TVelaSocket& s = Established(server, events);
  RunFor(200);  // the TLS 1.3 tickets come first, on their own

  std::string received;
  int reads = 0;
  s.OnSockRead = [&](TObject*) {
    ++reads;
    char buffer[kChunk];
    received.append(buffer, static_cast<std::size_t>(s.SockReceive(buffer, kChunk)));
  };
  server.SendToClient(PatternBytes(kRecord));  // s_server sends what it reads at once as one record
  ASSERT_TRUE(server.SendFinished()) << server.Error();
  ASSERT_TRUE(RunUntil([&] { return received.size() == kRecord; })) << received.size() << " bytes";
  EXPECT_TRUE(received == PatternBytes(kRecord));
  EXPECT_GE(reads, static_cast<int>(kRecord / kChunk));
  EXPECT_NE(s.SockHandle, INVALID_SOCKET);
}

// A control connection, then data connections one after another, each resuming the control
// connection's session, as an FTPS server that insists on resumption (vsftpd) requires.
TEST_F(VelaSocketTlsTest, DataConnectionsOneAfterAnotherResumeTheControlSession) {
  struct Case {
    const char* what;
    std::vector<std::string> serverArgs;
    const char* version;
    // Whether each data connection reads the ticket the server sends it before closing.
    bool dataReadsItsTicket;
  };
  const Case cases[] = {
      {"TLS 1.2", {"-tls1_2"}, "TLSv1.2", true},
      // The control connection's ticket serves every data connection.
      {"TLS 1.3, data connections closed at once", {"-tls1_3"}, "TLSv1.3", false},
      // A server that accepts early data takes each ticket once: each data connection
      // passes the one it received on to the next.
      {"TLS 1.3, single-use tickets", {"-tls1_3", "-early_data"}, "TLSv1.3", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenSslServer server(c.serverArgs);
    StartServer(server);
    SocketEvents controlEvents;
    TVelaSocket& control = Connected(server.Port(), controlEvents);
    // Taken when the handshake ends, before a TLS 1.3 server has sent its ticket: the
    // handle must follow the connection.
    TTlsSession session;
    control.OnSockTlsDone = [&](TObject*) {
      controlEvents.order += 'D';
      controlEvents.errors.push_back(control.SockError);
      session = control.SockTlsSession();
    };
    Handshake(control, controlEvents, Options("tls.test", false));
    ASSERT_EQ(controlEvents.ErrorOf('D'), 0);
    EXPECT_FALSE(control.TlsInfo.Resumed);
    ASSERT_TRUE(RunUntil([&] { return session.Valid(); })) << "no session arrived";
    control.SockClose();  // s_server serves one connection at a time

    for (int round = 1; round <= 3; ++round) {
      SCOPED_TRACE("data connection " + std::to_string(round));
      SocketEvents dataEvents;
      TVelaSocket& data = Connected(server.Port(), dataEvents);
      TTlsClientOptions options = Options("tls.test", false);
      options.Session = session;
      Handshake(data, dataEvents, options);
      ASSERT_EQ(dataEvents.ErrorOf('D'), 0);
      EXPECT_TRUE(data.TlsInfo.Resumed);
      EXPECT_EQ(data.TlsInfo.Version, c.version);
      EXPECT_EQ(data.TlsInfo.PeerFingerprint, control.TlsInfo.PeerFingerprint);
      if (c.dataReadsItsTicket) RunFor(200);
      data.SockClose();
    }
  }
}

// A close right after the last send: the bytes the network has not taken yet, and the
// close_notify after them, still reach the server.
TEST_F(VelaSocketTlsTest, CloseAfterTheLastSendDeliversEverythingThenCloseNotify) {
  OpenSslServer server;
  SocketEvents events;
  TVelaSocket& s = Established(server, events);

  // Nobody reads the server's output yet: it stops reading, and the socket fills up.
  constexpr std::size_t kLimit = 256 << 20;
  char chunk[kChunk];
  std::size_t accepted = 0;
  for (int n = 1; n > 0 && accepted < kLimit; accepted += static_cast<std::size_t>(n)) {
    FillPattern(accepted, chunk, kChunk);
    n = s.SockSend(chunk, kChunk);
    ASSERT_EQ(s.SockError, 0);
  }
  ASSERT_LT(accepted, kLimit) << "the socket never filled";
  s.SockClose();
  EXPECT_EQ(s.SockHandle, INVALID_SOCKET);
  EXPECT_EQ(transport::ClosesFinishing(), 1) << "bytes were waiting, the close must finish later";

  server.CollectFromClient(accepted);
  ASSERT_TRUE(RunUntil([] { return transport::ClosesFinishing() == 0; }, 30000));
  std::string uploaded;
  ASSERT_TRUE(server.Collected(uploaded)) << server.Error();
  ASSERT_EQ(uploaded.size(), accepted);
  EXPECT_TRUE(uploaded == PatternBytes(accepted)) << "the server got other bytes than were sent";
  ASSERT_TRUE(RunUntil([&] { return server.Messages().find("<<< TLS 1.3, Alert") != std::string::npos; }));
  EXPECT_NE(server.Messages().find("warning close_notify"), std::string::npos) << server.Messages();
}

// ---- Peers that break the handshake ----

enum class PeerMisdeed { AnswersGarbage, Closes, Resets, NeverSpeaks };

// A loopback peer on its own thread: accepts one connection, waits for the ClientHello,
// then misbehaves; it holds the connection until the test ends it.
class BadPeer {
 public:
  explicit BadPeer(PeerMisdeed misdeed) {
    std::string error;
    listener_ = ListenLoopback(0, error);
    EXPECT_TRUE(listener_.Valid()) << error;
    thread_ = std::thread([this, misdeed] { Run(misdeed); });
  }
  ~BadPeer() {
    ::shutdown(listener_.Get(), SHUT_RDWR);
    done_ = true;
    thread_.join();
  }
  std::uint16_t Port() const { return LocalPort(listener_.Get()); }

 private:
  void Run(PeerMisdeed misdeed) {
    if (WaitFor(listener_.Get(), POLLIN, -1, Clock::now() + Millis(kWaitMs)) != WaitResult::Ready) return;
    UniqueFd peer(::accept(listener_.Get(), nullptr, nullptr));
    if (!peer.Valid()) return;
    if (misdeed != PeerMisdeed::NeverSpeaks) {
      char hello[4096];
      if (WaitFor(peer.Get(), POLLIN, -1, Clock::now() + Millis(kWaitMs)) != WaitResult::Ready) return;
      if (::recv(peer.Get(), hello, sizeof hello, 0) <= 0) return;
    }
    switch (misdeed) {
      case PeerMisdeed::AnswersGarbage: {
        const std::string reply = "220 Service ready for new user.\r\n";
        ::send(peer.Get(), reply.data(), reply.size(), MSG_NOSIGNAL);
        break;
      }
      case PeerMisdeed::Closes: peer.Reset(); break;
      case PeerMisdeed::Resets: ResetConnection(peer); break;
      case PeerMisdeed::NeverSpeaks: break;
    }
    while (!done_) std::this_thread::sleep_for(Millis(10));
  }

  UniqueFd listener_;
  std::thread thread_;
  std::atomic<bool> done_{false};
};

TEST_F(VelaSocketTlsTest, APeerThatBreaksTheHandshakeEndsItWithAnError) {
  struct Case {
    const char* what;
    PeerMisdeed misdeed;
    std::uint16_t error;
    bool socketClosed;  // the peer's close ended the socket too
  };
  const Case cases[] = {
      {"an FTP reply instead of TLS", PeerMisdeed::AnswersGarbage, TLSE_NOT_TLS, false},
      {"a close after the ClientHello", PeerMisdeed::Closes, TLSE_HANDSHAKE_CLOSED, true},
      {"a reset after the ClientHello", PeerMisdeed::Resets, WSAECONNRESET, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BadPeer peer(c.misdeed);
    SocketEvents events;
    TVelaSocket& s = Connected(peer.Port(), events);
    Handshake(s, events, Options("tls.test", false));
    RunFor(200);
    EXPECT_EQ(events.order, "D") << "one ending, and nothing after it";
    EXPECT_EQ(events.ErrorOf('D'), c.error);
    EXPECT_EQ(s.SockHandle == INVALID_SOCKET, c.socketClosed);
    EXPECT_EQ(s.TimerId, 0u);
    s.SockClose();
  }
}

TEST_F(VelaSocketTlsTest, APeerThatNeverAnswersIsBoundedByTheConnectTimeOut) {
  BadPeer peer(PeerMisdeed::NeverSpeaks);
  SocketEvents events;
  TVelaSocket& s = Connected(peer.Port(), events);
  s.TimeOutConnect = 1;
  RunFor(100);  // the write notification after the connect must not stop the countdown
  Handshake(s, events, Options("tls.test", false));
  EXPECT_EQ(events.order, "T");
  EXPECT_EQ(s.SockHandle, INVALID_SOCKET);
  EXPECT_FALSE(s.SockTlsActive());
  RunFor(1300);
  EXPECT_EQ(events.order, "T");
}

// ---- Through the fake socket library ----

class VelaSocketTlsFakeTest : public VelaSocketTlsTest {
 protected:
  FakeSocketLibrary fake;
};

TEST_F(VelaSocketTlsFakeTest, TheEncryptedBytesGoThroughTheSocketLibrary) {
  OpenSslServer server;
  SocketEvents events;
  TVelaSocket& s = Established(server, events);

  fake.SendFailsAfter(0, WSAECONNRESET, s.SockHandle);
  // A whole record's worth is sealed and sent at once (smaller sends are gathered first).
  constexpr int kRecord = 16384;
  const std::string data = PatternBytes(kRecord);
  EXPECT_EQ(s.SockSend(data.data(), kRecord), 0);
  EXPECT_EQ(s.SockError, WSAECONNRESET);
  ASSERT_TRUE(RunUntil([&] { return events.Count('X') == 1; }));
  EXPECT_EQ(events.ErrorOf('X'), WSAECONNRESET);
  EXPECT_EQ(s.SockHandle, INVALID_SOCKET);
}

}  // namespace
}  // namespace talvo::test
