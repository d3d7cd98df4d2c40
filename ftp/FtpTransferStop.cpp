// The end of a transfer that does not end by itself: the stop button (after ABOR has gone),
// NOOP's reply after a stop, and the bounded waits of a running transfer.
#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"
#include "ftp/StoreSender.h"

using namespace platform;

void TFtpTransfer::Stop() {
  const TransferState::Phase phase = State.phase();
  if (State.Storing()) {
    Store().End();  // stopped before its next block
  } else if (Channel().Connecting()) {
    EndStoppedBeforeStart();  // its data connection was still being made
  } else if (phase == TransferState::Phase::Waiting || phase == TransferState::Phase::Open) {
    AbortCloseDataSide();
  } else {
    TryFinish();  // stopped after its data side ended: only the replies remain
  }
}

// Stopped while TYPE or PORT were on their way: the transfer command is not sent, and the
// operation ends as failed once ABOR is answered.
void TFtpTransfer::EndStoppedBeforeStart() {
  Drop();
  ftp_.ControlState = csIdle;
  State.FinalReply();
  DataSideFinished();
}

// The client ends the data side of a stopped listing or transfer. It reports the end of a
// data connection only when there was one.
void TFtpTransfer::AbortCloseDataSide() {
  const bool hadConnection = State.DataAccepted();
  const bool listing = State.kind() == TransferKind::Listing;
  Drop();
  if (hadConnection) {
    NoteTime();
    const std::uint64_t serial = ftp_.Serial;
    if (listing) ftp_.Info(ftpiListingReady, "Listing ready");
    if (serial != ftp_.Serial) return;
    ftp_.Info(ftpiTransferDone, "Transfer done");
    if (serial != ftp_.Serial) return;
  }
  DataSideFinished();
}

void TFtpTransfer::EndAfterResync() {
  if (State.phase() == TransferState::Phase::DataEnded && !State.FinalReplySeen()) {
    // The stopped transfer never got its final reply: it is over all the same, failed.
    ftp_.ControlState = csIdle;
    TakeFinalReply(false);
    return;
  }
  TryFinish();
}

bool TFtpTransfer::SampleMovement() {
  const bool moving = ftp_.BytesTransferred != stallBytes_;
  stallBytes_ = ftp_.BytesTransferred;
  return moving;
}

void TFtpTransfer::Tick(std::uint32_t now, bool moving) {
  if (!State.Active()) return;
  const bool waiting = State.phase() == TransferState::Phase::Waiting;
  const bool open = State.phase() == TransferState::Phase::Open;
  TReplyDeadlines& deadlines = ftp_.Deadlines;
  if (deadlines.Expired(TAwaited::DataConnect, now) && waiting) {
    ftp_.FatalError(ftpeTimeout);  // the server never opened the data connection
    return;
  }
  if (deadlines.Expired(TAwaited::Reply426, now)) {
    if (moving && open) {
      deadlines.Arm(TAwaited::Reply426, 1);
    } else {
      EndAfterSilentReply426();
    }
    return;
  }
  if (deadlines.Expired(TAwaited::FinalReply, now)) {
    ftp_.FatalError(ftpeTimeout);  // the data side ended but the final reply never came
    return;
  }
  if (open) {
    if (!moving) Store().Nudge();
    stallSeconds_ = moving ? 0 : stallSeconds_ + 1;
    if (stallSeconds_ >= ftp_.GuardTimes.Stall) ftp_.FatalError(ftpeTimeout);
  }
}

// A 426 outside an abort with nothing after it: the transfer failed; the connection stays.
// The operation is over before the report, whose message box runs the loop.
void TFtpTransfer::EndAfterSilentReply426() {
  ftp_.Deadlines.Disarm(TAwaited::Reply426);
  Drop();
  ftp_.ControlState = csIdle;
  const bool finishing = State.phase() != TransferState::Phase::Finished;
  State.Finish();
  const std::uint64_t serial = ftp_.Serial;
  ftp_.ReportError(ftpeDataConnection);
  if (serial != ftp_.Serial) return;
  ftp_.Info(ftpiCommandFailed, "");
  if (finishing) ftp_.PostDone();
}
