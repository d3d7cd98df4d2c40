// The data side of a listing or transfer: the transfer command and the data handlers,
// listing text cut into lines (TListingReader), received files written as they come, and
// the joining of the data side with the final reply. Data connections are made by the data
// channel (DataChannel.cpp), stored files sent by the store sender (StoreSender.cpp).
#include <cstring>

#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"
#include "ftp/ListingParser.h"
#include "ftp/StoreSender.h"

using namespace platform;

// Installs the data handlers and sends the transfer command. In active mode the accept
// handler is switched on only once the command has been handed to the socket: a store must
// not begin before the server has been told STOR. In passive mode the data connection is
// already open; under PROT P its handshake begins once the command has gone (SendLine
// hands it to the socket at once; the ClientHello goes at the next dispatch): some servers
// take bytes that reach a data connection before its command for the client's end, and
// reset it.
void TFtpTransfer::Start(TransferKind kind) {
  if (State.Stopped()) {
    EndStoppedBeforeStart();
    return;
  }
  if (kind == TransferKind::Receive && AskRest()) return;  // RETR follows REST's reply
  // The last listing stays until a new one is really asked for.
  if (kind == TransferKind::Listing) {
    ClearListing();
    ftp_.ListingFactsHold = true;  // of the folder PWD just named
  }
  listing_.Clear();
  listingRefusal_ = ftpeNone;
  emptyCloseDeferred_ = false;
  Store().Reset();
  TVelaSocket& data = Channel().Data();
  data.OnSockWrite = nullptr;
  if (kind == TransferKind::Store) {
    data.OnSockRead = nullptr;
    data.OnSockClose = [this](TObject*) { TransferClosed(); };
  } else if (kind == TransferKind::Listing) {
    data.OnSockRead = [this](TObject*) { ListingRead(); };
    data.OnSockClose = [this](TObject*) { ListingClosed(); };
  } else {
    data.OnSockRead = [this](TObject*) { FileRead(); };
    data.OnSockClose = [this](TObject*) { TransferClosed(); };
  }
  // Waiting from before the command is handed over: a stop pressed meanwhile stops a
  // transfer that is under way.
  State.CommandSent();
  ftp_.ClearDeadlines();
  stallBytes_ = -1;
  stallSeconds_ = 0;
  const bool passive = Channel().Passive();
  if (passive) {
    State.DataTaken();
    BeginDataCounters();
  } else {
    ftp_.Deadlines.Arm(TAwaited::DataConnect, ftp_.GuardTimes.DataConnect);
  }
  const std::uint64_t serial = ftp_.Serial;
  const TTransferStates states = TransferStatesOf(kind);
  ftp_.SendCommand(TransferVerb(kind, ftp_.Features.MachineListing()) +
                       (kind == TransferKind::Listing ? std::string() : ftp_.RemoteFile),
                   states.Command);
  ftp_.Deadlines.Disarm(TAwaited::Reply);  // a transfer's replies have waits of their own
  if (passive) {
    if (serial == ftp_.Serial && Channel().TlsPending()) Channel().StartTls();
    return;
  }
  if (serial != ftp_.Serial || ftp_.ShuttingDown || State.phase() != TransferState::Phase::Waiting) return;
  if (kind == TransferKind::Store) {
    Channel().AwaitAccept([this] { Store().DataAccepted(); });
  } else {
    Channel().AwaitAccept([this] { DataAccepted(); });
  }
}

// The counters of a data connection that has just opened.
void TFtpTransfer::BeginDataCounters() {
  ftp_.BytesTransferred = 0;
  ftp_.Success = true;
  StartClock();
  ftp_.AbortRequested = false;
  closeNotify_ = false;
}

void TFtpTransfer::StartClock() {
  beginTick_ = GetTickCount();
  ftp_.TransferTime = 0;
}

void TFtpTransfer::NoteTime() { ftp_.TransferTime = static_cast<std::int64_t>(GetTickCount() - beginTick_); }

// Active mode, a listing or a receive: the server connected.
void TFtpTransfer::DataAccepted() {
  if (State.phase() != TransferState::Phase::Waiting) return;
  if (!Channel().Take()) return;
  BeginDataCounters();
  if (ftp_.Features.ProtectData) Channel().StartTls();
}

// One read of the data connection into the buffer; -1 when it failed.
int TFtpTransfer::ReceiveChunk() {
  TVelaSocket& data = Channel().Data();
  const int n = data.SockReceive(buffer_, kChunkSize);
  if (data.SockError == 0) return n;
  DataFailed();
  return -1;
}

void TFtpTransfer::ListingRead() {
  const std::uint64_t serial = ftp_.Serial;
  const int n = ReceiveChunk();
  if (n < 0) return;
  const std::size_t length = strnlen(buffer_, static_cast<std::size_t>(n));
  if (length == 0) return;
  ftp_.BytesTransferred += static_cast<std::int64_t>(length);
  const bool goOn = listing_.Append(std::string_view(buffer_, length), [this, serial](std::string line) {
    NoteTime();
    ftp_.Info(ftpiProgress, line);
    if (serial != ftp_.Serial) return false;
    AddListingLine(std::move(line));
    return serial == ftp_.Serial;
  });
  if (!goOn && listing_.TooLarge() && serial == ftp_.Serial && listingRefusal_ == ftpeNone) {
    // A listing that would not end: it is stopped as the stop button stops one, and
    // refused once its replies are in.
    listingRefusal_ = ftpeListingTooLarge;
    ftp_.Abort();
  }
}

// The line is parsed first and then kept, moved rather than copied: a large listing
// costs one copy of each line less.
void TFtpTransfer::AddListingLine(std::string line) {
  try {
    const std::uint64_t serial = ftp_.Serial;
    ftp_.Info(ftpiListingLine, line);
    if (serial != ftp_.Serial) return;  // the owner's handler ended the session
    ListingEntry entry;
    if (ftp_.Features.MachineListing() ? ParseMlsdLine(line, entry) : ParseListingLine(ftp_.ServerType, line, entry)) {
      std::vector<std::string>& names = entry.IsDirectory ? ftp_.DirectoryNames : ftp_.FileNames;
      std::vector<ListingFacts>& facts = entry.IsDirectory ? ftp_.DirectoryFacts : ftp_.FileFacts;
      names.push_back(std::move(entry.Name));
      try {
        facts.push_back(entry.Facts);
      } catch (...) {
        names.pop_back();  // the two lists stay side by side
        throw;
      }
    }
    ftp_.ListingLines.push_back(std::move(line));
  } catch (...) {
    // One bad line costs only its own entry.
  }
}

void TFtpTransfer::FileRead() {
  const std::uint64_t serial = ftp_.Serial;
  const int n = ReceiveChunk();
  if (n <= 0) return;
  ftp_.BytesTransferred += n;
  NoteTime();
  // Data came: the download is on, whether or not its 1xx reply is in yet.
  ClaimLocalFile();
  // Written before the progress report, whose handler may abort: what was counted is on disk.
  if (const int error = LocalFileHandle.IsOpen() ? LocalFileHandle.Write(buffer_, n) : 0; error != 0) {
    // A full disk: the rest of the transfer is received but not written. The file is
    // closed before the report, whose message box runs the loop: the chunks that arrive
    // meanwhile must find nothing to write (and nothing more to report).
    LocalFileHandle.Close();
    ftp_.ReportLocalError(ftpeLocalFileWrite, error);
    if (serial != ftp_.Serial) return;
  }
  ftp_.Info(ftpiProgress, std::string());
}

// A close that carries an error (a reset) is a failure of the data connection, even when the
// last read still finds data that came before it.
bool TFtpTransfer::DataClosedInError() {
  TVelaSocket& data = Channel().Data();
  const std::uint16_t closeError = data.SockError;
  const std::uint64_t serial = ftp_.Serial;
  if (data.OnSockRead) data.OnSockRead(&data);
  if (serial != ftp_.Serial) return true;
  if (closeError != 0 && !State.Stopped()) {
    DataFailed();
    return true;
  }
  return false;
}

// A failure of the data connection (a reset, a read that fails) outside a stop. One that
// brought nothing before the transfer command was answered may be the server's way of
// refusing the command: the reply decides (TDataChannel::AwaitReplyAfterFailure).
void TFtpTransfer::DataFailed() {
  if (State.Stopped() || Channel().FailureBeforeReply() != ftpeNone) return;
  if (ftp_.BytesTransferred == 0 && Channel().AwaitReplyAfterFailure(ftpeDataConnection)) return;
  ftp_.FatalError(ftpeDataConnection);
}

void TFtpTransfer::ListingClosed() {
  const std::uint64_t serial = ftp_.Serial;
  if (DataClosedInError() || serial != ftp_.Serial || State.phase() != TransferState::Phase::Open) return;
  NoteTime();
  closeNotify_ = ftp_.Features.ProtectData && Channel().Data().TlsInfo.PeerCloseNotify;
  if (DeferEmptyClose()) return;
  Channel().Close();
  ftp_.Info(ftpiListingReady, "Listing ready");
  ftp_.Info(ftpiTransferDone, "Transfer done");
  if (serial != ftp_.Serial) return;
  DataSideFinished();
}

void TFtpTransfer::TransferClosed() {
  const std::uint64_t serial = ftp_.Serial;
  if (DataClosedInError() || serial != ftp_.Serial || State.phase() != TransferState::Phase::Open) return;
  if (State.Storing()) {
    // Only this side ends a store's data connection: the server closing it first failed it.
    DataFailed();
    return;
  }
  NoteTime();
  closeNotify_ = ftp_.Features.ProtectData && Channel().Data().TlsInfo.PeerCloseNotify;
  if (DeferEmptyClose()) return;
  Channel().Close();
  CloseLocalFile();
  ftp_.Info(ftpiTransferDone, "Transfer done");
  if (serial != ftp_.Serial) return;
  DataSideFinished();
}

// A data connection that closed with nothing on it before the transfer command was answered
// may be the server refusing the command (proftpd closes the passive connection it had
// accepted, then says 550): nothing is said of the data side until the reply has decided
// between an empty file (or listing) and a refusal.
bool TFtpTransfer::DeferEmptyClose() {
  if (ftp_.BytesTransferred != 0 || State.PreliminaryReplySeen() || State.FinalReplySeen()) return false;
  Channel().Close();
  emptyCloseDeferred_ = true;
  ftp_.Deadlines.Arm(TAwaited::FinalReply, ftp_.GuardTimes.FinalReply);
  return true;
}

// The reply accepted the command: the empty data side ends as it would have. False when
// the connection ended meanwhile.
bool TFtpTransfer::EndDeferredDataSide() {
  if (!emptyCloseDeferred_) return true;
  emptyCloseDeferred_ = false;
  const std::uint64_t serial = ftp_.Serial;
  if (State.kind() == TransferKind::Listing) ftp_.Info(ftpiListingReady, "Listing ready");
  if (State.kind() == TransferKind::Receive) CloseLocalFile();
  ftp_.Info(ftpiTransferDone, "Transfer done");
  if (serial != ftp_.Serial) return false;
  DataSideFinished();
  return serial == ftp_.Serial;
}

void TFtpTransfer::DataSideFinished() {
  State.EndData();
  ftp_.Deadlines.Disarm(TAwaited::DataConnect);
  if (!State.FinalReplySeen()) ftp_.Deadlines.Arm(TAwaited::FinalReply, ftp_.GuardTimes.FinalReply);
  TryFinish();
}

// The done notification of a listing or transfer, once its data side and its final reply
// are both in, in either order, and nothing is owed to an ABOR any more. When only ABOR's
// reply is missing, the wait for it is short (see TVelaFtp::StartAbortResync).
void TFtpTransfer::TryFinish() {
  const bool stopPending = ftp_.Replies.Pending();
  if (stopPending && State.phase() == TransferState::Phase::DataEnded) {
    if (!ftp_.Deadlines.Armed(TAwaited::AbortResync) && !ftp_.Replies.Resyncing()) {
      ftp_.Deadlines.Arm(TAwaited::AbortResync, ftp_.GuardTimes.AbortResync);
    }
    return;
  }
  if (!State.ReadyToFinish() || stopPending) return;
  if (State.CutShort()) ftp_.Success = false;
  State.Finish();
  const std::uint64_t serial = ftp_.Serial;
  if (State.kind() == TransferKind::Receive) SettleDownload();
  if (State.kind() == TransferKind::Listing) SettleListing();
  if (State.kind() == TransferKind::Store) Store().Settle();
  if (serial != ftp_.Serial) return;
  ftp_.PostDone();
}

void TFtpTransfer::ClearListing() {
  ftp_.ListingLines.clear();
  ftp_.FileNames.clear();
  ftp_.DirectoryNames.clear();
  ftp_.FileFacts.clear();
  ftp_.DirectoryFacts.clear();
}

// The end of a listing, its data side over and its final reply in. One that went past its
// bound, or whose TLS data connection ended without close_notify (cut short, for all anyone
// can tell), is refused whole, as a download would be: none of its names is taken.
void TFtpTransfer::SettleListing() {
  FtpError refusal = listingRefusal_;
  if (refusal == ftpeNone && ftp_.Success && ftp_.Features.ProtectData && !closeNotify_) {
    refusal = ftpeListingIncomplete;
  }
  if (refusal == ftpeNone) return;
  ClearListing();
  ftp_.ReportError(refusal);
}

void TFtpTransfer::Drop() {
  Channel().Reset();
  CloseLocalFile();
  ForgetLocalFile();
}

void TFtpTransfer::CloseLocalFile() {
  if (const int error = LocalFileHandle.Close(); error != 0) ftp_.ReportLocalError(ftpeLocalFileWrite, error);
}

// The download is on (data came): a target written in place is emptied now, and only
// now, so that a refused, failed or stopped download that brought nothing leaves an
// existing file as it was.
void TFtpTransfer::ClaimLocalFile() {
  const int error = LocalFileHandle.Claim();
  if (error == 0) return;
  LocalFileHandle.Close();  // before the report, as after a failed write
  ftp_.ReportLocalError(ftpeLocalFileWrite, error);
}
