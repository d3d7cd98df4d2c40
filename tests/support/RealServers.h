// Real FTP servers from Debian packages, each started by a test on a free 127.0.0.1 port
// with a fresh throw-away root, and stopped by process id when the fixture goes (also
// when the test failed).
//
//   VsftpdServer server({"async_abor_enable=YES"});
//   ASSERT_TRUE(server.Start()) << server.Error();
//   server.Root().WritePatternFile("big.bin", 10 << 20);
//   ... connect the client to server.Host():server.Port() as server.User() ...
//
// Both serve Root() to User()/Password() and to anonymous; see each class for what
// anonymous may change.
//
// Explicit TLS, chosen before Start():
//
//   PyFtpdServer server;
//   server.EnableTls();
//   server.SetHost(UniqueLoopbackAddress());  // only for a WireCapture of this server
//   ASSERT_TRUE(server.Start()) << server.Error();
//   ... server.Certificate().fingerprint, .certificateFile (a CA file that trusts it) ...
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ServerProcess.h"
#include "tests/support/TempTree.h"
#include "tests/support/TestCertificate.h"

namespace talvo::test {

class FtpServerFixture {
 public:
  static constexpr const char* kUser = "talvo";
  static constexpr const char* kPassword = "vela-pass-42";
  static constexpr const char* kAnonymousUser = "anonymous";
  static constexpr const char* kAnonymousPassword = "tester@example.com";

  virtual ~FtpServerFixture() { Stop(); }  // before the trees go
  FtpServerFixture(const FtpServerFixture&) = delete;
  FtpServerFixture& operator=(const FtpServerFixture&) = delete;

  // Starts the server (a few tries if the port is taken) and waits until it accepts
  // connections. False with Error() when it could not.
  bool Start();
  void Stop() { process_.Stop(); }
  // Stops the server and starts it again on the same port, with the same files.
  bool Restart();

  // --- Choices made before Start() ---
  // Explicit TLS (AUTH TLS answered 234), TLS 1.2 or newer, required before USER and on
  // every data connection (PBSZ 0, PROT P), for the user and anonymous alike. The server
  // presents Certificate(), made at the first Start() for "localhost", Host() and
  // 127.0.0.1.
  void EnableTls() { tls_ = true; }
  // Listens on `address` (another 127.x.y.z, or ::1) rather than 127.0.0.1: a data
  // connection in either mode then has this address at the server's end too (see
  // WireCapture.h).
  void SetHost(std::string address) { host_ = std::move(address); }

  bool TlsEnabled() const { return tls_; }
  const TestCertificate& Certificate() const { return certificate_; }
  // A new key and certificate for the same names, presented from the next Restart():
  // a server whose certificate changed. With `onlyName`, the new certificate names that
  // host alone (no address): one for another host than the one connected to. False with
  // Error().
  bool ChangeCertificate(const std::string& onlyName = {});

  const std::string& Error() const { return error_; }
  virtual const char* Name() const = 0;
  const std::string& Host() const { return host_; }
  // The host as a user types it: an IPv6 address in brackets.
  std::string TypedHost() const { return host_.find(':') == std::string::npos ? host_ : "[" + host_ + "]"; }
  std::uint16_t Port() const { return port_; }
  std::string User() const { return kUser; }
  std::string Password() const { return kPassword; }
  TempTree& Root() { return root_; }
  pid_t Pid() const { return process_.Pid(); }
  // What the server wrote on its standard error (and output), for failure messages.
  std::string Log() const;

 protected:
  FtpServerFixture();
  // One try at starting the server, on wantedPort_ unless it is 0; sets port_ when it
  // listens.
  virtual bool Launch(std::string& error) = 0;
  bool MakeCertificate(const std::string& onlyName = {});

  ServerProcess process_;
  TempTree work_{"work"};  // configuration, log, anything but the served files
  TempTree root_{"root"};
  std::string host_ = "127.0.0.1";
  std::uint16_t port_ = 0;
  std::uint16_t wantedPort_ = 0;
  std::string error_;
  bool tls_ = false;
  TestCertificate certificate_;
  int certificatesMade_ = 0;
};

// pyftpdlib (python3-pyftpdlib) through tests/support/pyftpd_server.py: the user and
// anonymous both have every permission on the whole root. It picks its own free port.
class PyFtpdServer : public FtpServerFixture {
 public:
  // With refusePort, active mode is refused (PORT answered 500), as behind a firewall.
  // With TLS, pyftpdlib's TLS_FTPHandler (python3-openssl) with TLS required for control
  // and data.
  explicit PyFtpdServer(bool refusePort = false) : refusePort_(refusePort) {}
  const char* Name() const override { return "pyftpdlib"; }
  // With TLS: a data connection's handshake may begin before its command, as curl begins
  // it (pyftpdlib's own handler resets such a connection).
  void AcceptEarlyHandshake() { earlyHandshake_ = true; }
  // In clear: each data connection moves at most `bytesPerSecond` each way, in bursts (the
  // first two seconds' worth at once), so that a transfer is still running a while later.
  void Throttle(int bytesPerSecond) { throttle_ = bytesPerSecond; }

 protected:
  bool Launch(std::string& error) override;

 private:
  bool refusePort_ = false;
  bool earlyHandshake_ = false;
  int throttle_ = 0;
};

// vsftpd unpacked from its Debian package into <build>/servers/vsftpd (by
// scripts/install-deps.sh; it is never installed, so no system service runs).
//
// Logins without any system user left behind: the user is a virtual one. vsftpd checks
// its password through PAM with a service file of a unique name, /etc/pam.d/
// talvo-ftp-test-PID-N, that asks pam_pwdfile (libpam-pwdfile) to compare with a password
// file in the fixture's work directory; the file is removed when the fixture goes, and
// files of ended processes are removed at the next start. (PAM reads services only from
// /etc/pam.d, so that one file cannot live elsewhere.) vsftpd then serves the virtual
// user as guest_username, and anonymous as ftp_username: two existing unprivileged
// accounts with an existing home directory (vsftpd changes into it before it chroots),
// chosen among daemon, bin, sys, ... The root belongs to the guest account, so the user
// may change anything. vsftpd refuses an anonymous chroot that anonymous may write to, so
// anonymous reads everything and writes in every sub-directory made through Root()
// (mode 0777), not at the top.
//
// With TLS: ssl_enable with the certificate, TLS 1.2 or newer (ssl_tlsv1=NO refuses TLS 1.0
// and OpenSSL's default security level TLS 1.1), ssl_ciphers=HIGH, forced for logins and
// data connections of the user and anonymous, and vsftpd's require_ssl_reuse=YES: a data
// connection that does not resume the control connection's session is refused.
//
// Extra configuration lines (e.g. "async_abor_enable=YES", "require_ssl_reuse=NO") come
// after the fixture's own and so override them.
class VsftpdServer : public FtpServerFixture {
 public:
  explicit VsftpdServer(std::vector<std::string> extraConfig = {});
  ~VsftpdServer() override;
  const char* Name() const override { return "vsftpd"; }

  static std::string BinaryPath();

 protected:
  bool Launch(std::string& error) override;

 private:
  bool Prepare(std::string& error);
  std::string Config(std::uint16_t port) const;

  std::vector<std::string> extraConfig_;
  std::string pamService_;  // the file name under /etc/pam.d, once written
  std::string guestAccount_, anonymousAccount_;
  bool prepared_ = false;
};

// A PAM service of the tests, /etc/pam.d/talvo-ftp-test-PID-N, that checks passwords with
// pam_pwdfile against `passwordFile` (lines made by PasswordFileLine); `service` gets its
// name. Removed by RemovePamService, or by the next run once this process is gone.
bool WritePamService(const std::string& server, const std::string& passwordFile, std::string& service,
                     std::string& error);
void RemovePamService(const std::string& service);
// The password file's line that gives `user` the password FtpServerFixture::kPassword.
std::string PasswordFileLine(const std::string& user);

}  // namespace talvo::test
