#include "ftp/FtpProbe.h"
#include "tests/support/ScriptedControlSession.h"

#include "platform/MessageLoop.h"

namespace talvo::test {

namespace {

constexpr const char* kLoopback = "127.0.0.1";

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out.size() > 300 ? out.substr(0, 300) + "..." : out;
}

}  // namespace

ScriptedControlSession::ScriptedControlSession() {
  ftp.UserName = "alice";
  ftp.UserPassword = "secret";
}

void ScriptedControlSession::Connect() {
  peer.Start();
  ftp.SetFtpServer(server);
  ftp.FtpPort = peer.Port();
  ftp.Connect();
}

::testing::AssertionResult ScriptedControlSession::ConnectAndLogin() {
  Connect();
  return RunUntilEvent("loggedIn");
}

::testing::AssertionResult ScriptedControlSession::RunUntilEvent(const std::string& line, int count,
                                                                int timeoutMs) {
  return RunUntil([&] { return log.Count(line) >= count; },
                  "\"" + line + "\" " + std::to_string(count) + " time(s)", timeoutMs);
}

::testing::AssertionResult ScriptedControlSession::RunUntil(const std::function<bool()>& done,
                                                           const std::string& what, int timeoutMs) {
  if (platform::MessageLoop::Current().RunUntil(done, timeoutMs)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "never saw " << what << "\n" << Transcript();
}

::testing::AssertionResult ScriptedControlSession::FinishPeer() {
  if (ftp.SockHandle != platform::INVALID_SOCKET) ftp.SockClose();
  if (!peer.WaitFinished(Millis(kWaitMs))) {
    return ::testing::AssertionFailure() << "the peer's script did not end\n" << Transcript();
  }
  if (!peer.Failure().empty()) {
    return ::testing::AssertionFailure() << "peer: " << peer.Failure() << "\n" << Transcript();
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ScriptedControlSession::LoginAgainWithNewPeer() {
  ScriptedPeer again;
  again.Login().AwaitClose();
  again.Start();
  log.Clear();
  ftp.InitialDirectory.clear();  // a ChangeDirectory before the failure leaves its argument here
  ftp.SetFtpServer(kLoopback);
  ftp.FtpPort = again.Port();
  ftp.Connect();
  const bool loggedIn = platform::MessageLoop::Current().RunUntil(
      [&] { return log.Count("loggedIn") == 1; }, kWaitMs);
  const bool clean = log.CountPrefix("ftpe") == 0 && ftp.Connected && ftp.Success &&
                     !TFtpProbe(ftp).ShuttingDown() && ftp.LastError == ftpeNone;
  ftp.SockClose();
  const bool finished = again.WaitFinished(Millis(kWaitMs));
  if (loggedIn && clean && finished && again.Failure().empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the new connection did not log in cleanly; peer: "
                                       << again.Failure() << "\n" << Transcript();
}

std::string ScriptedControlSession::ReceivedBeforeSending(const std::string& line) const {
  const std::string sent = "ftpiSent:" + line + "\r\n";
  std::string received;
  for (const std::string& entry : log.Lines()) {
    if (entry == sent) break;
    if (entry.starts_with("ftpiReceived:")) received += entry.substr(13);
  }
  return received;
}

std::string ScriptedControlSession::Transcript() const {
  std::string text = "events:\n";
  for (const std::string& line : log.Lines()) text += "  " + Escaped(line) + "\n";
  text += "peer commands:";
  for (const std::string& command : peer.Commands()) text += " [" + Escaped(command) + "]";
  text += "\npeer failure: " + peer.Failure();
  const char* state = ControlStateName(TFtpProbe::StateOf(ftp));
  text += std::string("\ncomponent state: ") + (state != nullptr ? state : "?");
  return text;
}

}  // namespace talvo::test
