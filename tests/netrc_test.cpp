// ~/.netrc as the console clients read it: machine, login, password, account, default,
// macros skipped, quoted tokens; a password others may read is refused, and so is a file
// that cannot be read.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "session/Netrc.h"
#include "tests/support/TempTree.h"

namespace {

struct Row {
  std::string file, host;
  std::optional<std::string> user;
  TNetrcOutcome outcome;
  std::optional<std::string> login, password, account;
  std::string problem;  // a part of the message; "" when any
};

TEST(NetrcTest, FindsTheEntryOfTheHostAndRefusesWhatOthersMayReadOrNoneCanRead) {
  talvo::test::TempTree home("netrc");
  ASSERT_TRUE(home.WriteFile(".netrc",
                             "# the office\n"
                             "machine ftp.example.org login me password \"two words\\\"q\" account acct\n"
                             "machine ftp.example.org login other password p2\n"
                             "macdef init\nmachine evil login x password y\n\n"
                             "machine ::1\n  login v6\n  password \"\"\n"
                             "default login anonymous password guest@\n"));
  ASSERT_EQ(::chmod(home.PathOf(".netrc").c_str(), 0600), 0);
  ASSERT_TRUE(home.WriteFile("shared", "machine h login me password secret\nmachine n login me\n"));
  ASSERT_EQ(::chmod(home.PathOf("shared").c_str(), 0644), 0);
  ASSERT_TRUE(home.MakeDirectory("folder.netrc"));
  ASSERT_EQ(::mkfifo(home.PathOf("fifo").c_str(), 0600), 0);  // not waited on
  using O = TNetrcOutcome;
  const Row rows[] = {
      {".netrc", "FTP.Example.org", {}, O::Found, "me", "two words\"q", "acct", ""},
      {".netrc", "ftp.example.org", "other", O::Found, "other", "p2", {}, ""},
      {".netrc", "ftp.example.org", "third", O::NotFound, {}, {}, {}, ""},
      {".netrc", "[0:0::1]", {}, O::Found, "v6", "", {}, ""},
      {".netrc", "evil", {}, O::Found, "anonymous", "guest@", {}, ""},  // the macro is no entry
      {".netrc", "elsewhere", "anonymous", O::Found, "anonymous", "guest@", {}, ""},
      {"shared", "h", {}, O::Refused, {}, {}, {}, "d'autres utilisateurs peuvent le lire"},
      {"shared", "n", {}, O::Found, "me", {}, {}, ""},  // an entry without a password may come from it
      {"folder.netrc", "h", {}, O::Refused, {}, {}, {}, "ne peut pas être lu"},
      {"fifo", "h", {}, O::Refused, {}, {}, {}, ""},
      {"missing", "h", {}, O::NotFound, {}, {}, {}, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file + " " + r.host + " " + r.user.value_or("-"));
    TNetrcEntry entry;
    std::string problem;
    EXPECT_EQ(ReadNetrc(home.PathOf(r.file), r.host, r.user, entry, problem), r.outcome) << problem;
    EXPECT_NE(problem.find(r.problem), std::string::npos) << problem;
    EXPECT_EQ(entry.Login, r.login);
    EXPECT_EQ(entry.Password, r.password);
    EXPECT_EQ(entry.Account, r.account);
  }
}

}  // namespace
