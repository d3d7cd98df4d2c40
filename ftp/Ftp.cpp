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

void TVelaFtp::ReportError(FtpError Code) {
  Success = false;
  LastError = Code;
  if (OnFtpError) OnFtpError(this, Code, "Error");
}

// A local file failed: the event names the file, LocalError keeps the system's reason.
void TVelaFtp::ReportLocalError(FtpError Code, int error) {
  Success = false;
  LastError = Code;
  LocalError = error;
  if (OnFtpError) OnFtpError(this, Code, LocalFile);
}

void TVelaFtp::FatalError(FtpError Code) { FatalErrorWithText(Code, "Error"); }

void TVelaFtp::FatalErrorWithText(FtpError Code, const std::string& text) {
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
  if (OnFtpError) OnFtpError(this, Code, text);
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
  // What is known of this file: what the owner gives, or the listing of its folder.
  const ListingFacts* listed =
      ListingFactsHold && RemoteFile.find('/') == std::string::npos ? FactsOf(RemoteFile) : nullptr;
  ReceiveFacts = RemoteFileFacts.Size >= 0 || RemoteFileFacts.Modified >= 0 || listed == nullptr ? RemoteFileFacts
                                                                                                 : *listed;
  RemoteFileFacts = {};
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
  LocalError = 0;
  LeftOnDisk = TLeftOnDisk::Untouched;
  LeftPath.clear();
  if (RemoteFile.empty() || LocalFile.empty()) {
    ReportError(RemoteFile.empty() ? ftpeNoRemoteFile : ftpeLocalFileOpen);
    PostDone();
    return false;
  }
  const bool receive = CurrentOperation == opReceiveFile;
  TPartOrigin origin;
  origin.Server = FtpServer;
  origin.User = UserName;
  origin.Port = FtpPort;
  origin.RemotePath = Place.AbsolutePathOf(RemoteFile);
  origin.LoginPath = Place.LoginPathOf(RemoteFile);
  const int error = receive ? LocalFileHandle.OpenForReceive(LocalFile, origin) : LocalFileHandle.OpenForStore(LocalFile);
  if (error != 0) {
    ReportLocalError(ftpeLocalFileOpen, error);
    PostDone();
    return false;
  }
  // Said before the first byte: a download cut short would leave the file holding only
  // what came.
  if (receive && LocalFileHandle.OverwritesInPlace()) {
    const std::uint64_t serial = Serial;
    Info(ftpiLocalFileInPlace, LocalFile);
    if (serial != Serial) return false;
  }
  return true;
}
