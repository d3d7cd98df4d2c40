// Control connection: connecting (lookup, connect, time limits), reading and cutting the
// replies into lines, sending command lines, and handing each reply to the handler of the
// state that awaits it.
#include <cstring>
#include <utility>

#include "ftp/CommandArgument.h"
#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/FtpLogin.h"
#include "ftp/FtpTransfer.h"
#include "platform/WinsockErrors.h"

using namespace platform;

void TVelaFtp::Connect() {
  if (Busy) {
    Info(ftpiBusy, "");
    return;
  }
  OnSockTimeOut = [this](TObject*) { FatalError(ftpeTimeout); };
  LastError = ftpeNone;
  Success = true;
  ShuttingDown = false;
  Ended = false;
  if (!InitWinsock()) {
    ReportError(ftpeWinsockNotInitialized);
    return;
  }
  LastReply.clear();
  if (FtpServer.empty()) {
    std::string server;
    if (!AskFor(ftpnServer, server)) {
      ReportError(ftpeCancelled);
      return;
    }
    if (server.empty()) {
      ReportError(ftpeNoServer);
      return;
    }
    SetFtpServer(server);
  }
  if (FtpPort == 0) FtpPort = 21;
  ReplyFraming.Reset();
  ControlState = csAwaitGreeting;
  Login->Restart();
  Features = {};
  Place.Lost();
  ListingFactsHold = false;
  ForgetAbort();
  Replies.Restart(1);  // the greeting
  OnSockConnect = [this](TObject*) { ControlConnected(); };
  OnSockRead = [this](TObject*) { ControlRead(); };
  OnSockClose = [this](TObject*) { ControlClosed(); };
  // The socket is opened once the address, and so its family, is known.
  if (ServerAddress.empty()) {
    Info(ftpiResolvingHost, ServerHostName);
    SockResolve(ServerHostName);
    CheckSocketError();
    return;
  }
  SockConnectTo(ServerAddress, FtpPort);
  CheckSocketError();
}

void TVelaFtp::DoResolved() {
  if (CheckSocketError()) return;
  SockUseResolved();
  SockSetPort(FtpPort);
  ServerAddress = SockAddressText();
  Info(ftpiHostResolved, ServerAddress);
  SockConnectResolved();
  CheckSocketError();
}

void TVelaFtp::ControlConnected() {
  if (CheckSocketError()) return;
  ControlState = csAwaitGreeting;
  ServerAddress = SockAddressText();  // the address that answered, of all a name has
  Info(ftpiConnected, ServerAddress);
  Connected = true;
  ControlLines.Clear();
  InReplyHandler = false;
  Deadlines.StartTicking();
  Deadlines.Arm(TAwaited::Reply, GuardTimes.Greeting);
  Transfer->Channel().ChooseSessionMode();
}

void TVelaFtp::ControlClosed() {
  // A reset or an abort arrives as a close that carries its error: that is a network
  // failure, not the server's goodbye.
  if (CheckSocketError()) return;
  EndConnection(TConnectionEnd::ServerClosed, ftpeNone);
}

void TVelaFtp::ControlRead() {
  if (InReplyHandler || ShuttingDown || Login->TlsPending()) return;
  const std::uint64_t serial = Serial;
  while (!ShuttingDown) {
    const int n = SockReceive(ControlBuffer, kChunkSize);
    if (CheckSocketError()) return;
    const std::size_t length = strnlen(ControlBuffer, static_cast<std::size_t>(n));
    const std::string text(ControlBuffer, length);
    Info(ftpiReceived, text);
    if (serial != Serial) return;  // the owner's handler ended the connection
    if (text.empty()) return;
    // The server is answering, however slowly; a greeting has its own bound, since a
    // service that is not FTP may say something and then nothing.
    if (Deadlines.Armed(TAwaited::Reply) && ControlState != csAwaitGreeting) {
      Deadlines.Arm(TAwaited::Reply, GuardTimes.Reply);
    }
    ControlLines.Append(text);
    std::string line;
    while (ControlLines.NextLine(line)) {
      InReplyHandler = true;
      HandleReply(line);
      InReplyHandler = false;
      if (ShuttingDown || serial != Serial) return;
      if (Login->TlsPending()) {
        // The handshake has begun: nothing that came in clear after the 234 is taken.
        ControlLines.Clear();
        return;
      }
    }
    if (ControlLines.Overflow()) {
      // A server that never ends its line: refuse it rather than grow without bound.
      ControlLines.Clear();
      FatalError(ftpeUnexpectedReply);
      return;
    }
  }
}

void TVelaFtp::SendLine(const std::string& Line) {
  // The owner's handlers may run modal loops inside a reply handler (a prompt, a message):
  // the connection can end meanwhile, and then there is nothing to send on.
  if (ShuttingDown || !Connected) return;
  const std::string text = Line + "\r\n";
  Info(ftpiSent, ShownCommandLine(text));
  Replies.CommandSent();
  std::size_t sent = 0;
  const std::uint64_t serial = Serial;
  for (;;) {
    const int n = SockSend(text.data() + sent, static_cast<int>(text.size() - sent));
    sent += static_cast<std::size_t>(n);
    if (sent == text.size()) SockFlush();  // a command goes now, ahead of anything posted
    if (CheckSocketError() || sent == text.size()) return;
    // The socket is full (a server that reads nothing): wait for it, letting the loop run,
    // instead of spinning. A command line normally goes at once, without any pumping.
    if (n == 0) MessageLoop::Current().WaitMessage(100);
    if (ShuttingDown || serial != Serial) return;
  }
}

void TVelaFtp::SendCommand(const std::string& Line, TControlState NextState) {
  Deadlines.Arm(TAwaited::Reply, GuardTimes.Reply);
  SendLine(Line);
  ControlState = NextState;
}

bool TVelaFtp::AskFor(TFtpInfoNeeded need, std::string& value) {
  InfoRequestCancelled = false;
  if (value.empty() && OnFtpNeedInfo) OnFtpNeedInfo(this, need, value);
  return !std::exchange(InfoRequestCancelled, false);
}

void TVelaFtp::HandleReply(const std::string& Line) {
  if (Line.empty()) return;
  switch (ReplyFraming.Take(Line)) {
    case TReplyLine::Opening: return;
    case TReplyLine::Inside:
      // The lines inside a reply matter only to FEAT, one feature a line.
      if (ControlState == csAwaitFeat) Login->NoteFeature(Line);
      return;
    case TReplyLine::Last: break;
  }
  LastReply = Line;
  Deadlines.Disarm(TAwaited::Reply);  // the reply waited for is in; the next command arms it again
  const TFtpReply reply = ParseReply(Line);
  // The replies owed to ABOR (and the NOOP that may follow it) are taken out here, so that
  // they are never read as the answer to a later command.
  if (TakeAbortReply(reply)) return;
  HandleStateReply(reply);
}

// Every state, each to the handler of the part that sent its command.
void TVelaFtp::HandleStateReply(const TFtpReply& Reply) {
  switch (ControlState) {
    case csAwaitGreeting: case csAwaitUser: case csAwaitPass: case csAwaitAcct: case csAwaitSyst:
    case csAwaitFeat: case csAwaitOptsUtf8: case csAwaitInitialCwd:
      Login->TakeLoginReply(Reply);
      break;
    case csAwaitAuthTls: case csAwaitPbsz: case csAwaitProt:
      Login->TakeTlsReply(Reply);
      break;
    case csAwaitPwd:
      Transfer->TakePwdReply(Reply);
      break;
    case csAwaitListType: case csAwaitListPort: case csAwaitList:
      Transfer->TakeReply(TransferKind::Listing, Reply);
      break;
    case csAwaitRetrType: case csAwaitRetrSize: case csAwaitRetrPort: case csAwaitRetr:
      Transfer->TakeReply(TransferKind::Receive, Reply);
      break;
    case csAwaitRetrMdtm:
      Transfer->TakeModificationTimeReply(Reply);
      break;
    case csAwaitRetrRest:
      Transfer->TakeRestReply(Reply);
      break;
    case csAwaitStorType: case csAwaitStorPort: case csAwaitStor:
      Transfer->TakeReply(TransferKind::Store, Reply);
      break;
    case csAwaitRnfr: case csAwaitRnto:
      HandleRenameReply(Reply);
      break;
    case csAwaitSimple:
      EndSimpleCommand(Reply.Class == 2);
      break;
    case csAwaitQuit:
      HandleQuitReply(Reply);
      break;
    case csIdle:
      break;  // nothing awaited: the reply is ignored
  }
}
