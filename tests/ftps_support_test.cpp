// Self-tests of the FTPS test tools: the test certificates, the real servers with TLS, the
// scripted peer's TLS steps and the wire capture. They are driven by curl and by a small
// blocking OpenSSL client here, never by the engine they will test.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/LoopbackSockets.h"
#include "tests/support/RawFtpClient.h"
#include "tests/support/RealServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestCertificate.h"
#include "tests/support/TestPattern.h"
#include "tests/support/WireCapture.h"

namespace talvo::test {
namespace {

constexpr Millis kWait{10000};

// AUTH TLS, the handshake, the login and PROT P on a new control connection.
void LoginWithTls(RawFtpClient& control, const std::string& user, const std::string& password) {
  ASSERT_EQ(control.Reply().substr(0, 3), "220");
  ASSERT_EQ(control.Command("AUTH TLS").substr(0, 3), "234");
  ASSERT_TRUE(control.StartTls()) << control.error;
  ASSERT_EQ(control.Command("USER " + user).substr(0, 3), "331");
  ASSERT_EQ(control.Command("PASS " + password).substr(0, 3), "230");
  ASSERT_EQ(control.Command("PBSZ 0").substr(0, 3), "200");
  ASSERT_EQ(control.Command("PROT P").substr(0, 3), "200");
}

// curl with a time limit; its exit code, standard output in `output`.
int Curl(TempTree& files, std::vector<std::string> arguments, std::string* output = nullptr) {
  arguments.insert(arguments.begin(), {"/usr/bin/curl", "-sS", "--max-time", "20"});
  std::string error;
  const int code = RunCommand(arguments, files.PathOf("curl.log"), Millis(30000), output, error);
  EXPECT_GE(code, 0) << error;
  return code;
}

std::string Url(const FtpServerFixture& server, const std::string& path = "/") {
  return "ftp://" + server.Host() + ":" + std::to_string(server.Port()) + path;
}

std::string UserOption() { return std::string(FtpServerFixture::kUser) + ":" + FtpServerFixture::kPassword; }

// --- Test certificates ---

TEST(TestCertificateTest, NamesTheHostAndASecondOneDiffers) {
  TempTree files("certs");
  TestCertificate first, second;
  ASSERT_TRUE(MakeTestCertificate(files, "first", "localhost", first)) << first.error;
  ASSERT_TRUE(MakeTestCertificate(files, "second", "localhost", second)) << second.error;
  // 32 pairs of upper-case hex digits joined by colons.
  ASSERT_EQ(first.fingerprint.size(), 32u * 3 - 1) << first.fingerprint;
  for (std::size_t i = 0; i < first.fingerprint.size(); ++i) {
    const char c = first.fingerprint[i];
    EXPECT_TRUE(i % 3 == 2 ? c == ':' : std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(c))
        << first.fingerprint;
  }
  EXPECT_NE(first.fingerprint, second.fingerprint);

  std::string text, error;
  ASSERT_EQ(RunCommand({"/usr/bin/openssl", "x509", "-noout", "-subject", "-ext", "subjectAltName", "-in",
                        second.certificateFile},
                       files.PathOf("x509.log"), kWait, &text, error),
            0)
      << error;
  EXPECT_NE(text.find("CN = localhost"), std::string::npos) << text;
  EXPECT_NE(text.find("DNS:localhost, IP Address:127.0.0.1"), std::string::npos) << text;
}

// --- Real servers with TLS ---

struct TlsServerKind {
  const char* name;
  std::function<std::unique_ptr<FtpServerFixture>()> make;
  bool refusesPort = false;
  bool requiresResumption = false;
};

void PrintTo(const TlsServerKind& kind, std::ostream* out) { *out << kind.name; }

// curl begins a passive data connection's handshake before its command.
std::unique_ptr<FtpServerFixture> EarlyHandshakePyFtpd(bool refusePort) {
  auto server = std::make_unique<PyFtpdServer>(refusePort);
  server->AcceptEarlyHandshake();
  return server;
}

class TlsRealServerTest : public ::testing::TestWithParam<TlsServerKind> {
 protected:
  void SetUp() override {
    server_ = GetParam().make();
    server_->EnableTls();
    ASSERT_TRUE(server_->Start()) << server_->Error();
  }

  TempTree files_{"curl"};
  std::unique_ptr<FtpServerFixture> server_;
};

TEST_P(TlsRealServerTest, CurlListsDownloadsAndUploadsOnlyWithTls) {
  ASSERT_TRUE(server_->Root().WritePatternFile("pattern.bin", 100000));
  ASSERT_TRUE(server_->Root().MakeDirectory("incoming"));
  ASSERT_TRUE(files_.WriteFile("up.bin", "uploaded over TLS"));
  // curl's options for the user over TLS, then `more`.
  const auto withTls = [](std::vector<std::string> more) {
    more.insert(more.begin(), {"--ssl-reqd", "-k", "-u", UserOption()});
    return more;
  };

  std::string listing;
  EXPECT_EQ(Curl(files_, withTls({Url(*server_)}), &listing), 0) << server_->Log();
  EXPECT_NE(listing.find("pattern.bin"), std::string::npos) << listing;
  // TLS 1.3, and TLS 1.2 (that vsftpd's own cipher list would refuse).
  for (const std::string maximum : {"1.3", "1.2"}) {
    SCOPED_TRACE(maximum);
    EXPECT_EQ(Curl(files_, withTls({"--tls-max", maximum, "-o", files_.PathOf("down.bin"), Url(*server_, "/pattern.bin")})),
              0);
    EXPECT_EQ(files_.ReadFile("down.bin"), PatternBytes(100000));
  }
  EXPECT_EQ(Curl(files_, withTls({"-T", files_.PathOf("up.bin"), Url(*server_, "/up.bin")})), 0);
  EXPECT_EQ(server_->Root().ReadFile("up.bin"), "uploaded over TLS");
  EXPECT_EQ(Curl(files_, {"--ssl-reqd", "-k", "-T", files_.PathOf("up.bin"), Url(*server_, "/incoming/anon.bin")}), 0)
      << "anonymous over TLS";
  EXPECT_EQ(server_->Root().ReadFile("incoming/anon.bin"), "uploaded over TLS");

  // Without TLS, the login is refused.
  EXPECT_NE(Curl(files_, {"-u", UserOption(), Url(*server_)}), 0);
}

// curl 7.88 cannot do active mode with TLS (it never starts the data connection's
// handshake), so the small client here does it: a data connection that resumes the control
// connection's session works both ways; vsftpd (require_ssl_reuse) refuses one that does not.
TEST_P(TlsRealServerTest, ActiveModeDataConnectionsResumeTheSession) {
  ASSERT_TRUE(server_->Root().WritePatternFile("pattern.bin", 70000));
  RawFtpClient control = RawFtpClient::To(server_->Host(), server_->Port());
  ASSERT_NO_FATAL_FAILURE(LoginWithTls(control, server_->User(), server_->Password()));
  EXPECT_EQ(control.PeerFingerprint(), server_->Certificate().fingerprint);
  ASSERT_EQ(control.Command("TYPE I").substr(0, 3), "200");
  std::string error;
  const UniqueFd listener = ListenLoopback(0, error);
  ASSERT_TRUE(listener.Valid()) << error;

  struct Case {
    std::string command;
    bool resume;
  };
  for (const Case& c : {Case{"RETR pattern.bin", true}, Case{"STOR up.bin", true}, Case{"RETR pattern.bin", false}}) {
    SCOPED_TRACE(c.command + (c.resume ? ", resuming" : ", not resuming"));
    const std::string toPort = control.Command(PortCommand(LocalPort(listener.Get())));
    if (GetParam().refusesPort) {
      EXPECT_EQ(toPort.substr(0, 3), "500") << toPort;
      return;
    }
    ASSERT_EQ(toPort.substr(0, 3), "200") << toPort;
    const std::string opening = control.Command(c.command);
    ASSERT_EQ(opening.substr(0, 1), "1") << opening;
    RawFtpClient data(AcceptWithin(listener, kWait));
    ASSERT_TRUE(data.StartTls(c.resume ? control.TlsSession() : nullptr)) << data.error;
    const bool resumed = data.Resumed();
    const bool upload = c.command.rfind("STOR", 0) == 0;
    if (upload) data.Send("uploaded in active mode");
    const std::string received = upload ? "" : data.ReceiveAll();
    data.Finish();
    const std::string final = control.Reply();
    if (!c.resume && GetParam().requiresResumption) {
      EXPECT_EQ(final.substr(0, 3), "522") << final;
      continue;
    }
    EXPECT_EQ(final.substr(0, 3), "226") << final;
    EXPECT_EQ(resumed, c.resume);
    if (!upload) {
      EXPECT_EQ(received, PatternBytes(70000));
    }
  }
  EXPECT_EQ(server_->Root().ReadFile("up.bin"), "uploaded in active mode");
}

TEST_P(TlsRealServerTest, RestartOnTheSamePortPresentsAChangedCertificate) {
  const std::uint16_t port = server_->Port();
  const std::string before = server_->Certificate().fingerprint;
  ASSERT_TRUE(server_->ChangeCertificate()) << server_->Error();
  ASSERT_TRUE(server_->Restart()) << server_->Error();
  EXPECT_EQ(server_->Port(), port);
  EXPECT_NE(server_->Certificate().fingerprint, before);

  RawFtpClient control = RawFtpClient::To(server_->Host(), server_->Port());
  ASSERT_EQ(control.Reply().substr(0, 3), "220");
  ASSERT_EQ(control.Command("AUTH TLS").substr(0, 3), "234");
  ASSERT_TRUE(control.StartTls()) << control.error;
  EXPECT_EQ(control.PeerFingerprint(), server_->Certificate().fingerprint);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, TlsRealServerTest,
    ::testing::Values(TlsServerKind{"pyftpdlib", [] { return EarlyHandshakePyFtpd(false); }},
                      TlsServerKind{"pyftpdlib_refusing_port", [] { return EarlyHandshakePyFtpd(true); }, true},
                      TlsServerKind{"vsftpd", [] { return std::make_unique<VsftpdServer>(); }, false, true}),
    [](const ::testing::TestParamInfo<TlsServerKind>& info) { return std::string(info.param.name); });

// --- The scripted peer with TLS ---

TEST(ScriptedPeerTlsTest, ControlAndDataConnectionsInTlsRecordThePlainCommands) {
  ScriptedPeer peer;
  peer.Reply("220 hi\r\n").Expect("AUTH TLS").Reply("234 Proceed\r\n").StartTls()
      .Expect("USER").Reply("331 Password\r\n").Expect("PASS").Reply("230 In\r\n")
      .Expect("PBSZ 0").Reply("200 PBSZ=0\r\n").Expect("PROT P").Reply("200 Private\r\n")
      .Expect("EPSV").ReplyEpsv().Expect("RETR").Reply("150 Here\r\n")
      .DataAccept().DataStartTls().DataSendPattern(100000).DataClose().Reply("226 Sent\r\n")
      .Expect("PORT").Reply("200 Port\r\n").Expect("STOR").DataConnect().DataStartTls()
      .Reply("150 Go\r\n").DataReceive().DataClose().Reply("226 Stored\r\n");
  peer.Start();

  RawFtpClient control = RawFtpClient::To("127.0.0.1", peer.Port());
  ASSERT_NO_FATAL_FAILURE(LoginWithTls(control, "talvo", "secret"));
  EXPECT_EQ(control.PeerFingerprint(), peer.Certificate().fingerprint);

  // Passive download, resuming the control connection's session.
  const std::string epsv = control.Command("EPSV");
  const auto bar = epsv.find("(|||");
  ASSERT_NE(bar, std::string::npos) << epsv;
  const auto dataPort = static_cast<std::uint16_t>(std::stoi(epsv.substr(bar + 4)));
  control.Send("RETR f\r\n");
  RawFtpClient download = RawFtpClient::To("127.0.0.1", dataPort);
  ASSERT_TRUE(download.StartTls(control.TlsSession())) << download.error;
  EXPECT_EQ(control.Reply(), "150 Here\n");
  EXPECT_EQ(download.ReceiveAll(), PatternBytes(100000));
  EXPECT_EQ(control.Reply(), "226 Sent\n");

  // Active upload, without resumption.
  std::string error;
  const UniqueFd listener = ListenLoopback(0, error);
  ASSERT_TRUE(listener.Valid()) << error;
  EXPECT_EQ(control.Command(PortCommand(LocalPort(listener.Get()))), "200 Port\n");
  control.Send("STOR u\r\n");
  RawFtpClient upload(AcceptWithin(listener, kWait));
  ASSERT_TRUE(upload.StartTls()) << upload.error;
  EXPECT_EQ(control.Reply(), "150 Go\n");
  upload.Send("uploaded bytes");
  upload.Finish();
  EXPECT_EQ(control.Reply(), "226 Stored\n");

  ASSERT_TRUE(peer.WaitFinished(kWait));
  EXPECT_EQ(peer.Failure(), "");
  const auto commands = peer.Commands();
  ASSERT_EQ(commands.size(), 9u);
  EXPECT_EQ(commands[2], "PASS secret");
  EXPECT_NE(peer.ControlBytes().find("PBSZ 0\r\nPROT P\r\n"), std::string::npos);
  const auto handshakes = peer.TlsHandshakes();
  ASSERT_EQ(handshakes.size(), 3u);
  EXPECT_FALSE(handshakes[0].dataConnection);
  EXPECT_EQ(handshakes[0].serverName, "localhost");
  EXPECT_TRUE(handshakes[1].dataConnection);
  EXPECT_TRUE(handshakes[1].resumed);
  EXPECT_FALSE(handshakes[2].resumed);
  const auto received = peer.DataReceived();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].bytes, "uploaded bytes");
  EXPECT_TRUE(received[0].endedByCloseNotify);
}

TEST(ScriptedPeerTlsTest, DataCloseSendsCloseNotifyAndTheOtherCloseDoesNot) {
  struct Case {
    const char* name;
    std::function<void(ScriptedPeer&)> close;
    bool closeNotify;
  };
  const std::vector<Case> cases = {
      {"DataClose", [](ScriptedPeer& p) { p.DataClose(); }, true},
      {"DataCloseWithoutNotify", [](ScriptedPeer& p) { p.DataCloseWithoutNotify(); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Reply("220 hi\r\n").Expect("AUTH TLS").Reply("234 Proceed\r\n").StartTls()
        .Expect("EPSV").ReplyEpsv().DataAccept().DataStartTls().DataSend("all of it");
    c.close(peer);
    peer.Start();
    RawFtpClient control = RawFtpClient::To("127.0.0.1", peer.Port());
    EXPECT_EQ(control.Reply(), "220 hi\n");
    EXPECT_EQ(control.Command("AUTH TLS"), "234 Proceed\n");
    ASSERT_TRUE(control.StartTls()) << control.error;
    const std::string epsv = control.Command("EPSV");
    const auto bar = epsv.find("(|||");
    ASSERT_NE(bar, std::string::npos) << epsv;
    RawFtpClient data = RawFtpClient::To("127.0.0.1", static_cast<std::uint16_t>(std::stoi(epsv.substr(bar + 4))));
    ASSERT_TRUE(data.StartTls(control.TlsSession())) << data.error;
    EXPECT_EQ(data.ReceiveAll(), "all of it");
    EXPECT_EQ(data.CloseNotify(), c.closeNotify);
    ASSERT_TRUE(peer.WaitFinished(kWait));
    EXPECT_EQ(peer.Failure(), "");
  }
}

TEST(ScriptedPeerTlsTest, GarbageOrSilenceAfter234FailsTheClientsHandshake) {
  struct Case {
    const char* name;
    std::function<void(ScriptedPeer&)> after234;
    int clientError;  // what SSL_connect ends with
  };
  const std::vector<Case> cases = {
      // A plain reply where the ServerHello should be.
      {"garbage", [](ScriptedPeer& p) { p.ReplyGarbage("500 not TLS\r\n"); }, SSL_ERROR_SSL},
      // The handshake is never answered: the client's one-second receive limit ends it.
      {"silence", [](ScriptedPeer& p) { p.Pause(3000); }, SSL_ERROR_WANT_READ},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer;
    peer.Reply("220 hi\r\n").Expect("AUTH TLS").Reply("234 Proceed\r\n");
    c.after234(peer);
    peer.Start();
    RawFtpClient control = RawFtpClient::To("127.0.0.1", peer.Port(), 1);
    EXPECT_EQ(control.Reply(), "220 hi\n");
    EXPECT_EQ(control.Command("AUTH TLS"), "234 Proceed\n");
    EXPECT_FALSE(control.StartTls());
    EXPECT_EQ(control.LastError(), c.clientError) << control.error;
  }
}

// --- Wire capture ---

class WireCaptureTest : public ::testing::TestWithParam<TlsServerKind> {};

// Starts a capture of `address`, or skips the test where tcpdump cannot capture.
#define START_CAPTURE_OR_SKIP(capture)                                                   \
  do {                                                                                   \
    const auto started = (capture).Start();                                              \
    if (started == WireCapture::Started::Unavailable) GTEST_SKIP() << (capture).Error(); \
    ASSERT_EQ(started, WireCapture::Started::Yes) << (capture).Error();                  \
  } while (false)

TEST_P(WireCaptureTest, SeesThePasswordAndFilesOfAPlainSessionAndNothingOfATlsOne) {
  TempTree files("capture-test");
  const std::string passive = "passive file bytes 7341", active = "active file bytes 9822";
  {
    SCOPED_TRACE("plain");
    auto server = GetParam().make();
    server->SetHost(UniqueLoopbackAddress());
    ASSERT_TRUE(server->Root().WriteFile("p.txt", passive) && server->Root().WriteFile("a.txt", active));
    ASSERT_TRUE(server->Start()) << server->Error();
    WireCapture capture(server->Host());
    START_CAPTURE_OR_SKIP(capture);
    std::string got;
    EXPECT_EQ(Curl(files, {"-u", UserOption(), Url(*server, "/p.txt")}, &got), 0);
    EXPECT_EQ(got, passive);
    EXPECT_EQ(Curl(files, {"-u", UserOption(), "-P", "-", Url(*server, "/a.txt")}, &got), 0);
    EXPECT_EQ(got, active);
    ASSERT_TRUE(capture.Stop()) << capture.Error();
    EXPECT_TRUE(capture.Contains(std::string("PASS ") + FtpServerFixture::kPassword));
    EXPECT_TRUE(capture.Contains(passive));
    EXPECT_TRUE(capture.Contains(active));
  }
  {
    SCOPED_TRACE("TLS");
    auto server = GetParam().make();
    server->SetHost(UniqueLoopbackAddress());
    server->EnableTls();
    ASSERT_TRUE(server->Root().WriteFile("p.txt", passive));
    ASSERT_TRUE(server->Start()) << server->Error();
    WireCapture capture(server->Host());
    START_CAPTURE_OR_SKIP(capture);
    std::string got;
    EXPECT_EQ(Curl(files, {"--ssl-reqd", "-k", "-u", UserOption(), Url(*server, "/p.txt")}, &got), 0);
    EXPECT_EQ(got, passive);
    ASSERT_TRUE(capture.Stop()) << capture.Error();
    EXPECT_TRUE(capture.Contains("AUTH ")) << "the capture saw the session";
    EXPECT_FALSE(capture.Contains(FtpServerFixture::kPassword));
    EXPECT_FALSE(capture.Contains(passive));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, WireCaptureTest,
    ::testing::Values(TlsServerKind{"pyftpdlib", [] { return EarlyHandshakePyFtpd(false); }},
                      TlsServerKind{"vsftpd", [] { return std::make_unique<VsftpdServer>(); }}),
    [](const ::testing::TestParamInfo<TlsServerKind>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace talvo::test
