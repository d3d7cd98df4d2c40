// Data side: the transfer command and the data handlers, listing text cut into lines,
// received files written as they come, and the joining of the data side with the final
// reply. Data connections are made by FtpDataConnection.cpp, stored files sent by
// FtpStore.cpp.
#include <cstring>

#include "ftp/Ftp.h"
#include "ftp/ListingParser.h"
#include "ftp/ReplyParsing.h"
#include "platform/WinsockErrors.h"

using namespace platform;

// Installs the data handlers and sends the transfer command. In active mode the accept
// handler is switched on only once the command has been handed to the socket: a store must
// not begin before the server has been told STOR. In passive mode the data connection is
// already open; under PROT P its handshake begins once the command has gone (SendLine
// hands it to the socket at once; the ClientHello goes at the next dispatch): some servers
// take bytes that reach a data connection before its command for the client's end, and
// reset it.
void TVelaFtp::StartTransfer(TransferKind kind) {
  if (Transfer.Stopped()) {
    EndTransferStoppedBeforeStart();
    return;
  }
  if (kind == TransferKind::Receive && AskRest()) return;  // RETR follows REST's reply
  if (kind == TransferKind::Listing) {
    // The last listing stays until a new one is really asked for.
    ListingLines.clear();
    FileNames.clear();
    DirectoryNames.clear();
    FileFacts.clear();
    DirectoryFacts.clear();
    ListingFactsHold = true;  // of the folder PWD just named
  }
  ListingRemainder.clear();
  SkippingListingLine = false;
  Store.Started = false;
  Store.ServerReady = false;
  DataSocket->OnSockWrite = nullptr;
  if (kind == TransferKind::Store) {
    DataSocket->OnSockRead = nullptr;
    DataSocket->OnSockClose = [this](TObject* s) { TransferClosed(s); };
  } else if (kind == TransferKind::Listing) {
    DataSocket->OnSockRead = [this](TObject* s) { ListingRead(s); };
    DataSocket->OnSockClose = [this](TObject* s) { ListingClosed(s); };
  } else {
    DataSocket->OnSockRead = [this](TObject* s) { FileRead(s); };
    DataSocket->OnSockClose = [this](TObject* s) { TransferClosed(s); };
  }
  // Waiting from before the command is handed over: a stop pressed meanwhile stops a
  // transfer that is under way.
  Transfer.CommandSent();
  ClearDeadlines();
  StallBytes = -1;
  StallSeconds = 0;
  const bool passive = DataSetup != TDataSetup::Port;
  if (passive) {
    Transfer.DataTaken();
    BeginDataCounters();
  } else {
    ArmDataConnectWait();
  }
  const std::uint64_t serial = Serial;
  const TTransferStates states = TransferStatesOf(kind);
  SendCommand(TransferVerb(kind, MachineListing()) + (kind == TransferKind::Listing ? std::string() : RemoteFile),
              states.Command);
  DeadlineReply = 0;  // a transfer's replies have waits of their own
  if (passive) {
    if (serial == Serial && DataTlsPending) StartDataTls();
    return;
  }
  if (serial != Serial || ShuttingDown || Transfer.phase() != TransferState::Phase::Waiting) return;
  if (kind == TransferKind::Store) {
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

// The counters of a data connection that has just opened.
void TVelaFtp::BeginDataCounters() {
  BytesTransferred = 0;
  Success = true;
  BeginTick = GetTickCount();
  TransferTime = 0;
  AbortRequested = false;
  DataCloseNotify = false;
}

void TVelaFtp::AcceptData(TObject*) {
  if (Transfer.phase() != TransferState::Phase::Waiting) return;
  if (!TakeDataConnection()) return;
  BeginDataCounters();
  if (ProtectData) StartDataTls();
}

void TVelaFtp::ListingRead(TObject*) {
  const std::uint64_t serial = Serial;
  const int n = DataSocket->SockReceive(TransferBuffer, kChunkSize);
  if (DataSocket->SockError != 0) {
    if (!Transfer.Stopped()) FatalError(ftpeDataConnection);
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
    AddListingLine(std::move(line));
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

// The line is parsed first and then kept, moved rather than copied: a large listing
// costs one copy of each line less.
void TVelaFtp::AddListingLine(std::string line) {
  try {
    const std::uint64_t serial = Serial;
    Info(ftpiListingLine, line);
    if (serial != Serial) return;  // the owner's handler ended the session
    ListingEntry entry;
    if (MachineListing() ? ParseMlsdLine(line, entry) : ParseListingLine(ServerType, line, entry)) {
      std::vector<std::string>& names = entry.IsDirectory ? DirectoryNames : FileNames;
      std::vector<ListingFacts>& facts = entry.IsDirectory ? DirectoryFacts : FileFacts;
      names.push_back(std::move(entry.Name));
      try {
        facts.push_back(entry.Facts);
      } catch (...) {
        names.pop_back();  // the two lists stay side by side
        throw;
      }
    }
    ListingLines.push_back(std::move(line));
  } catch (...) {
    // One bad line costs only its own entry.
  }
}

void TVelaFtp::FileRead(TObject*) {
  const std::uint64_t serial = Serial;
  const int n = DataSocket->SockReceive(TransferBuffer, kChunkSize);
  if (DataSocket->SockError != 0) {
    if (!Transfer.Stopped()) FatalError(ftpeDataConnection);
    return;
  }
  if (n == 0) return;
  BytesTransferred += n;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  // Data came: the download is on, whether or not its 1xx reply is in yet.
  ClaimLocalFile();
  // Written before the progress report, whose handler may abort: what was counted is on disk.
  if (const int error = LocalFileHandle.IsOpen() ? LocalFileHandle.Write(TransferBuffer, n) : 0; error != 0) {
    // A full disk: the rest of the transfer is received but not written. The file is
    // closed before the report, whose message box runs the loop: the chunks that arrive
    // meanwhile must find nothing to write (and nothing more to report).
    LocalFileHandle.Close();
    ReportLocalError(ftpeLocalFileWrite, error);
    if (serial != Serial) return;
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
  if (closeError != 0 && !Transfer.Stopped()) {
    FatalError(ftpeDataConnection);
    return true;
  }
  return false;
}

void TVelaFtp::ListingClosed(TObject* Sender) {
  const std::uint64_t serial = Serial;
  if (DataClosedInError(Sender) || serial != Serial || Transfer.phase() != TransferState::Phase::Open) return;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  CloseDataSockets();
  Info(ftpiListingReady, "Listing ready");
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}

void TVelaFtp::TransferClosed(TObject* Sender) {
  const std::uint64_t serial = Serial;
  if (DataClosedInError(Sender) || serial != Serial || Transfer.phase() != TransferState::Phase::Open) return;
  if (Transfer.Storing()) {
    // Only this side ends a store's data connection: the server closing it first failed it.
    FatalError(ftpeDataConnection);
    return;
  }
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  DataCloseNotify = ProtectData && DataSocket->TlsInfo.PeerCloseNotify;
  CloseDataSockets();
  CloseLocalFile();
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}

void TVelaFtp::DataSideFinished() {
  Transfer.EndData();
  DeadlineDataConnect = 0;
  ArmFinalReplyWait();
  TryFinishTransfer();
}

// The done notification of a listing or transfer, once its data side and its final reply
// are both in, in either order, and nothing is owed to an ABOR any more. When only ABOR's
// reply is missing, the wait for it is short (see StartAbortResync).
void TVelaFtp::TryFinishTransfer() {
  const bool stopPending = AbortReplyPosition > 0 || AbortResyncing;
  if (stopPending && Transfer.phase() == TransferState::Phase::DataEnded) {
    ArmAbortResyncWait();
    return;
  }
  if (!Transfer.ReadyToFinish() || stopPending) return;
  if (Transfer.CutShort()) Success = false;
  Transfer.Finish();
  if (Transfer.kind() == TransferKind::Receive) {
    const std::uint64_t serial = Serial;
    SettleDownload();
    if (serial != Serial) return;
  } else if (Transfer.kind() == TransferKind::Store) {
    SettleStore();
  }
  PostDone();
}

void TVelaFtp::CloseDataSockets() {
  DataSocket->SockClose();
  ListenSocket->SockClose();
}

// Everything a transfer holds: both data sockets and the local file; a download that did
// not end whole leaves its target as it was (see TLocalFile::Forget).
void TVelaFtp::DropTransfer() {
  PassiveConnecting = false;
  DataTlsPending = false;
  DataTlsFailed = false;
  CloseDataSockets();
  CloseLocalFile();
  ForgetLocalFile();
}

void TVelaFtp::CloseLocalFile() {
  if (const int error = LocalFileHandle.Close(); error != 0) ReportLocalError(ftpeLocalFileWrite, error);
}

// The download is on (data came): a target written in place is emptied now, and only
// now, so that a refused, failed or stopped download that brought nothing leaves an
// existing file as it was.
void TVelaFtp::ClaimLocalFile() {
  const int error = LocalFileHandle.Claim();
  if (error == 0) return;
  LocalFileHandle.Close();  // before the report, as after a failed write
  ReportLocalError(ftpeLocalFileWrite, error);
}
