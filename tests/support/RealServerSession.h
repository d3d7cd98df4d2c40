// One TVelaFtp driven against a real server of tests/support/RealServers.h, for the tests
// that run the engine against pyftpdlib and vsftpd: the servers as test parameters, a
// logged-in session in one call, and bounded runs of the message loop until an
// operation's completion event.
//
//   RealServerSession session(*server);
//   ASSERT_TRUE(session.LogIn(server->User(), server->Password())) << session.Transcript();
//   ASSERT_TRUE(session.Run([&] { session.ftp.GetListing(); }, "listingDone"));
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/Ftp.h"
#include "tests/support/FtpEventLog.h"
#include "tests/support/RealServers.h"

namespace talvo::test {

// A real server as a test parameter: its name (the test's suffix), how to make it, and the
// data connection mode the client uses with it. A server made with TLS is spoken to with
// TLS required, its certificate trusted.
struct ServerKind {
  const char* name;
  std::function<std::unique_ptr<FtpServerFixture>()> make;
  TDataConnectionMode mode = dcmActive;
};
void PrintTo(const ServerKind& kind, std::ostream* out);
std::string ServerKindName(const ::testing::TestParamInfo<ServerKind>& info);

ServerKind PyFtpdKind();
ServerKind VsftpdKind();
ServerKind VsftpdAsyncAborKind();  // vsftpd with async_abor_enable=YES
// Servers that refuse active mode (PORT), with the client in automatic mode.
ServerKind PyFtpdPortRefusedKind();
ServerKind VsftpdPortRefusedKind();  // port_enable=NO
// Plain servers with the client forced into passive mode.
ServerKind PyFtpdPassiveKind();
ServerKind VsftpdPassiveKind();
// Servers on ::1 only (typed "[::1]"), with the client in each data connection mode.
ServerKind PyFtpdIpv6Kind();
ServerKind PyFtpdIpv6PassiveKind();
ServerKind VsftpdIpv6Kind();
ServerKind VsftpdIpv6PassiveKind();
ServerKind VsftpdTlsIpv6Kind();
// Servers that require TLS (explicit FTPS), with the client in each data connection mode.
ServerKind VsftpdTlsKind();
ServerKind VsftpdTlsPassiveKind();
ServerKind PyFtpdTlsKind();
ServerKind PyFtpdTlsPassiveKind();

class RealServerSession {
 public:
  // The longest wait of any one operation in these tests.
  static constexpr int kWaitMs = 30000;

  explicit RealServerSession(const FtpServerFixture& server, TDataConnectionMode mode = dcmActive);

  TVelaFtp ftp;
  // Every event but ftpiProgress, which comes once per block and would make the log of a
  // large transfer huge: progress only counts, and calls OnProgress.
  FtpEventLog log{ftp};
  std::function<void()> OnProgress;
  long long ProgressCount = 0;

  // Connects and logs in; true once OnLoggedIn came (false when the session ended first).
  bool LogIn(const std::string& user, const std::string& password);
  // Calls start, then runs the loop until `completion` (a word of the event log, such as
  // "fileReceived") has come once more, or the session ended, or timeoutMs passed.
  bool Run(const std::function<void()>& start, const std::string& completion, int timeoutMs = kWaitMs);
  // Runs the loop until `line` is in the log `count` times.
  bool WaitFor(const std::string& line, int count, int timeoutMs = kWaitMs);

  // The command lines the client sent, without CR LF.
  std::vector<std::string> SentCommands() const;
  // The replies received since log line `from`, as one line each (CR LF removed).
  std::vector<std::string> RepliesSince(std::size_t from) const;
  // The whole log, one event a line, for failure messages.
  std::string Transcript() const;

 private:
  std::string host_;
  std::uint16_t port_;
};

// The fixture of the engine's tests against real servers: the parameter's server started,
// and a session against it (in the server's data connection mode).
class RealServerSessionTest : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override;

  TVelaFtp& ftp() { return session_->ftp; }
  FtpEventLog& log() { return session_->log; }
  TempTree& root() { return server_->Root(); }
  // Logs in as the server's user (a fatal failure otherwise).
  void LogIn();
  void Listing();
  // The session's log, then the server's.
  std::string Transcript() const;

  std::unique_ptr<FtpServerFixture> server_;
  std::unique_ptr<RealServerSession> session_;  // goes before the server
};

}  // namespace talvo::test
