// Surface of the component: construction, acceptance of operations, the two error paths
// and the done and quit notifications.
#include "ftp/Ftp.h"

#include "ftp/CommandArgument.h"

using namespace platform;

TVelaFtp::TVelaFtp() : ListenSocket(std::make_unique<TVelaSocket>()), DataSocket(std::make_unique<TVelaSocket>()) {
  ListenSocket->InitWinsock();
  DataSocket->InitWinsock();
  FtpPort = 21;
  OnSockMessage = [this](TMessage& m) { HandleOwnMessage(m); };
  GuardWindow = MessageLoop::Current().CreateHiddenWindow([this](TMessage& m) {
    if (m.Msg == WM_TIMER) GuardTick();
  });
}

TVelaFtp::~TVelaFtp() {
  MessageLoop::Current().DestroyWindow(GuardWindow);
  DropTransfer();
  DataSocket.reset();
  ListenSocket.reset();
  SockClose();
}

void TVelaFtp::SetWinsockStarted(bool value) {
  if (value) {
    InitWinsock();
  } else {
    StopWinsock();
  }
}

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
    Transfer.Clear();
    ClearDeadlines();
    Raise(OnFtpReady);
    if (AbortRequested) {
      CloseDataSockets();
      AbortRequested = false;
    }
    if (CurrentOperation != opNone) {
      const TCurrentOperation op = CurrentOperation;
      CurrentOperation = opNone;
      FireCompletion(op);
    }
  } else if (Message.Msg == WM_FTP_STORE) {
    StoreContinuation(Message.WParam);
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

void TVelaFtp::ReportError(FtpError Code) {
  Success = false;
  LastError = Code;
  if (OnFtpError) OnFtpError(this, Code, "Error");
}

void TVelaFtp::FatalError(FtpError Code) {
  if (ShuttingDown) return;
  ++Serial;
  DropTransfer();
  SockClose();
  Connected = false;
  Transfer.Clear();
  ForgetAbort();
  ClearDeadlines();
  StopGuard();
  Success = false;
  LastError = Code;
  if (OnFtpError) OnFtpError(this, Code, "Error");
  PostQuit();
}

bool TVelaFtp::CheckSocketError() {
  if (ShuttingDown) return true;
  if (SockError == 0) {
    LastError = ftpeNone;
    return false;
  }
  FatalError(FtpErrorFromSocketError(SockError));
  StopAfterError();
  return true;
}

void TVelaFtp::StopAfterError() {
  if (ShuttingDown) return;
  ShuttingDown = true;
  CloseDataSockets();
  SockClose();
  PostQuit();
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
  Transfer.Begin(TransferKind::Listing);
  SendCommand("PWD", csAwaitPwd);
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
  ExpectedSize = -1;
  ResumeCandidate = ResumedFrom = 0;
  if (!PassLocalChecks()) return;
  Transfer.Begin(TransferKind::Receive);
  SendTransferType(TransferKind::Receive);
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
  ExpectedSize = -1;
  ResumedFrom = 0;  // an upload starts from the beginning: nothing of an earlier download counts
  if (!PassLocalChecks()) return;
  ExpectedSize = LocalFileHandle.Size();
  Transfer.Begin(TransferKind::Store);
  SendTransferType(TransferKind::Store);
}

// The checks of a receive or a store before anything is sent; a failure is reported (or,
// for a remote name that cannot be sent, refused) and ends the operation.
bool TVelaFtp::PassLocalChecks() {
  if (!RemoteFile.empty() && RefuseUnsendable(RemoteFile)) return false;
  FtpError error = ftpeNone;
  if (RemoteFile.empty()) {
    error = ftpeNoRemoteFile;
  } else if (LocalFile.empty()) {
    error = ftpeLocalFileOpen;
  } else if (!(CurrentOperation == opReceiveFile ? LocalFileHandle.OpenForReceive(LocalFile)
                                                  : LocalFileHandle.OpenForStore(LocalFile))) {
    error = ftpeLocalFileOpen;
  }
  if (error == ftpeNone) return true;
  ReportError(error);
  PostDone();
  return false;
}
