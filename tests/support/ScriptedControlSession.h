// One TVelaFtp pointed at a ScriptedPeer on loopback, with every event recorded: the verbs
// that keep the scripted control tests to a few lines. The script is written on `peer`
// before Connect(), which starts it.
//
//   ScriptedControlSession session;
//   session.peer.Login().Expect("CWD pub").Reply("250 ok\r\n").AwaitClose();
//   ASSERT_TRUE(session.ConnectAndLogin());
//   session.ftp.ChangeDirectory("pub");
//   ASSERT_TRUE(session.RunUntilEvent("directoryChanged"));
//   EXPECT_TRUE(session.FinishPeer());
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ftp/Ftp.h"
#include "tests/support/FtpEventLog.h"
#include "tests/support/LoopRuns.h"
#include "tests/support/ScriptedPeer.h"

namespace talvo::test {

class ScriptedControlSession {
 public:
  // The longest wait of any one step; every run of the loop is bounded by it.
  static constexpr int kWaitMs = 5000;

  // The component logs in as "alice" with the password "secret".
  ScriptedControlSession();

  ScriptedPeer peer;  // first, so that it outlives the component's sockets
  TVelaFtp ftp;
  std::string server = "127.0.0.1";  // as typed: a name must resolve to the peer's address
  FtpEventLog log{ftp};

  // Starts the peer's script and connects the component to it.
  void Connect();
  // Connect, then runs the loop until OnLoggedIn.
  ::testing::AssertionResult ConnectAndLogin();
  // Runs the loop until `line` is in the event log `count` times.
  ::testing::AssertionResult RunUntilEvent(const std::string& line, int count = 1,
                                           int timeoutMs = kWaitMs);
  ::testing::AssertionResult RunUntil(const std::function<bool()>& done, const std::string& what,
                                      int timeoutMs = kWaitMs);
  // Closes the client's end (if still open) and waits for the script to end; true when
  // every step succeeded.
  ::testing::AssertionResult FinishPeer();

  // A fresh Connect of the same component (without an initial directory) to a new peer
  // logs in as usual: the state left by an earlier failure does not carry over.
  ::testing::AssertionResult LoginAgainWithNewPeer();

  // Every control text received before the component sent `line` (without CR LF), joined;
  // the whole received text when it never sent it.
  std::string ReceivedBeforeSending(const std::string& line) const;
  std::vector<std::string> Events() const { return log.Events(); }
  // The event log and the peer's state, for failure messages.
  std::string Transcript() const;
};

}  // namespace talvo::test
