// OpenSSH's sshd, unpacked from Debian's openssh-server into <build>/servers/openssh-server
// (by scripts/install-deps.sh; never installed, so no system service runs), started by a
// test on a free 127.0.0.1 port with the internal-sftp subsystem serving Root(), and
// stopped by process id when the fixture goes.
//
// No system user is made or left behind. sshd runs unprivileged, as a user id that no
// account has, under nss_wrapper (Debian's libnss-wrapper), which gives it a passwd and a
// group file of the fixture's own: the user User() with that id, Root() as its home and
// /bin/sh as its shell (so that a Subsystem line may name a script). An unprivileged sshd
// can log in only the user it runs as, and checks passwords through PAM: a service file of
// the tests (RealServers.h, pam_pwdfile) that sshd finds under its own program name, a
// link to sshd in the work folder. Host keys, authorized keys and the configuration live
// in the work folder too.
//
//   SshdServer server;
//   ASSERT_TRUE(server.Start()) << server.Error();
//   std::string key = server.MakeUserKey("id_ed25519");  // authorized, no passphrase
//   ... connect to server.Host():server.Port() as server.User() ...
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/RealServers.h"

namespace talvo::test {

class SshdServer : public FtpServerFixture {
 public:
  // Extra sshd_config lines come before the fixture's own, so that they win (sshd takes
  // the first value of a keyword); a "Subsystem sftp" among them replaces internal-sftp.
  explicit SshdServer(std::vector<std::string> extraConfig = {});
  ~SshdServer() override;
  const char* Name() const override { return "sshd"; }

  static std::string BinaryPath();

  // A new key pair in the work folder (`name`, `name`.pub), authorized for User() unless
  // told otherwise; the private key's path, empty with Error() when it could not be made.
  std::string MakeUserKey(const std::string& name, const std::string& passphrase = "", bool authorize = true);
  // A new host key, presented from the next Restart().
  bool ChangeHostKey();
  // The host key's public line ("ssh-ed25519 AAAA..."), as known_hosts holds it after the
  // host's name.
  std::string HostKeyLine() const;
  std::string HostKeyPublicFile() const { return work_.PathOf("host_key_" + std::to_string(hostKeys_) + ".pub"); }
  uid_t Uid() const { return uid_; }

 protected:
  bool Launch(std::string& error) override;

 private:
  bool Prepare(std::string& error);
  bool MakeHostKey(std::string& error);
  std::string Config(std::uint16_t port) const;
  bool KeyGen(const std::vector<std::string>& args, std::string& error);

  std::vector<std::string> extraConfig_;
  std::string pamService_;
  uid_t uid_ = 0;
  int hostKeys_ = 0;
  bool prepared_ = false;
};

// An ssh-agent of the test's own on a socket in its own folder, stopped by process id.
class SshAgent {
 public:
  bool Start(std::string& error);
  // ssh-add of a private key without passphrase.
  bool Add(const std::string& key, std::string& error);
  const std::string& Socket() const { return socket_; }

 private:
  TempTree folder_{"agent"};
  ServerProcess process_;
  std::string socket_;
};

}  // namespace talvo::test
