// The known hosts as OpenSSH writes them: patterns, ports, hashed names, revoked keys, the
// line of a changed key, a file that cannot be read; and the lines Add() writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "sftp/KnownHosts.h"
#include "sftp/SshText.h"
#include "tests/support/TempTree.h"

namespace talvo::test {
namespace {

using Verdict = TKnownHosts::Verdict;

const std::string kKey = std::string("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + std::string(32, 'k');
const std::string kOther = std::string("\0\0\0\x0bssh-ed25519\0\0\0\x20", 19) + std::string(32, 'o');
const std::string kKeyLine = "ssh-ed25519 " + Base64Encode(kKey);
const std::string kOtherLine = "ssh-ed25519 " + Base64Encode(kOther);
// "|1|salt|HMAC-SHA1(salt, name)" of "[srv.example]:2222" with the salt "salt-salt-salt-salt-" (ssh-keygen -H).
const std::string kHashed2222 = "|1|c2FsdC1zYWx0LXNhbHQtc2FsdC0=|LIg3zlmOvCyIRouqV3Gc4yTgaaI=";

TEST(KnownHostsTest, VerdictOfEachKindOfLine) {
  struct Row {
    const char* name;
    std::string file;
    std::string host;
    std::uint16_t port;
    Verdict verdict;
    int line;  // of a changed key
  };
  const std::vector<Row> rows = {
      {"plain name", "srv.example " + kKeyLine + " me@home\n", "srv.example", 22, Verdict::Known, 0},
      {"name in a list, any case", "a.example,SRV.Example " + kKeyLine + "\n", "srv.example", 22, Verdict::Known, 0},
      {"wildcard", "*.example " + kKeyLine + "\n", "srv.example", 22, Verdict::Known, 0},
      {"negated pattern rules the line out", "*.example,!srv.example " + kKeyLine + "\n", "srv.example", 22,
       Verdict::Unknown, 0},
      {"port 22 is the bare name", "[srv.example]:22 " + kKeyLine + "\n", "srv.example", 22, Verdict::Unknown, 0},
      {"another port in brackets", "[srv.example]:2222 " + kKeyLine + "\n", "srv.example", 2222, Verdict::Known, 0},
      {"another port is another server", "srv.example " + kKeyLine + "\n", "srv.example", 2222, Verdict::Unknown, 0},
      {"hashed", kHashed2222 + " " + kKeyLine + "\n", "srv.example", 2222, Verdict::Known, 0},
      {"hashed, another name", kHashed2222 + " " + kKeyLine + "\n", "other.example", 2222, Verdict::Unknown, 0},
      {"changed key names its line", "# comment\n\nsrv.example " + kOtherLine + "\n", "srv.example", 22,
       Verdict::Changed, 3},
      {"the right key anywhere wins", "srv.example " + kOtherLine + "\nsrv.example " + kKeyLine + "\n", "srv.example",
       22, Verdict::Known, 0},
      {"another type is not a change", "srv.example ecdsa-sha2-nistp256 " + Base64Encode("xyz") + "\n", "srv.example",
       22, Verdict::Unknown, 0},
      {"revoked key", "@revoked * " + kKeyLine + "\nsrv.example " + kKeyLine + "\n", "srv.example", 22,
       Verdict::Changed, 1},
      {"certificate authority skipped", "@cert-authority srv.example " + kKeyLine + "\n", "srv.example", 22,
       Verdict::Unknown, 0},
      {"broken lines skipped", "srv.example\nsrv.example ssh-ed25519\n!!!\n", "srv.example", 22, Verdict::Unknown, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TempTree tree("known");
    ASSERT_TRUE(tree.WriteFile("known_hosts", row.file));
    const TKnownHosts known({tree.PathOf("missing"), tree.PathOf("known_hosts")});
    const TKnownHosts::Result result = known.Check(row.host, row.port, "ssh-ed25519", kKey);
    EXPECT_EQ(result.verdict, row.verdict);
    if (row.verdict == Verdict::Changed) {
      EXPECT_EQ(result.file, tree.PathOf("known_hosts"));
      EXPECT_EQ(result.line, row.line);
    }
  }
}

// A file that exists but cannot be read says nothing: nothing is trusted.
TEST(KnownHostsTest, UnreadableFileIsNotAnEmptyOne) {
  TempTree tree("known");
  ASSERT_TRUE(tree.MakeDirectory("known_hosts"));  // read fails even for root
  const TKnownHosts known({tree.PathOf("known_hosts")});
  const TKnownHosts::Result result = known.Check("srv.example", 22, "ssh-ed25519", kKey);
  EXPECT_EQ(result.verdict, Verdict::Unreadable);
  EXPECT_EQ(result.file, tree.PathOf("known_hosts"));
}

// Add() writes a hashed line after the last one (ended or not), in a file of the user's
// only, in a folder it makes; the key is known then, and its type offered first.
TEST(KnownHostsTest, AddedKeyIsHashedAndKnown) {
  TempTree tree("known");
  const std::string path = tree.PathOf("ssh/known_hosts");
  const TKnownHosts known({path});
  ASSERT_TRUE(known.Add("srv.example", 2222, "ssh-ed25519", kKey));
  ASSERT_TRUE(tree.WriteFile("ssh/known_hosts", tree.ReadFile("ssh/known_hosts") + "other.example " + kOtherLine));
  ASSERT_TRUE(known.Add("srv.example", 22, "ssh-ed25519", kKey));
  const std::string text = tree.ReadFile("ssh/known_hosts");
  EXPECT_EQ(text.rfind("|1|", 0), 0u);
  EXPECT_EQ(text.find("srv.example"), std::string::npos);
  EXPECT_NE(text.find(kOtherLine + "\n|1|"), std::string::npos) << text;
  EXPECT_EQ(known.Check("srv.example", 2222, "ssh-ed25519", kKey).verdict, Verdict::Known);
  EXPECT_EQ(known.Check("srv.example", 22, "ssh-ed25519", kKey).verdict, Verdict::Known);
  EXPECT_EQ(known.KnownTypes("srv.example", 2222), "ssh-ed25519");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(KnownHostsTest, FingerprintAsOpenSshWritesIt) {
  // SHA-256 of "abc", in base64 without its padding.
  EXPECT_EQ(SshFingerprint("abc"), "SHA256:ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0");
}

}  // namespace
}  // namespace talvo::test
