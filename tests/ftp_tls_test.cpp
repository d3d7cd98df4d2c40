// The encrypted session against the scripted peer: the modes against a server without TLS
// (require sends no USER, auto goes on in clear and says so, and refuses to with a server
// that did TLS before); certificates (another host's refused; an unverified one asked
// about, pinned, and a changed one asked about again with a warning); the faults (garbage
// after 234, a handshake that never ends, a data connection in clear under PROT P); the
// stop inside TLS; a download whose data connection ends without close_notify. Also the
// file of remembered servers and the fingerprints typed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "session/KnownServers.h"
#include "tests/support/ScriptedControlSession.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;

const std::string kFingerprint =
    "C8:68:3A:BF:AD:06:EC:BB:4E:2F:15:8B:D1:EF:3C:33:06:52:36:0F:B8:FE:51:A7:A0:02:76:21:9C:B5:DC:3C";

TEST(FtpTlsModeTest, AServerWithoutTlsPerMode) {
  const struct {
    const char* name;
    TTlsMode mode;
    bool knownBefore;
    const char* error;  // empty: the login goes on in clear
    const char* typed = "127.0.0.1";
    bool unreadable = false;  // the file of known servers exists and cannot be read
  } rows[] = {
      {"auto, a server never seen", tlsmAuto, false, ""},
      {"require", tlsmRequire, false, "ftpeTlsNotOffered:Error"},
      {"auto, a server that did TLS before", tlsmAuto, true, "ftpeTlsDowngrade:Error"},
      // Known by the address it was reached at before, typed by its name now.
      {"auto, typed by name, did TLS before", tlsmAuto, true, "ftpeTlsDowngrade:Error", "localhost"},
      // The same address, mapped into IPv6.
      {"auto, the address mapped, did TLS before", tlsmAuto, true, "ftpeTlsDowngrade:Error", "::ffff:127.0.0.1"},
      // Whether it did TLS before is not known: not in clear.
      {"auto, the list cannot be read", tlsmAuto, false, "ftpeKnownServersUnreadable:", "127.0.0.1", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree config("tls-config");
    ScriptedControlSession s;
    s.server = row.typed;
    s.ftp.TlsMode = row.mode;
    s.ftp.KnownServersFile = config.PathOf("known-servers");
    if (row.unreadable) {
      ASSERT_TRUE(config.MakeDirectory("known-servers"));  // even root cannot read it
    }
    s.peer.Reply("220 ready\r\n").Expect("AUTH TLS").Reply("500 AUTH not understood\r\n");
    if (row.error[0] == '\0') {
      s.peer.Expect("USER alice").Reply("331 go on\r\n").Expect("PASS secret").Reply("230 in\r\n").Expect("SYST")
          .Reply("215 UNIX Type: L8\r\n").Expect("FEAT").Reply("211 None\r\n");
    }
    s.peer.AwaitClose();
    if (row.knownBefore) {
      ASSERT_TRUE(TKnownServers(s.ftp.KnownServersFile).Remember("elsewhere.test", "127.0.0.1", s.peer.Port(),
                                                                 kFingerprint));
    }
    if (row.error[0] == '\0') {
      ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
      EXPECT_EQ(s.log.Count("ftpiTlsRefused:AUTH"), 1);
      EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    } else {
      s.Connect();
      ASSERT_TRUE(s.RunUntilEvent("quit")) << s.Transcript();
      const std::string expected = row.error + (row.unreadable ? s.ftp.KnownServersFile : "");
      EXPECT_EQ(s.log.Count(expected), 1) << s.Transcript();
    }
    EXPECT_TRUE(s.FinishPeer());
    const Lines sent = s.peer.Commands();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("USER", 0) == 0; }),
              row.error[0] == '\0' ? 1 : 0);
  }
}

// The greeting, AUTH TLS and its handshake: what every encrypted session begins with.
ScriptedPeer& TlsGreeting(ScriptedPeer& peer) {
  return peer.Reply("220 ready\r\n").Expect("AUTH TLS").Reply("234 Proceed with negotiation.\r\n").StartTls();
}

// The login inside TLS, then PBSZ and PROT.
ScriptedPeer& TlsLogin(ScriptedPeer& peer) {
  return TlsGreeting(peer).Expect("USER alice").Reply("331 go on\r\n").Expect("PASS secret").Reply("230 in\r\n")
      .Expect("PBSZ 0").Reply("200 PBSZ=0\r\n").Expect("PROT P").Reply("200 Protection level set to P\r\n")
      .Expect("SYST").Reply("215 UNIX Type: L8\r\n").Expect("FEAT").Reply("211 None\r\n");
}

int UserCommands(const ScriptedPeer& peer) {
  const Lines sent = peer.Commands();
  return static_cast<int>(
      std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("USER", 0) == 0; }));
}

// An unverified certificate is asked about, with each of its problems (self-signed, for
// another host, expired): refused, the connection ends; trusted, it is pinned for the host
// and port. A pinned one is not asked about, even once expired (the log says so); a changed
// one is, as changed.
TEST(FtpTlsCertificateTest, AnUnverifiedOneIsAskedAboutWithItsProblemsAndPinned) {
  TempTree files("tls-certs");
  TestCertificate mine, other, changed, expired;
  ASSERT_TRUE(MakeTestCertificate(files, "mine", "localhost", mine)) << mine.error;
  ASSERT_TRUE(MakeTestCertificate(files, "other", "ftp.elsewhere.test", other, {})) << other.error;
  ASSERT_TRUE(MakeTestCertificate(files, "changed", "localhost", changed)) << changed.error;
  ASSERT_TRUE(MakeTestCertificate(files, "expired", "localhost", expired) && MakeExpired(expired)) << expired.error;
  const struct {
    const char* name;
    const TestCertificate* shown;
    const TestCertificate* pinnedBefore;
    bool trust;  // the owner's answer, if asked
    bool asked;
    const char* error;  // empty: logged in, and the certificate shown is pinned afterwards
    bool signedByTrustedAuthority = false;
    bool unwritable = false;  // the file of known servers cannot be written
    // The name the pin was made for; another name of the same address is not trusted by it.
    const char* pinnedFor = "127.0.0.1";
  } rows[] = {
      {"another host's, trusted", &other, nullptr, true, true, ""},
      {"another host's, a trusted authority's", &other, nullptr, true, true, "", true},
      {"unverified, refused", &mine, nullptr, false, true, "ftpeCertificateRejected:Error"},
      {"unverified, trusted", &mine, nullptr, true, true, ""},
      {"unverified, trusted, not remembered", &mine, nullptr, true, true, "", false, true},
      {"pinned", &mine, &mine, false, false, ""},
      {"changed, refused", &changed, &mine, false, true, "ftpeCertificateChanged:Error"},
      {"changed, accepted", &changed, &mine, true, true, ""},
      {"expired, refused", &expired, nullptr, false, true, "ftpeCertificateRejected:Error"},
      {"pinned, expired since", &expired, &expired, false, false, ""},
      {"pinned for another name of this address", &mine, &mine, true, true, "", false, false, "localhost"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree config("tls-config");
    ScriptedControlSession s;
    s.ftp.TlsMode = tlsmRequire;
    s.ftp.KnownServersFile = config.PathOf("known-servers");
    if (row.unwritable) {
      ASSERT_TRUE(config.WriteFile("file", ""));
      s.ftp.KnownServersFile = config.PathOf("file/known-servers");  // no folder can be made there
    }
    if (row.signedByTrustedAuthority) s.ftp.TlsCaFile = row.shown->certificateFile;
    const TKnownServers known(s.ftp.KnownServersFile);
    if (row.pinnedBefore) {
      ASSERT_TRUE(known.Remember(row.pinnedFor, "", s.peer.Port(), row.pinnedBefore->fingerprint));
    }
    s.peer.SetCertificate(*row.shown);
    if (row.error[0] == '\0') {
      TlsLogin(s.peer);
    } else {
      TlsGreeting(s.peer);
    }
    s.peer.AwaitClose();
    std::vector<TFtpCertificateQuestion> questions;
    s.ftp.OnFtpCertificate = [&](TObject*, const TFtpCertificateQuestion& q, bool& trust) {
      questions.push_back(q);
      trust = row.trust;
    };
    if (row.error[0] == '\0') {
      ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
      EXPECT_EQ(s.log.CountPrefix("ftpiTlsSession:TLSv1."), 1) << s.Transcript();
      EXPECT_EQ(known.Find("127.0.0.1", s.peer.Port()).value_or(""), row.unwritable ? "" : row.shown->fingerprint);
      EXPECT_EQ(s.log.Count("ftpiServerNotRemembered:" + s.ftp.KnownServersFile), row.unwritable ? 1 : 0);
    } else {
      s.Connect();
      ASSERT_TRUE(s.RunUntilEvent("quit")) << s.Transcript();
      EXPECT_EQ(s.log.Count(row.error), 1) << s.Transcript();
      EXPECT_EQ(UserCommands(s.peer), 0);
    }
    ASSERT_EQ(questions.size(), row.asked ? 1u : 0u);
    if (row.asked) {
      EXPECT_EQ(questions[0].Fingerprint, row.shown->fingerprint);
      const bool pinnedHere = row.pinnedBefore != nullptr && std::string(row.pinnedFor) == "127.0.0.1";
      EXPECT_EQ(questions[0].PinnedFingerprint, pinnedHere ? row.pinnedBefore->fingerprint : "");
      EXPECT_EQ(questions[0].CertificateNames, row.shown == &other ? "ftp.elsewhere.test" : "");
      EXPECT_EQ(questions[0].Problem, row.signedByTrustedAuthority ? "" : "self-signed certificate");
      EXPECT_EQ(questions[0].Expired, row.shown == &expired);
    }
    EXPECT_EQ(s.log.CountPrefix("ftpiCertificateExpired"), row.shown == &expired && row.pinnedBefore ? 1 : 0);
    EXPECT_TRUE(s.FinishPeer());
  }
}

// Another process holding the file of known servers' lock for as long as the login takes
// holds nothing up: the login goes on at once, and the pin is written once the lock is free.
TEST(FtpTlsCertificateTest, RememberingNeverWaitsForTheLockOfAnotherProcess) {
  TempTree files("tls-certs"), config("tls-config");
  TestCertificate mine;
  ASSERT_TRUE(MakeTestCertificate(files, "mine", "localhost", mine)) << mine.error;
  ScriptedControlSession s;
  s.ftp.TlsMode = tlsmRequire;
  s.ftp.KnownServersFile = config.PathOf("known-servers");
  s.ftp.OnFtpCertificate = [](TObject*, const TFtpCertificateQuestion&, bool& trust) { trust = true; };
  s.peer.SetCertificate(mine);
  TlsLogin(s.peer).AwaitClose();
  const int lock = ::open((s.ftp.KnownServersFile + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
  const TKnownServers known(s.ftp.KnownServersFile);
  EXPECT_FALSE(known.Find("127.0.0.1", s.peer.Port()));
  ::close(lock);
  EXPECT_TRUE(s.RunUntil([&] { return known.Find("127.0.0.1", s.peer.Port()).has_value(); }, "the pin"));
  EXPECT_EQ(s.log.CountPrefix("ftpiServerNotRemembered"), 0);
  EXPECT_TRUE(s.FinishPeer());
}

// Faults of a server that says yes to TLS: garbage instead of the handshake, a handshake it
// never answers (bounded by the connect time), a data connection in clear under PROT P, or
// in TLS with another certificate than the control connection's. Each ends with its error,
// no USER in clear, nothing written to the local file.
TEST(FtpTlsFaultTest, GarbageSilenceAndCleartextDataEndWithAnError) {
  const struct {
    const char* name;
    int kind;
    const char* error;
  } rows[] = {
      {"garbage after 234", 0, "ftpeTlsHandshake:Error"},
      {"handshake never answered", 1, "ftpeTimeout:Error"},
      {"data in clear under PROT P", 2, "ftpeTlsData:Error"},
      {"data under another certificate", 3, "ftpeTlsData:Error"},
  };
  TempTree files("tls-certs");
  TestCertificate other;
  ASSERT_TRUE(MakeTestCertificate(files, "other", "localhost", other)) << other.error;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedControlSession s;
    TempTree local("tls-local");
    ASSERT_TRUE(local.WriteFile("keep.bin", "kept"));
    s.ftp.TlsMode = tlsmRequire;
    s.ftp.TimeOutConnect = 1;
    s.ftp.OnFtpCertificate = [](TObject*, const TFtpCertificateQuestion&, bool& trust) { trust = true; };
    if (row.kind == 0) {
      s.peer.Reply("220 ready\r\n").Expect("AUTH TLS").Reply("234 go\r\n").ReplyGarbage("500 not TLS at all\r\n");
    } else if (row.kind == 1) {
      s.peer.Reply("220 ready\r\n").Expect("AUTH TLS").Reply("234 go\r\n");
    } else {
      TlsLogin(s.peer).Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE").Reply("550 no\r\n").Expect("EPSV")
          .ReplyEpsv().Expect("RETR f.bin").Reply("150 here\r\n").DataAccept();
      if (row.kind == 3) s.peer.SetDataCertificate(other).DataStartTls();
      s.peer.DataSend(PatternBytes(10000)).DataClose().Reply("226 done\r\n");
    }
    s.peer.AwaitClose();
    s.ftp.DataConnectionMode = dcmPassive;
    if (row.kind >= 2) {
      ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
      s.ftp.RemoteFile = "f.bin";
      s.ftp.LocalFile = local.PathOf("keep.bin");
      s.ftp.ReceiveFile();
    } else {
      s.Connect();
    }
    ASSERT_TRUE(s.RunUntilEvent("quit", 1, 8000)) << s.Transcript();
    EXPECT_EQ(s.log.Count(row.error), 1) << s.Transcript();
    EXPECT_EQ(UserCommands(s.peer), row.kind >= 2 ? 1 : 0);
    EXPECT_EQ(local.ReadFile("keep.bin"), "kept");
  }
}

// The stop inside TLS: ABOR alone (no Telnet bytes, which TLS cannot carry as urgent data),
// the same ending as in clear, and the connection goes on.
TEST(FtpTlsAbortTest, AStopInsideTlsSendsAborAloneAndTheConnectionGoesOn) {
  ScriptedControlSession s;
  TempTree local("tls-local");
  s.ftp.TlsMode = tlsmRequire;
  s.ftp.DataConnectionMode = dcmPassive;
  s.ftp.OnFtpCertificate = [](TObject*, const TFtpCertificateQuestion&, bool& trust) { trust = true; };
  TlsLogin(s.peer).Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE").Reply("550 no\r\n").Expect("EPSV").ReplyEpsv()
      .Expect("RETR big.bin")
      .Reply("150 here\r\n").DataAccept().DataStartTls().DataSendPattern(64ULL << 20, ScriptedPeer::DataCut::Allowed)
      .Expect("ABOR").Reply("426 aborted\r\n").Reply("226 ABOR ok\r\n").Expect("CWD next")
      .Reply("250 ok\r\n").AwaitClose();
  ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
  s.log.Clear();
  s.ftp.RemoteFile = "big.bin";
  s.ftp.LocalFile = local.PathOf("big.bin");
  s.ftp.ReceiveFile();
  ASSERT_TRUE(s.RunUntil([&] { return s.ftp.BytesTransferred >= 100000; }, "data")) << s.Transcript();
  s.ftp.Abort();
  ASSERT_TRUE(s.RunUntilEvent("fileReceived", 1, 8000)) << s.Transcript();
  EXPECT_FALSE(s.ftp.Success);
  s.ftp.ChangeDirectory("next");
  ASSERT_TRUE(s.RunUntilEvent("directoryChanged")) << s.Transcript();
  EXPECT_TRUE(s.ftp.Success);
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0) << s.Transcript();
  EXPECT_EQ(s.peer.ControlBytes().find('\xFF'), std::string::npos) << "Telnet bytes inside TLS";
  EXPECT_TRUE(s.FinishPeer());
}

// With no size known, a download over TLS is whole only when its data connection ended
// with close_notify: without it, the connection may have been cut.
TEST(FtpTlsDownloadTest, WithNoSizeKnownOnlyCloseNotifyMakesADownloadWhole) {
  for (const bool closeNotify : {true, false}) {
    SCOPED_TRACE(closeNotify ? "close_notify" : "no close_notify");
    ScriptedControlSession s;
    TempTree local("tls-local");
    ASSERT_TRUE(local.WriteFile("f", "old"));
    s.ftp.TlsMode = tlsmRequire;
    s.ftp.DataConnectionMode = dcmPassive;
    s.ftp.OnFtpCertificate = [](TObject*, const TFtpCertificateQuestion&, bool& trust) { trust = true; };
    TlsLogin(s.peer).Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE f").Reply("550 no\r\n").Expect("EPSV")
        .ReplyEpsv().Expect("RETR f").Reply("150 here\r\n").DataAccept().DataStartTls().DataSendPattern(3000);
    closeNotify ? s.peer.DataClose() : s.peer.DataCloseWithoutNotify();
    s.peer.Reply("226 done\r\n").AwaitClose();
    ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
    s.ftp.RemoteFile = "f";
    s.ftp.LocalFile = local.PathOf("f");
    s.ftp.ReceiveFile();
    ASSERT_TRUE(s.RunUntilEvent("fileReceived")) << s.Transcript();
    EXPECT_EQ(s.log.Count("ftpeDownloadIncomplete:Error"), closeNotify ? 0 : 1) << s.Transcript();
    EXPECT_TRUE(local.ReadFile("f") == (closeNotify ? PatternBytes(3000) : "old"));
    EXPECT_TRUE(s.FinishPeer());
  }
}

// Written whole, readable by its owner only, one line per host and port (host names in
// any case are one), read back; nothing for an empty path; found under any of its names.
TEST(KnownServersTest, RemembersEachServerOnceInAFileOnlyItsOwnerReads) {
  TempTree config("known");
  const TKnownServers known(config.PathOf("talvo-ftp/known-servers"));
  EXPECT_FALSE(known.Find("ftp.example.org", 21));
  ASSERT_TRUE(known.Remember("FTP.Example.org", "", 21, kFingerprint));
  ASSERT_TRUE(known.Remember("ftp.example.org", "", 2121, "AA"));
  ASSERT_TRUE(known.Remember("ftp.example.org", "", 21, "BB"));
  EXPECT_EQ(known.Find("ftp.example.org", 21), "BB");
  EXPECT_EQ(known.Find("ftp.example.org", 2121), "AA");
  EXPECT_FALSE(known.Find("ftp.example.org", 22));
  EXPECT_EQ(config.ReadFile("talvo-ftp/known-servers"), "ftp.example.org 2121 AA\nftp.example.org 21 BB\n");
  struct stat st {};
  ASSERT_EQ(::stat(config.PathOf("talvo-ftp/known-servers").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(config.PathOf("talvo-ftp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(TKnownServers("").Remember("h", "", 21, "AA"));
  // Pinned for the name typed; the address connected to, in any of its spellings (an IPv4
  // address mapped into IPv6 too), only tells that the server did TLS.
  ASSERT_TRUE(known.Remember("LocalHost", "[::1]", 21, "CC"));
  ASSERT_TRUE(known.Remember("nas.example", "::ffff:192.0.2.7", 21, "DD"));
  EXPECT_EQ(known.Find("localhost", 21), "CC");
  EXPECT_FALSE(known.Find("::1", 21));
  EXPECT_TRUE(known.DidTls({"other.example", "0:0:0:0:0:0:0:1"}, 21));
  EXPECT_TRUE(known.DidTls({"192.0.2.7"}, 21));
  EXPECT_FALSE(known.DidTls({"other.example"}, 21));
  EXPECT_FALSE(known.Unreadable());
}

// Twenty processes remembering a server each at the same moment keep all twenty lines; the
// temporary file is never opened through a symbolic link someone left in its place.
TEST(KnownServersTest, TwentyProcessesAtOnceKeepEveryLineAndNoLinkIsFollowed) {
  TempTree config("known");
  ASSERT_TRUE(config.WriteFile("victim", "untouched"));
  const std::string path = config.PathOf("known-servers");
  ASSERT_EQ(::symlink(config.PathOf("victim").c_str(), (path + ".new-" + std::to_string(::getpid())).c_str()), 0);
  int go[2];
  ASSERT_EQ(::pipe(go), 0);
  std::vector<pid_t> children;
  for (int i = 1; i < 20; ++i) {
    children.push_back(::fork());
    if (children.back() != 0) continue;
    char byte;
    ::close(go[1]);
    if (::read(go[0], &byte, 1) != 0) ::_exit(1);  // all start when the pipe closes
    ::_exit(TKnownServers(path).Remember("host" + std::to_string(i), "", 21, kFingerprint) ? 0 : 1);
  }
  ::close(go[0]);
  ::close(go[1]);
  EXPECT_TRUE(TKnownServers(path).Remember("host0", "", 21, kFingerprint));
  for (const pid_t child : children) ::waitpid(child, nullptr, 0);
  const std::string text = config.ReadFile("known-servers");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 20) << text;
  EXPECT_EQ(config.ReadFile("victim"), "untouched");
}

TEST(KnownServersTest, FingerprintsAreTakenWithOrWithoutColonsInEitherCase) {
  std::string bare;
  for (const char c : kFingerprint) {
    if (c != ':') bare += static_cast<char>(std::tolower(c));
  }
  EXPECT_EQ(NormalisedFingerprint(kFingerprint), kFingerprint);
  EXPECT_EQ(NormalisedFingerprint(bare), kFingerprint);
  EXPECT_EQ(NormalisedFingerprint(bare.substr(2)), "");       // too short
  EXPECT_EQ(NormalisedFingerprint("zz" + bare.substr(2)), "");  // not hexadecimal
}

}  // namespace
}  // namespace talvo::test
