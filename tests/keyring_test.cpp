// The keyring through a real Secret Service on a private bus: a password remembered per
// protocol, server, port and user, replaced, and forgotten with the desktop's own tool; a
// bus where no keyring runs is seen at once and starts none.
#include <gtest/gtest.h>

#include <cstdlib>

#include "credentials/Keyring.h"
#include "tests/support/SecretService.h"

namespace {

using talvo::test::Clock;
using talvo::test::Millis;

TEST(KeyringTest, RemembersReplacesAndForgetsAPasswordPerServerPortAndUser) {
  talvo::test::SecretService secrets;
  ASSERT_TRUE(secrets.Start(true)) << secrets.Error();
  const TKeyringKey key = KeyringKeyFor("ftps", "Host.Example", 2121, "me");
  EXPECT_EQ(key.Protocol, "ftp");
  EXPECT_EQ(key.Server, "host.example");
  EXPECT_FALSE(TKeyring::Lookup(key));
  ASSERT_TRUE(TKeyring::Store(key, "first"));
  ASSERT_TRUE(TKeyring::Store(key, "second \xC3\xA9"));
  EXPECT_EQ(TKeyring::Lookup(KeyringKeyFor("ftp", "host.example", 2121, "me")), "second \xC3\xA9");
  EXPECT_FALSE(TKeyring::Lookup(KeyringKeyFor("ftp", "host.example", 21, "me")));
  EXPECT_FALSE(TKeyring::Lookup(KeyringKeyFor("ftp", "host.example", 2121, "you")));
  EXPECT_FALSE(TKeyring::Lookup(KeyringKeyFor("sftp", "host.example", 2121, "me")));
  // Forgotten the way the README says, with the keyring's own tool.
  std::string error;
  EXPECT_EQ(talvo::test::RunCommand({"/usr/bin/secret-tool", "clear", "server", "host.example", "user", "me"},
                                    secrets.Folder().PathOf("tool.log"), Millis(10000), nullptr, error),
            0)
      << error;
  EXPECT_FALSE(TKeyring::Lookup(key));
  EXPECT_TRUE(TKeyring::Forget(key));  // nothing left to forget is no failure
}

TEST(KeyringTest, NoKeyringIsSeenAtOnceAndNoneIsStarted) {
  talvo::test::SecretService bus;
  ASSERT_TRUE(bus.Start(false)) << bus.Error();
  const auto start = Clock::now();
  EXPECT_FALSE(TKeyring::Running());
  EXPECT_LT(Clock::now() - start, Millis(TKeyring::kCheckMs));
  EXPECT_FALSE(TKeyring::Running());  // asking did not start one
  bus.Stop();
  ::setenv("XDG_RUNTIME_DIR", bus.Folder().Path().c_str(), 1);  // no "bus" socket there
  EXPECT_FALSE(TKeyring::Running());
}

}  // namespace
