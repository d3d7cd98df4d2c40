// The file of remembered servers (KnownServers): written whole and readable by its owner
// only, shared by processes that write at once, and the fingerprints as typed.
#include "session/KnownServers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/TempTree.h"
#include "tests/support/Unprivileged.h"

namespace talvo::test {
namespace {

const std::string kFingerprint =
    "C8:68:3A:BF:AD:06:EC:BB:4E:2F:15:8B:D1:EF:3C:33:06:52:36:0F:B8:FE:51:A7:A0:02:76:21:9C:B5:DC:3C";

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

  // A file this user cannot read is never rewritten without the lines it holds.
  TempTree locked("known-locked");
  ASSERT_TRUE(locked.WriteFile("known-servers", "old.example 21 AA\n") &&
              locked.SetOwner(AsUnprivilegedUser::kNobody, AsUnprivilegedUser::kNogroup));
  ASSERT_EQ(::chmod(locked.PathOf("known-servers").c_str(), 0200), 0);
  {
    const AsUnprivilegedUser user;
    EXPECT_FALSE(TKnownServers(locked.PathOf("known-servers")).Remember("new.example", "", 21, "BB"));
  }
  EXPECT_EQ(locked.ReadFile("known-servers"), "old.example 21 AA\n");
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
