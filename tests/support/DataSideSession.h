// One TVelaFtp logged in to a ScriptedPeer, with its event log and a scratch directory, and
// short verbs for both halves of the data-side exchanges: the peer's half appends script
// steps (PWD, TYPE, PORT and the transfer command answered as a plain server does, then the
// data connection); the client's half starts an operation and runs the loop, always
// bounded, until its completion event or the quit event.
//
//   DataSideSession s;
//   s.ListingOpens().DataSend("total 0\r\n").DataClose().Reply(kTransferComplete);
//   ASSERT_TRUE(s.LogIn());
//   ASSERT_TRUE(s.List());
//   EXPECT_EQ(s.ftp.ListingLines, Lines{"total 0"});
//   EXPECT_EQ(s.PeerFailure(), "");
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ftp/Ftp.h"
#include "tests/support/FtpEventLog.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempTree.h"

namespace talvo::test {

inline const std::string kPwdReply = "257 \"/home/anna\" is the current directory\r\n";
inline const std::string kListingOpening = "150 Here comes the directory listing.\r\n";
inline const std::string kTransferComplete = "226 Transfer complete.\r\n";

// "150 Opening BINARY mode data connection for NAME (SIZE bytes).", as most servers say it.
std::string RetrOpening(const std::string& name, std::uint64_t size);

class DataSideSession {
 public:
  // Bound of every wait for an event. Generous: it only matters when something is wrong.
  static constexpr int kWaitMs = 15000;

  // With passive set (before the script is written), the steps below make the data
  // connections in passive mode: EPSV answered 229, the client connects, then the command.
  bool passive = false;
  // The server as typed: an IPv6 address makes the active steps expect EPRT.
  std::string host = "127.0.0.1";
  // The reply to SIZE before a binary download, used by the steps written after it is set.
  // A refusal by default: the size is then the one the 150 reply announces, if any.
  std::string sizeReply = "550 Could not get file size.\r\n";

  // The login is scripted with `login`'s replies.
  explicit DataSideSession(const ScriptedPeer::LoginReplies& login = {});
  DataSideSession(const DataSideSession&) = delete;
  DataSideSession& operator=(const DataSideSession&) = delete;

  // --- The peer's half (script steps, before LogIn). The login is already scripted. ---
  // PWD answered with `pwdReply`, TYPE A, PORT, `verb` (LIST or MLSD) answered 150, the data
  // connection.
  ScriptedPeer& ListingOpens(const std::string& pwdReply = kPwdReply, const std::string& verb = "LIST");
  // TYPE I, SIZE, PORT, "RETR name" answered with `opening`, the data connection.
  ScriptedPeer& RetrOpens(const std::string& name, const std::string& opening);
  // TYPE I, PORT, "STOR name" answered 150, the data connection.
  ScriptedPeer& StorOpens(const std::string& name);
  // The TYPE (answered 200), SIZE (before RETR in binary mode) and PORT (answered 200)
  // exchanges, then `command` read and not answered.
  ScriptedPeer& UpToCommand(const std::string& type, const std::string& command);
  // "CWD next" answered 250 (see ExpectCwdAnsweredByItsOwnReply).
  ScriptedPeer& CwdNext();

  // --- The client's half. ---
  // Starts the peer, connects and waits for OnLoggedIn; then empties the log.
  bool LogIn();
  // Each starts its operation and answers whether its completion event fired.
  bool List();
  bool Receive(const std::string& remote, const std::string& localName);
  bool Store(const std::string& localName, const std::string& remote);
  // Starts a receive or a store without waiting.
  void StartReceive(const std::string& remote, const std::string& localName);
  void StartStore(const std::string& localName, const std::string& remote);
  // Runs the loop until `event` is logged, "quit" is logged, or `ms` passed.
  bool WaitFor(const std::string& event, int ms = kWaitMs);
  bool WaitUntil(const std::function<bool()>& done, int ms = kWaitMs);
  // `action` runs on every ftpiProgress, after the log has recorded it (the user's stop
  // button pressed while a store pumps the loop).
  void OnProgress(std::function<void()> action) { OnInfo(ftpiProgress, std::move(action)); }
  // The same for any info code.
  void OnInfo(FtpInfo which, std::function<void()> action);

  // The data connection after the server's opening reply (active) or none (passive).
  ScriptedPeer& Opened(ScriptedPeer& afterOpening);

  // Sends "CWD next" and checks that its completion comes with the peer's 250 and not
  // with a reply the server still owed to an earlier command.
  void ExpectCwdAnsweredByItsOwnReply();

  // Position in log.Lines() of the first ftpiReceived whose text contains `text`; -1 if none.
  int ReceivedAt(const std::string& text) const;
  // Position in log.Lines() of the first line equal to `line`; -1 if none.
  int LineAt(const std::string& line) const;
  // log.Events() without ftpiProgress, whose count depends on how the data was cut.
  std::vector<std::string> EventsWithoutProgress() const;
  // Waits for the peer to end its script; its failure text (empty when all went well).
  std::string PeerFailure();

  TempTree tree{"ftpdata"};
  ScriptedPeer peer;
  TVelaFtp ftp;
  FtpEventLog log{ftp};
};

}  // namespace talvo::test
