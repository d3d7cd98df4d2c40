// Data side: the active-mode listening port, accepting the server's data connection,
// listing text cut into lines, received files written as they come, stored files sent
// block by block, and the abort sequence.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ftp/Ftp.h"
#include "ftp/ListingParser.h"
#include "ftp/ReplyParsing.h"
#include "platform/WinsockErrors.h"

using namespace platform;

std::string TVelaFtp::PrepareDataPort() {
  const std::string local = SockLocalAddress();
  ListenSocket->SockClose();  // a listener left from an earlier transfer is never reused
  ListenSocket->ServerAddress = local;
  ListingRemainder.clear();
  SkippingListingLine = false;
  ListenSocket->SockSetAddress(local);
  ListenSocket->SockSetPort(0);
  ListenSocket->SockOpen();
  // Some servers connect while they answer PORT, before the handlers are installed: the
  // connection is remembered and taken once they are.
  AcceptWaiting = false;
  ListenSocket->OnSockAccept = [this](TObject* s) { PendingAccept(s); };
  ListenSocket->SockListen();
  const std::string address = ListenSocket->SockLocalAddress();
  const std::uint16_t port = ListenSocket->SockLocalPort();
  return PortArgument(address, port);
}

void TVelaFtp::PendingAccept(TObject*) {
  AcceptWaiting = true;
}

// Installs the data handlers and sends the transfer command. The accept handler is switched
// on only once the command has been handed to the socket: sending pumps the loop, and a
// store must not begin before the server has been told STOR.
void TVelaFtp::StartTransfer(TCurrentOperation op, const std::string& command, int nextState) {
  if (AbortBeforeTransfer) {
    EndTransferAbortedBeforeStart(op);
    return;
  }
  DataSocket->OnSockWrite = nullptr;
  if (op == opStoreFile) {
    DataSocket->OnSockRead = nullptr;
    DataSocket->OnSockClose = [this](TObject* s) { TransferClosed(s); };
  } else if (op == opGetListing) {
    DataSocket->OnSockRead = [this](TObject* s) { ListingRead(s); };
    DataSocket->OnSockClose = [this](TObject* s) { ListingClosed(s); };
  } else {
    DataSocket->OnSockRead = [this](TObject* s) { FileRead(s); };
    DataSocket->OnSockClose = [this](TObject* s) { TransferClosed(s); };
  }
  TransferOperation = op;
  TransferActive = true;
  TransferAborted = false;
  DataAccepted = false;
  DonePosted = false;
  ClearDeadlines();
  ArmDataConnectWait();
  StallBytes = -1;
  StallSeconds = 0;
  const std::uint64_t serial = Serial;
  SendCommand(command, nextState);
  if (serial != Serial || ShuttingDown) return;
  if (op == opStoreFile) {
    ListenSocket->OnSockAccept = [this](TObject* s) { StoreData(s); };
  } else {
    ListenSocket->OnSockAccept = [this](TObject* s) { AcceptData(s); };
  }
  if (AcceptWaiting) {
    // A connection that came early is delivered like a fresh accept notification.
    AcceptWaiting = false;
    MessageLoop::Current().PostMessage(ListenSocket->SockWindow, WM_USER + 1,
                                       static_cast<WPARAM>(ListenSocket->SockHandle),
                                       MakeSelectLParam(static_cast<std::uint16_t>(FD_ACCEPT), 0));
  }
}

// Takes the waiting connection into DataSocket. Only the server may connect: a connection
// from any other address is closed at once and the listener keeps waiting.
bool TVelaFtp::TakeDataConnection() {
  DataSocket->SockAccept(*ListenSocket);
  if (DataSocket->SockError == WSAEWOULDBLOCK) return false;  // nothing was waiting
  if (DataSocket->SockError != 0) {
    if (!AbortRequested) FatalError(ftpeDataConnection);
    return false;
  }
  if (DataSocket->SockAddressValue() != SockAddressValue()) {
    DataSocket->SockClose();
    return false;
  }
  DataAccepted = true;
  DeadlineDataConnect = 0;
  return true;
}

void TVelaFtp::AcceptData(TObject*) {
  if (!TransferActive || DataAccepted) return;
  if (!TakeDataConnection()) return;
  BytesTransferred = 0;
  Success = true;
  BeginTick = GetTickCount();
  TransferTime = 0;
  ListingRemainder.clear();
  AbortRequested = false;
  if (TransferOperation == opReceiveFile && LocalFileOpen && !LocalFileTruncated) {
    // The local file is emptied only now that data is coming: a refused download never
    // destroys an existing file.
    if (ftruncate(LocalFileHandle, 0) != 0) {
      ReportError(ftpeLocalFileWrite);
      CloseLocalFile();
    }
    LocalFileTruncated = true;
  }
}

void TVelaFtp::ListingRead(TObject*) {
  const std::uint64_t serial = Serial;
  const int n = DataSocket->SockReceive(TransferBuffer, kChunkSize);
  if (DataSocket->SockError != 0) {
    if (!AbortRequested) FatalError(ftpeDataConnection);
    return;
  }
  const std::size_t length = strnlen(TransferBuffer, static_cast<std::size_t>(n));
  if (length == 0) return;
  BytesTransferred += static_cast<std::int64_t>(length);
  ListingRemainder.append(TransferBuffer, length);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = ListingRemainder.find("\r\n", start);
    if (end == std::string::npos) break;
    const std::size_t lineStart = start;
    start = end + 2;
    if (SkippingListingLine || end - lineStart > kMaxListingLine) {
      SkippingListingLine = false;  // an overlong line, or the tail of one, is dropped
      continue;
    }
    std::string line = ListingRemainder.substr(lineStart, end - lineStart);
    TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
    Info(ftpiProgress, line);
    if (serial != Serial) return;
    AddListingLine(line);
    if (serial != Serial) return;
  }
  ListingRemainder.erase(0, start);
  const bool endsWithCr = !ListingRemainder.empty() && ListingRemainder.back() == '\r';
  if (ListingRemainder.size() - (endsWithCr ? 1 : 0) > kMaxListingLine) {
    // A line that never ends is dropped, keeping a CR that may begin its CR LF.
    ListingRemainder.assign(endsWithCr ? "\r" : "");
    SkippingListingLine = true;
  }
}

void TVelaFtp::AddListingLine(const std::string& line) {
  try {
    ListingLines.push_back(line);
    Info(ftpiListingLine, line);
    ListingEntry entry;
    if (ParseListingLine(ServerType, line, entry)) {
      (entry.IsDirectory ? DirectoryNames : FileNames).push_back(entry.Name);
    }
  } catch (...) {
    // One bad line costs only its own entry.
  }
}

void TVelaFtp::FileRead(TObject*) {
  const int n = DataSocket->SockReceive(TransferBuffer, kChunkSize);
  if (DataSocket->SockError != 0) {
    if (!AbortRequested) FatalError(ftpeDataConnection);
    return;
  }
  if (n == 0) return;
  BytesTransferred += n;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  // Written before the progress report, whose handler may abort: what was counted is on disk.
  if (LocalFileOpen) {
    int written = 0;
    while (written < n) {
      const ssize_t w = ::write(LocalFileHandle, TransferBuffer + written, static_cast<std::size_t>(n - written));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) break;
      written += static_cast<int>(w);
    }
    if (written < n) {
      // A full disk: reported, and the rest of the transfer is received but not written.
      ReportError(ftpeLocalFileWrite);
      CloseLocalFile();
    }
  }
  Info(ftpiProgress, std::string());
}

// A close that carries an error (a reset) is a failure of the data connection, even when the
// last read still finds data that came before it.
bool TVelaFtp::DataClosedInError(TObject* Sender) {
  const std::uint16_t closeError = DataSocket->SockError;
  const std::uint64_t serial = Serial;
  if (DataSocket->OnSockRead) DataSocket->OnSockRead(Sender);
  if (serial != Serial) return true;
  if (closeError != 0 && !AbortRequested) {
    FatalError(ftpeDataConnection);
    return true;
  }
  return false;
}

void TVelaFtp::ListingClosed(TObject* Sender) {
  const std::uint64_t serial = Serial;
  if (DataClosedInError(Sender) || serial != Serial || !TransferActive) return;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  CloseDataSockets();
  Info(ftpiListingReady, "Listing ready");
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}

void TVelaFtp::TransferClosed(TObject* Sender) {
  const std::uint64_t serial = Serial;
  if (DataClosedInError(Sender) || serial != Serial || !TransferActive || StoreInProgress) return;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  CloseDataSockets();
  CloseLocalFile();
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}

void TVelaFtp::StoreData(TObject*) {
  if (!TransferActive || DataAccepted || StoreInProgress) return;
  AbortRequested = false;
  if (!TakeDataConnection()) return;
  BytesTransferred = 0;
  BeginTick = GetTickCount();
  TransferTime = 0;
  const std::uint64_t serial = Serial;
  struct stat st {};
  const std::int64_t size = LocalFileOpen && fstat(LocalFileHandle, &st) == 0 ? st.st_size : 0;
  Info(ftpiTransferSize, std::to_string(size));
  if (serial != Serial) return;
  StoreInProgress = true;
  std::int64_t remaining = size;
  while (remaining > 0) {
    if (AbortRequested) {
      Success = false;
      break;
    }
    const int block = remaining < kChunkSize ? static_cast<int>(remaining) : kChunkSize;
    int got = 0;
    while (got < block && LocalFileOpen) {
      const ssize_t r = ::read(LocalFileHandle, TransferBuffer + got, static_cast<std::size_t>(block - got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<int>(r);
    }
    if (got < block) {
      StoreInProgress = false;
      EndStoreAfterReadFailure();
      return;
    }
    BytesTransferred += block;
    remaining -= block;
    if (!SendBlock(TransferBuffer, block, serial)) {
      StoreInProgress = false;
      return;
    }
    Info(ftpiProgress, std::string());
    TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
    if (serial != Serial) {
      StoreInProgress = false;
      return;
    }
  }
  StoreInProgress = false;
  // Closing the data connection is how the server learns that the file is complete.
  CloseDataSockets();
  CloseLocalFile();
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}

// Sends one block, letting the loop run between attempts (the stop button, the control
// connection). False when the transfer must stop at once (teardown or data failure).
bool TVelaFtp::SendBlock(const char* block, int size, std::uint64_t serial) {
  int sent = 0;
  bool firstPass = true;
  while (sent < size) {
    if (firstPass) {
      MessageLoop::Current().ProcessMessages();
    } else {
      MessageLoop::Current().WaitMessage(100);  // the socket is full: wait, don't spin
    }
    if (ShuttingDown || serial != Serial) return false;
    if (AbortRequested) return true;  // the caller stops before the next block
    const int n = DataSocket->SockSend(block + sent, size - sent);
    sent += n;
    if (DataSocket->SockError != 0) {
      if (AbortRequested) return true;
      FatalError(ftpeDataConnection);
      return false;
    }
    firstPass = n > 0;
  }
  return true;
}

// A read failure of the local file ends the store: the data connection is closed (the
// server keeps what it got) and the operation ends with the final reply, Success False.
void TVelaFtp::EndStoreAfterReadFailure() {
  ReportError(ftpeLocalFileRead);
  CloseLocalFile();
  CloseDataSockets();
  Success = false;
  DataFinished = true;
  ArmFinalReplyWait();
  TryFinishTransfer();
}

void TVelaFtp::DataSideFinished() {
  DataFinished = true;
  DeadlineDataConnect = 0;
  ArmFinalReplyWait();
  TryFinishTransfer();
}

void TVelaFtp::TryFinishTransfer() {
  if (!TransferActive || DonePosted) return;
  if (!DataFinished || !FinalReplySeen || AbortReplyPosition > 0) return;
  DonePosted = true;
  PostDone();
}

void TVelaFtp::CloseDataSockets() {
  DataSocket->SockClose();
  ListenSocket->SockClose();
}

// Everything a transfer holds: both data sockets and the local file; a download that never
// received anything leaves no file of its own behind.
void TVelaFtp::DropTransfer() {
  CloseDataSockets();
  CloseLocalFile();
  DiscardUntouchedDownload();
}

void TVelaFtp::CloseLocalFile() {
  if (!LocalFileOpen) return;
  LocalFileOpen = false;
  const int result = ::close(LocalFileHandle);
  LocalFileHandle = -1;
  if (result != 0 && LocalFileWriting && errno != EINTR) ReportError(ftpeLocalFileWrite);
}

void TVelaFtp::DiscardUntouchedDownload() {
  if (LocalFileCreated && !LocalFileTruncated) ::unlink(LocalFile.c_str());
  LocalFileCreated = false;
}

bool TVelaFtp::OpenLocalFileForReceive() {
  struct stat st {};
  const bool existed = ::stat(LocalFile.c_str(), &st) == 0;
  const int fd = ::open(LocalFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  LocalFileHandle = fd;
  LocalFileOpen = true;
  LocalFileWriting = true;
  LocalFileCreated = !existed;
  LocalFileTruncated = false;
  return true;
}

bool TVelaFtp::OpenLocalFileForStore() {
  // Opened for reading and writing, as the store has always done: a read-only local file
  // is refused.
  const int fd = ::open(LocalFile.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  LocalFileHandle = fd;
  LocalFileOpen = true;
  LocalFileWriting = false;
  LocalFileCreated = false;
  LocalFileTruncated = false;
  return true;
}

// Abort: Telnet IP as data, Telnet DM as urgent data, then "ABOR". No DM follows the line:
// servers that do not strip Telnet codes would read it as the start of the next command.
// Then this side closes its end of the data connection itself, because some servers only
// look at the control connection once the transfer has finished; the operation ends when
// the replies owed to the transfer and to ABOR have both come.
void TVelaFtp::Abort() {
  if (AbortRequested || !Connected) return;
  AbortRequested = true;
  const bool aborting = TransferActive;
  if (aborting) TransferAborted = true;
  // Pressed while a listing or transfer is still on its way (TYPE, PORT): it never starts.
  const bool transferOperation = CurrentOperation == opReceiveFile || CurrentOperation == opStoreFile ||
                                 CurrentOperation == opGetListing;
  if (!aborting && Busy && transferOperation) AbortBeforeTransfer = true;
  static const char kInterrupt[] = {'\xFF', '\xF4'};
  static const char kSynch[] = {'\xFF', '\xF2'};
  if (!SendAbortBytes(kInterrupt, 2, false)) return;
  if (!SendAbortBytes(kSynch, 2, true)) return;
  SendLine("ABOR");
  if (ShuttingDown || !Connected) return;
  AbortReplyPosition = RepliesOwed;
  if (AbortReplyPosition > 0) ArmAbortWait();
  if (aborting && TransferActive && !StoreInProgress && !DataFinished) AbortCloseDataSide();
}

bool TVelaFtp::SendAbortBytes(const char* bytes, int count, bool urgent) {
  const std::uint64_t serial = Serial;
  int sent = 0;
  while (sent < count) {
    if (ShuttingDown || serial != Serial) return false;
    const int n = urgent ? SockSendUrgent(bytes + sent, count - sent) : SockSend(bytes + sent, count - sent);
    sent += n;
    if (CheckSocketError()) return false;
    if (n == 0) MessageLoop::Current().WaitMessage(100);
  }
  return !ShuttingDown && serial == Serial;
}

// The transfer command is not sent; the operation ends as aborted once ABOR is answered.
void TVelaFtp::EndTransferAbortedBeforeStart(TCurrentOperation op) {
  AbortBeforeTransfer = false;
  DropTransfer();
  Success = false;
  TransferOperation = op;
  TransferActive = true;
  TransferAborted = true;
  DonePosted = false;
  DataFinished = true;
  FinalReplySeen = true;
  ControlState = 100;
  TryFinishTransfer();
}

void TVelaFtp::AbortCloseDataSide() {
  DropTransfer();
  if (DataAccepted) TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  const std::uint64_t serial = Serial;
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}
