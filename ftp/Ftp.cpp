// Surface of the component: construction, acceptance of operations, the two error paths,
// the one teardown, and the done and quit notifications.
#include "ftp/Ftp.h"

#include "ftp/CommandArgument.h"
#include "ftp/DataChannel.h"
#include "ftp/FtpLogin.h"
#include "ftp/FtpTransfer.h"
#include "ftp/StoreSender.h"

using namespace platform;

TVelaFtp::TVelaFtp()
    : Deadlines([this] { GuardTick(); }),
      Login(std::make_unique<TFtpLogin>(*this)),
      Transfer(std::make_unique<TFtpTransfer>(*this)) {
  FtpPort = 21;
  OnSockMessage = [this](TMessage& m) { HandleOwnMessage(m); };
}

// The transfer goes first (its data sockets, then its local file), then the control socket.
TVelaFtp::~TVelaFtp() {
  Transfer->Drop();
  Transfer.reset();
  SockClose();
}

void TVelaFtp::SetWinsockStarted(bool value) {
  if (value) {
    InitWinsock();
  } else {
    StopWinsock();
  }
}

bool TVelaFtp::TransferRunning() const { return Transfer->State.Running(); }

void TVelaFtp::Info(FtpInfo info, const std::string& addinfo) {
  if (OnFtpInfo) OnFtpInfo(this, info, addinfo);
}

void TVelaFtp::PostDone() {
  MessageLoop::Current().PostMessage(SockWindow, WM_FTP_DONE, 0, 0);
}

void TVelaFtp::PostQuit() {
  MessageLoop::Current().PostMessage(SockWindow, WM_FTP_QUIT, 0, 0);
}

void TVelaFtp::HandleOwnMessage(TMessage& Message) {
  if (Message.Msg == WM_FTP_DONE) {
    Busy = false;
    Transfer->State.Clear();
    ClearDeadlines();
    Raise(OnFtpReady);
    if (AbortRequested) {
      Transfer->Channel().Close();
      AbortRequested = false;
    }
    if (CurrentOperation != opNone) {
      const TCurrentOperation op = CurrentOperation;
      CurrentOperation = opNone;
      FireCompletion(op);
    }
  } else if (Message.Msg == WM_FTP_STORE) {
    Transfer->Store().Continuation(Message.WParam);
  } else if (Message.Msg == WM_FTP_QUIT) {
    Busy = false;
    Raise(OnFtpQuit);
  }
}

void TVelaFtp::FireCompletion(TCurrentOperation op) { RaiseCompletion(op, this); }

bool TVelaFtp::AcceptCommand() {
  if (!Connected) {
    Info(ftpiDisconnected, "");
    return false;
  }
  if (Busy) {
    Info(ftpiBusy, "");
    return false;
  }
  return true;
}

void TVelaFtp::BeginOperation(TCurrentOperation op) {
  Success = true;
  CurrentOperation = op;
  LastError = ftpeNone;
  LastReply.clear();
  Busy = true;
  // The last listing's facts hold for its folder, as long as nothing there changed.
  if (op != opReceiveFile && op != opGetListing && op != opLogin) ListingFactsHold = false;
}

// An argument that would carry a second command ends the accepted operation as refused,
// before anything is sent. True when it was refused.
bool TVelaFtp::RefuseUnsendable(const std::string& argument) {
  if (IsSendableArgument(argument)) return false;
  Info(ftpiCommandFailed, "");
  Success = false;
  PostDone();
  return true;
}

void TVelaFtp::ReportError(FtpError Code, const std::string& text) {
  Success = false;
  LastError = Code;
  if (OnFtpError) OnFtpError(this, Code, text);
}

// A local file failed: the event names the file, LocalError keeps the system's reason.
void TVelaFtp::ReportLocalError(FtpError Code, int error) {
  Success = false;
  LastError = Code;
  LocalError = error;
  if (OnFtpError) OnFtpError(this, Code, LocalFile);
}

bool TVelaFtp::CheckSocketError() {
  if (ShuttingDown) return true;
  if (SockError == 0) {
    LastError = ftpeNone;
    return false;
  }
  EndConnection(TConnectionEnd::NetworkError, FtpErrorFromSocketError(SockError));
  return true;
}

// The one end of a connection, whatever ended it: the running transfer is dropped (its
// sockets and its local file), the control socket closed, the waits and a stop forgotten;
// then the reason says what it has to say. A second call, for any reason, finds the
// connection ended and does nothing, until the next Connect. The server's close leaves the
// control socket to the socket component, which closes it after its close notification.
void TVelaFtp::EndConnection(TConnectionEnd reason, FtpError code, const std::string& text) {
  if (ShuttingDown || Ended) return;
  Ended = true;
  ++Serial;
  Transfer->Drop();
  Transfer->State.Clear();
  if (reason != TConnectionEnd::ServerClosed) SockClose();
  Connected = false;
  ForgetAbort();
  ClearDeadlines();
  Deadlines.StopTicking();
  switch (reason) {
    case TConnectionEnd::Fatal:
    case TConnectionEnd::NetworkError:
      ReportError(code, text);
      PostQuit();
      if (reason == TConnectionEnd::NetworkError) {
        // The three sockets once more: the error's handler may have opened one again.
        ShuttingDown = true;
        Transfer->Channel().Close();
        SockClose();
        PostQuit();
      }
      return;
    case TConnectionEnd::ServerClosed:
      Info(ftpiDisconnected, "Disconnected");
      // An operation cut short by the close did not happen: its completion reports a failure.
      if (Busy && CurrentOperation != opNone) Success = false;
      PostDone();
      PostQuit();
      return;
  }
}

// The simple operations of the surface: acceptance, what each records, and the command.

void TVelaFtp::GetListing() {
  if (!Connected) {
    CurrentOperation = opGetListing;
    Info(ftpiDisconnected, "");
    return;
  }
  if (Busy) {
    Info(ftpiBusy, "");
    return;
  }
  CurrentOperation = opGetListing;
  LastError = ftpeNone;
  Busy = true;
  Transfer->Begin(TransferKind::Listing);
}

void TVelaFtp::ReceiveFile() {
  if (!Connected) {
    Success = true;
    Info(ftpiDisconnected, "");
    return;
  }
  if (Busy) {
    Info(ftpiBusy, "");
    return;
  }
  BeginOperation(opReceiveFile);
  Transfer->Begin(TransferKind::Receive);
}

void TVelaFtp::StoreFile() {
  if (!Connected) {
    Success = true;
    CurrentOperation = opStoreFile;
    LastError = ftpeNone;
    Info(ftpiDisconnected, "");
    PostDone();
    return;
  }
  if (Busy) {
    Info(ftpiBusy, "");
    return;
  }
  BeginOperation(opStoreFile);
  Transfer->Begin(TransferKind::Store);
}
