// Control connection: connecting (lookup, connect, time limits), reading and cutting the
// replies into lines, sending command lines, and the reply state machine of the login and
// of the listing, receive and store sequences.
#include <cstring>
#include <utility>

#include "ftp/CommandArgument.h"
#include "ftp/Ftp.h"
#include "ftp/ReplyParsing.h"
#include "platform/WinsockErrors.h"

using namespace platform;

void TVelaFtp::Connect() {
  if (Busy) {
    Info(ftpiBusy, "");
    return;
  }
  OnSockTimeOut = [this](TObject* s) { ControlTimeOut(s); };
  LastError = ftpeNone;
  Success = true;
  ShuttingDown = false;
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
  MultiLineReply = false;
  MultiLineCode.clear();
  ControlState = csAwaitGreeting;
  ControlTlsPending = false;
  ProtectData = false;
  MlsdOffered = Utf8Offered = MlsdRefused = false;
  Place.Lost();
  ListingFactsHold = false;
  RepliesOwed = 1;  // the greeting
  ForgetAbort();
  OnSockConnect = [this](TObject* s) { ControlConnected(s); };
  OnSockRead = [this](TObject* s) { ControlRead(s); };
  OnSockClose = [this](TObject* s) { ControlClosed(s); };
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

void TVelaFtp::ControlTimeOut(TObject*) {
  FatalError(ftpeTimeout);
}

void TVelaFtp::ControlConnected(TObject*) {
  if (CheckSocketError()) return;
  ControlState = csAwaitGreeting;
  ServerAddress = SockAddressText();  // the address that answered, of all a name has
  Info(ftpiConnected, ServerAddress);
  Connected = true;
  ControlLines.Clear();
  InReplyHandler = false;
  StartGuard();
  ArmGreetingWait();
  ChooseSessionDataMode();
}

void TVelaFtp::ControlClosed(TObject*) {
  // A reset or an abort arrives as a close that carries its error: that is a network
  // failure, not the server's goodbye.
  if (CheckSocketError()) return;
  EndConnectionFromServer();
}

// The server closed the control connection (or, after QUIT, was taken as having closed).
void TVelaFtp::EndConnectionFromServer() {
  ++Serial;
  StopGuard();
  ClearDeadlines();
  Info(ftpiDisconnected, "Disconnected");
  // An operation cut short by the close did not happen: its completion reports a failure.
  if (Busy && CurrentOperation != opNone) Success = false;
  if (Transfer.Running() || LocalFileHandle.IsOpen()) {
    // Nothing more can arrive for a running transfer: end its data side too.
    DropTransfer();
    Transfer.Clear();
  }
  PostDone();
  PostQuit();
  Connected = false;
}

void TVelaFtp::ControlRead(TObject*) {
  if (InReplyHandler || ShuttingDown || ControlTlsPending) return;
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
    if (DeadlineReply != 0 && ControlState != csAwaitGreeting) ArmReplyWait();
    ControlLines.Append(text);
    std::string line;
    while (ControlLines.NextLine(line)) {
      InReplyHandler = true;
      HandleReply(line);
      InReplyHandler = false;
      if (ShuttingDown || serial != Serial) return;
      if (ControlTlsPending) {
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
  ++RepliesOwed;
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
  ArmReplyWait();
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
  if (MultiLineReply && Line.compare(0, 4, MultiLineCode + " ") != 0) {
    // The lines inside a reply matter only to FEAT, one feature a line.
    if (ControlState == csAwaitFeat) NoteFeature(Line);
    return;
  }
  // Only a reply code opens a multi-line reply: another service's banner ("SSH-2.0-...")
  // is a line like any other, which the greeting's state refuses at once.
  if (Line.size() >= 4 && Line[3] == '-' && IsReplyCode(Line)) {
    MultiLineReply = true;
    MultiLineCode = Line.substr(0, 3);
    return;
  }
  MultiLineReply = false;
  LastReply = Line;
  DeadlineReply = 0;  // the reply waited for is in; the next command arms the wait again
  // The replies owed to ABOR (and the NOOP that may follow it) are taken out here, so that
  // they are never read as the answer to a later command.
  if (TakeAbortReply(Line)) return;
  HandleStateReply(Line);
}

void TVelaFtp::HandleStateReply(const std::string& Line) {
  switch (ControlState) {
    case csAwaitGreeting: case csAwaitUser: case csAwaitPass: case csAwaitAcct: case csAwaitSyst:
    case csAwaitFeat: case csAwaitOptsUtf8: case csAwaitInitialCwd:
      HandleLoginReply(Line);
      break;
    case csAwaitAuthTls: case csAwaitPbsz: case csAwaitProt:
      HandleTlsReply(Line);
      break;
    case csAwaitPwd:
      HandlePwdReply(Line);
      break;
    case csAwaitListType: case csAwaitListPort: case csAwaitList:
      HandleTransferReply(TransferKind::Listing, Line);
      break;
    case csAwaitRetrType: case csAwaitRetrSize: case csAwaitRetrPort: case csAwaitRetr:
      HandleTransferReply(TransferKind::Receive, Line);
      break;
    case csAwaitRetrMdtm:
      TakeModificationTimeReply(Line);
      break;
    case csAwaitRetrRest:
      TakeRestReply(Line);
      break;
    case csAwaitStorType: case csAwaitStorPort: case csAwaitStor:
      HandleTransferReply(TransferKind::Store, Line);
      break;
    case csAwaitRnfr: case csAwaitRnto:
      HandleRenameReply(Line);
      break;
    case csAwaitSimple:
      HandleSimpleReply(Line);
      break;
    case csAwaitQuit:
      HandleQuitReply(Line);
      break;
    default:
      break;  // idle: the reply is ignored
  }
}

void TVelaFtp::HandleLoginReply(const std::string& Line) {
  const char cls = Line[0];
  switch (ControlState) {
    case csAwaitGreeting:
      if (cls != '2') {
        FatalError(ftpeNoGreeting);
      } else if (TlsMode != tlsmOff) {
        SendCommand("AUTH TLS", csAwaitAuthTls);
      } else {
        SendUser();
      }
      return;
    case csAwaitUser:
    case csAwaitPass:
    case csAwaitAcct:
      // A 2xx to USER, PASS or ACCT ends the login; a 3xx asks for the next value.
      if (cls == '2') {
        AfterLogin();
      } else if (cls == '3' && ControlState == csAwaitUser) {
        if (AskFor(ftpnPassword, UserPassword)) {
          SendLoginCommand("PASS ", UserPassword, csAwaitPass);
        } else {
          CancelLogin();
        }
      } else if (cls == '3' && ControlState == csAwaitPass) {
        if (AskFor(ftpnAccount, UserAccount)) {
          SendLoginCommand("ACCT ", UserAccount, csAwaitAcct);
        } else {
          CancelLogin();
        }
      } else {
        RefuseLogin();
      }
      return;
    case csAwaitSyst:
      CurrentOperation = opLogin;
      ServerType = ServerTypeFromSyst(Line);
      SendCommand("FEAT", csAwaitFeat);
      return;
    case csAwaitFeat:
      // A server that refuses FEAT offers nothing beyond the basic commands.
      if (cls != '2') MlsdOffered = Utf8Offered = false;
      if (Utf8Offered) {
        SendCommand("OPTS UTF8 ON", csAwaitOptsUtf8);
      } else {
        EnterInitialDirectory();
      }
      return;
    case csAwaitOptsUtf8:
      // Refused or not, names go back to the server as the bytes it listed.
      EnterInitialDirectory();
      return;
    case csAwaitInitialCwd:
      if (cls != '2') {
        Info(ftpiCommandFailed, "");
      } else {
        Place.Entered(InitialDirectory);
      }
      EndLogin();
      return;
    default:
      return;
  }
}

// A login value holding CR, LF or a zero byte is not sent: the login is refused as if the
// server had refused it (ftpeLoginRefused, then QUIT).
void TVelaFtp::SendLoginCommand(const std::string& command, const std::string& value, TControlState nextState) {
  if (!IsSendableArgument(value)) {
    RefuseLogin();
    return;
  }
  SendCommand(command + value, nextState);
}

void TVelaFtp::SendUser() {
  if (AskFor(ftpnUserName, UserName)) {
    SendLoginCommand("USER ", UserName, csAwaitUser);
  } else {
    CancelLogin();
  }
}

// Logged in: over TLS the data connections are protected too (PBSZ, PROT), then SYST.
void TVelaFtp::AfterLogin() {
  if (SockTlsActive()) {
    SendCommand("PBSZ 0", csAwaitPbsz);
  } else {
    SendCommand("SYST", csAwaitSyst);
  }
}

// One line inside the FEAT reply: " MLST type*;size*;modify*;" offers MLSD, " UTF8" UTF-8
// names.
void TVelaFtp::NoteFeature(const std::string& Line) {
  const std::string feature = FeatureName(Line);
  if (feature == "MLST") MlsdOffered = true;
  if (feature == "UTF8") Utf8Offered = true;
}

// The end of the login: into InitialDirectory, when one was set.
void TVelaFtp::EnterInitialDirectory() {
  Place.LoggedIn();
  if (InitialDirectory.empty()) {
    EndLogin();
  } else if (!IsSendableArgument(InitialDirectory)) {
    Info(ftpiCommandFailed, "");  // as if the server had refused that directory
    EndLogin();
  } else {
    SendCommand("CWD " + InitialDirectory, csAwaitInitialCwd);
  }
}

void TVelaFtp::RefuseLogin() {
  ReportError(ftpeLoginRefused);
  SendQuit();
}

// The owner's user cancelled a prompt of the login: nothing of it is sent, and the
// connection ends.
void TVelaFtp::CancelLogin() {
  ReportError(ftpeCancelled);
  SendQuit();
}

void TVelaFtp::EndLogin() {
  Info(ftpiLoggedIn, "Logged in");
  ControlState = csIdle;
  PostDone();
}

// A listing begins with PWD, whose reply becomes InitialDirectory.
void TVelaFtp::HandlePwdReply(const std::string& Line) {
  if (Line[0] != '2') {
    FatalError(ftpeUnexpectedReply);
    return;
  }
  InitialDirectory = DirectoryFromPwd(Line);
  Place.Printed(InitialDirectory);
  SendTransferType(TransferKind::Listing);
}

// "TYPE A" for a listing; for a file, the type of TransferMode.
void TVelaFtp::SendTransferType(TransferKind kind) {
  const bool ascii = kind == TransferKind::Listing || TransferMode == AsciiTransfer;
  SendCommand(ascii ? "TYPE A" : "TYPE I", TransferStatesOf(kind).Type);
}

// The replies of a listing, a receive or a store from TYPE on: one sequence (TYPE, then
// PORT, EPSV or PASV, then the transfer command), told apart by the kind's states.
void TVelaFtp::HandleTransferReply(TransferKind kind, const std::string& Line) {
  const TTransferStates states = TransferStatesOf(kind);
  const char cls = Line[0];
  if (ControlState == states.Type) {
    if (cls == '2') {
      AskSizeOrOpenData(kind);
    } else {
      FatalError(ftpeUnexpectedReply);
    }
  } else if (ControlState == states.Size) {
    TakeSizeReply(kind, Line);
  } else if (ControlState == states.Setup) {
    HandleDataSetupReply(kind, Line);
  } else if (DataTlsFailed && (cls == '1' || cls == '2')) {
    FatalError(ftpeTlsData);  // the server took the command; its data connection failed
  } else if (cls == '1') {
    TakePreliminaryReply(kind, Line);
  } else if (cls == '2' || Transfer.Stopped()) {
    // During a stop any final reply (426 included) is the transfer's own last word.
    ControlState = states.AfterFinalReply;
    TakeTransferFinalReply(cls == '2');
  } else if (RetryPassively(kind, Line)) {
    // the same operation runs again in passive mode
  } else if (FallBackToList(kind, Line)) {
    // the listing runs again with LIST
  } else if (states.RefusalIsFatal) {
    CloseDataSockets();
    FatalError(ftpeUnexpectedReply);
  } else if (Line.compare(0, 3, "426") == 0) {
    ArmReply426Wait();  // the answer of an aborted transfer: the final reply may follow
  } else {
    EndTransferCommandRefused();
  }
}

// A server that offered MLSD and then refuses it as unknown (500, 501, 502) is listed with
// LIST for the rest of the session, starting with this listing, whose data connection is
// made again.
bool TVelaFtp::FallBackToList(TransferKind kind, const std::string& Line) {
  if (kind != TransferKind::Listing || !MachineListing()) return false;
  if (Line.compare(0, 3, "500") != 0 && Line.compare(0, 3, "501") != 0 && Line.compare(0, 3, "502") != 0) {
    return false;
  }
  MlsdRefused = true;
  CloseDataSockets();
  Transfer.Begin(kind);
  OpenDataConnection(kind);
  return true;
}

void TVelaFtp::TakePreliminaryReply(TransferKind kind, const std::string& Line) {
  Transfer.PreliminaryReply();
  if (kind == TransferKind::Receive) {
    TakeAnnouncedSize(Line);
    std::string size;
    if (TransferSizeFromReply(Line, size)) Info(ftpiTransferSize, size);
  } else if (kind == TransferKind::Store && Transfer.Storing() && DataSetup != TDataSetup::Port) {
    // In passive mode the data connection is already there: the file goes once the
    // server has said it takes it, so that a refused STOR never meets data it did not want.
    Store.ServerReady = true;
    MaybeBeginStore();
  }
}

// The final reply of a listing or transfer; during a stop, whatever final reply comes.
// A stopped transfer whose final reply is not 2xx did not succeed either.
void TVelaFtp::TakeTransferFinalReply(bool accepted) {
  if (!accepted) Success = false;
  Transfer.FinalReply();
  TryFinishTransfer();
}

// RETR or STOR refused: the operation ends at once, as refused, with the connection kept.
void TVelaFtp::EndTransferCommandRefused() {
  DropTransfer();
  Info(ftpiCommandFailed, "");
  Success = false;
  Transfer.Finish();
  ClearDeadlines();
  PostDone();
}
