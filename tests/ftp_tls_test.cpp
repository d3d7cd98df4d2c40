// The encrypted session's rules that show against a server without TLS (the scripted
// peer refusing AUTH TLS): require sends no USER, auto goes on in clear and says so, and
// auto refuses to go on in clear with a server that did TLS before. Also the file of
// remembered servers and the fingerprints typed by users.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ftp/KnownServers.h"
#include "tests/support/ScriptedControlSession.h"
#include "tests/support/TempTree.h"

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
  } rows[] = {
      {"auto, a server never seen", tlsmAuto, false, ""},
      {"require", tlsmRequire, false, "ftpeTlsNotOffered:Error"},
      {"auto, a server that did TLS before", tlsmAuto, true, "ftpeTlsDowngrade:Error"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree config("tls-config");
    ScriptedControlSession s;
    s.ftp.TlsMode = row.mode;
    s.ftp.KnownServersFile = config.PathOf("known-servers");
    s.peer.Reply("220 ready\r\n").Expect("AUTH TLS").Reply("500 AUTH not understood\r\n");
    if (row.error[0] == '\0') {
      s.peer.Expect("USER alice").Reply("331 go on\r\n").Expect("PASS secret").Reply("230 in\r\n").Expect("SYST")
          .Reply("215 UNIX Type: L8\r\n");
    }
    s.peer.AwaitClose();
    if (row.knownBefore) {
      ASSERT_TRUE(TKnownServers(s.ftp.KnownServersFile).Remember("127.0.0.1", s.peer.Port(), kFingerprint));
    }
    if (row.error[0] == '\0') {
      ASSERT_TRUE(s.ConnectAndLogin()) << s.Transcript();
      EXPECT_EQ(s.log.Count("ftpiTlsRefused:AUTH"), 1);
      EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    } else {
      s.Connect();
      ASSERT_TRUE(s.RunUntilEvent("quit")) << s.Transcript();
      EXPECT_EQ(s.log.Count(row.error), 1) << s.Transcript();
    }
    EXPECT_TRUE(s.FinishPeer());
    const Lines sent = s.peer.Commands();
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("USER", 0) == 0; }),
              row.error[0] == '\0' ? 1 : 0);
  }
}

// Written whole, readable by its owner only, one line per host and port (host names in
// any case are one), read back; nothing for an empty path.
TEST(KnownServersTest, RemembersEachServerOnceInAFileOnlyItsOwnerReads) {
  TempTree config("known");
  const TKnownServers known(config.PathOf("talvo-ftp/known-servers"));
  EXPECT_FALSE(known.Find("ftp.example.org", 21));
  ASSERT_TRUE(known.Remember("FTP.Example.org", 21, kFingerprint));
  ASSERT_TRUE(known.Remember("ftp.example.org", 2121, "AA"));
  ASSERT_TRUE(known.Remember("ftp.example.org", 21, "BB"));
  EXPECT_EQ(known.Find("ftp.example.org", 21), "BB");
  EXPECT_EQ(known.Find("ftp.example.org", 2121), "AA");
  EXPECT_FALSE(known.Find("ftp.example.org", 22));
  EXPECT_EQ(config.ReadFile("talvo-ftp/known-servers"), "ftp.example.org 2121 AA\nftp.example.org 21 BB\n");
  struct stat st {};
  ASSERT_EQ(::stat(config.PathOf("talvo-ftp/known-servers").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(config.PathOf("talvo-ftp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_FALSE(TKnownServers("").Remember("h", 21, "AA"));
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
