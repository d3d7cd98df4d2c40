// One TVelaSftp driven against an SshdServer: the user's SSH files in a folder of the
// test's own (known hosts, configuration, keys; no agent unless one is given), the server's
// key known, a user key authorized and offered, a logged-in session in one call, and
// bounded runs of the loop until an operation's completion event.
//
//   SshdServer server;
//   ASSERT_TRUE(server.Start()) << server.Error();
//   SftpTestSession session(server);
//   ASSERT_TRUE(session.LogIn()) << session.Transcript();
//   ASSERT_TRUE(session.Run([&] { session.sftp.GetListing(); }, "listingDone"));
#pragma once

#include <functional>
#include <string>

#include "sftp/Sftp.h"
#include "tests/support/FtpEventLog.h"
#include "tests/support/SshdServer.h"
#include "tests/support/TempTree.h"

namespace talvo::test {

class SftpTestSession {
 public:
  static constexpr int kWaitMs = 30000;

  // With `trustServer`, the server's key is written to the known hosts first; with
  // `withKey`, a new key is authorized on the server and offered by the session.
  explicit SftpTestSession(SshdServer& server, bool trustServer = true, bool withKey = true);

  TempTree home{"ssh-home"};  // the user's ~/.ssh
  TempTree local{"local"};
  TVelaSftp sftp;
  FtpEventLog log{sftp};
  std::string key;  // the offered key's path

  bool LogIn();
  bool Run(const std::function<void()>& start, const std::string& completion, int timeoutMs = kWaitMs);
  // Runs the loop until the quit notification (or timeoutMs).
  bool WaitQuit(int timeoutMs = kWaitMs);
  std::string Transcript() const;

 private:
  SshdServer& server_;
};

}  // namespace talvo::test
