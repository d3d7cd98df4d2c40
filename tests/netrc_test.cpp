// ~/.netrc as the console clients read it: machine, login, password, account, default,
// macros skipped, quoted tokens; a password others may read is refused, and so is a file
// that cannot be read.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "session/Netrc.h"
#include "tests/support/TempTree.h"

namespace {

struct Row {
  std::string host;
  std::optional<std::string> user;
  TNetrcOutcome outcome;
  std::optional<std::string> login, password, account;
};

TEST(NetrcTest, FindsTheEntryOfTheHost) {
  talvo::test::TempTree home("netrc");
  ASSERT_TRUE(home.WriteFile(".netrc",
                             "# the office\n"
                             "machine ftp.example.org login me password \"two words\\\"q\" account acct\n"
                             "machine ftp.example.org login other password p2\n"
                             "macdef init\nmachine evil login x password y\n\n"
                             "machine ::1\n  login v6\n  password \"\"\n"
                             "default login anonymous password guest@\n"));
  ASSERT_EQ(::chmod(home.PathOf(".netrc").c_str(), 0600), 0);
  const Row rows[] = {
      {"FTP.Example.org", {}, TNetrcOutcome::Found, "me", "two words\"q", "acct"},
      {"ftp.example.org", "other", TNetrcOutcome::Found, "other", "p2", {}},
      {"ftp.example.org", "third", TNetrcOutcome::NotFound, {}, {}, {}},
      {"[0:0::1]", {}, TNetrcOutcome::Found, "v6", "", {}},
      {"evil", {}, TNetrcOutcome::Found, "anonymous", "guest@", {}},  // the macro is no entry
      {"elsewhere", "anonymous", TNetrcOutcome::Found, "anonymous", "guest@", {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.host + " " + r.user.value_or("-"));
    TNetrcEntry entry;
    std::string problem;
    EXPECT_EQ(ReadNetrc(home.PathOf(".netrc"), r.host, r.user, entry, problem), r.outcome) << problem;
    EXPECT_EQ(entry.Login, r.login);
    EXPECT_EQ(entry.Password, r.password);
    EXPECT_EQ(entry.Account, r.account);
  }
}

TEST(NetrcTest, APasswordOthersMayReadAndAnUnreadableFileAreRefused) {
  talvo::test::TempTree home("netrc");
  ASSERT_TRUE(home.WriteFile(".netrc", "machine h login me password secret\nmachine n login me\n"));
  ASSERT_EQ(::chmod(home.PathOf(".netrc").c_str(), 0644), 0);
  TNetrcEntry entry;
  std::string problem;
  EXPECT_EQ(ReadNetrc(home.PathOf(".netrc"), "h", {}, entry, problem), TNetrcOutcome::Refused);
  EXPECT_NE(problem.find("d'autres utilisateurs peuvent le lire"), std::string::npos) << problem;
  EXPECT_FALSE(entry.Password);
  // An entry without a password may come from it.
  EXPECT_EQ(ReadNetrc(home.PathOf(".netrc"), "n", {}, entry, problem), TNetrcOutcome::Found);
  EXPECT_EQ(entry.Login, "me");

  ASSERT_TRUE(home.MakeDirectory("folder.netrc"));
  EXPECT_EQ(ReadNetrc(home.PathOf("folder.netrc"), "h", {}, entry, problem), TNetrcOutcome::Refused);
  EXPECT_NE(problem.find("ne peut pas être lu"), std::string::npos) << problem;
  ASSERT_EQ(::mkfifo(home.PathOf("fifo").c_str(), 0600), 0);  // not waited on
  EXPECT_EQ(ReadNetrc(home.PathOf("fifo"), "h", {}, entry, problem), TNetrcOutcome::Refused);
  EXPECT_EQ(ReadNetrc(home.PathOf("missing"), "h", {}, entry, problem), TNetrcOutcome::NotFound);
}

}  // namespace
