// Abort: the stop button. Telnet IP as data, Telnet DM as urgent data, then "ABOR"; the
// running listing or transfer, if any, ends as stopped, and the reply owed to ABOR is
// taken out of the reply stream so that it never answers a later command.
#include "ftp/Ftp.h"

using namespace platform;

// No DM follows the line: servers that do not strip Telnet codes would read it as the
// start of the next command. Then this side closes its end of the data connection itself,
// because some servers only look at the control connection once the transfer has ended;
// the operation ends when the transfer's replies and ABOR's are all in.
void TVelaFtp::Abort() {
  if (AbortRequested || !Connected) return;
  AbortRequested = true;
  // Recorded first: sending below pumps the loop, and the store's send loop must see it.
  Transfer.RecordStop();
  static const char kInterrupt[] = {'\xFF', '\xF4'};
  static const char kSynch[] = {'\xFF', '\xF2'};
  // Inside TLS there is no urgent data, and Telnet bytes would reach the server as part of
  // the next line: ABOR goes alone.
  if (!SockTlsActive()) {
    if (!SendAbortBytes(kInterrupt, 2, false)) return;
    if (!SendAbortBytes(kSynch, 2, true)) return;
  }
  SendLine("ABOR");
  if (ShuttingDown || !Connected) return;
  AbortReplyPosition = RepliesOwed;
  if (AbortReplyPosition > 0) ArmAbortWait();
  const TransferState::Phase phase = Transfer.phase();
  if (Transfer.Storing()) {
    EndStore();  // stopped before its next block
  } else if (PassiveConnecting) {
    EndTransferStoppedBeforeStart();  // its data connection was still being made
  } else if (phase == TransferState::Phase::Waiting || phase == TransferState::Phase::Open) {
    AbortCloseDataSide();
  } else {
    TryFinishTransfer();  // stopped after its data side ended: only the replies remain
  }
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

// Stopped while TYPE or PORT were on their way: the transfer command is not sent, and the
// operation ends as failed once ABOR is answered.
void TVelaFtp::EndTransferStoppedBeforeStart() {
  DropTransfer();
  ControlState = csIdle;
  Transfer.FinalReply();
  DataSideFinished();
}

// The client ends the data side of a stopped listing or transfer. It reports the end of a
// data connection only when there was one.
void TVelaFtp::AbortCloseDataSide() {
  const bool hadConnection = Transfer.DataAccepted();
  const bool listing = Transfer.kind() == TransferKind::Listing;
  DropTransfer();
  if (hadConnection) {
    TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
    const std::uint64_t serial = Serial;
    if (listing) Info(ftpiListingReady, "Listing ready");
    if (serial != Serial) return;
    Info(ftpiTransferDone, "Transfer done");
    if (serial != Serial) return;
  }
  DataSideFinished();
}

// Takes a reply out of the stream when it is owed to ABOR, or to the NOOP sent in its
// place; true when it was (the state machine must not see it).
bool TVelaFtp::TakeAbortReply(const TFtpReply& Reply) {
  if (AbortResyncing) {
    // Everything up to NOOP's own 200 belongs to the stop: late replies to the transfer
    // or to ABOR. Servers answer in order, so nothing after it is dropped.
    if (Reply.Code == 200) {
      ForgetAbort();
      RepliesOwed = 0;
      if (Transfer.phase() == TransferState::Phase::DataEnded && !Transfer.FinalReplySeen()) {
        // The stopped transfer never got its final reply: it is over all the same, failed.
        ControlState = csIdle;
        TakeTransferFinalReply(false);
        return true;
      }
      TryFinishTransfer();
    }
    return true;
  }
  if (!Reply.Final()) return false;
  if (RepliesOwed > 0) --RepliesOwed;
  if (AbortReplyPosition == 0 || --AbortReplyPosition > 0) return false;
  // ABOR's own reply: it ends the stopped transfer's wait, nothing else.
  ForgetAbort();
  TryFinishTransfer();
  return true;
}

// A stopped transfer whose data side is over still waits for replies a short while after
// ABOR: its own final reply and ABOR's. Some servers end the transfer with one reply and
// never answer ABOR itself, others answer it late, and some answer neither (only a last
// preliminary reply). NOOP's reply then marks the point after which replies answer this
// side's commands again.
void TVelaFtp::StartAbortResync() {
  if (Transfer.phase() != TransferState::Phase::DataEnded || AbortReplyPosition == 0 || AbortResyncing) return;
  AbortResyncing = true;
  SendLine("NOOP");
  if (!ShuttingDown && Connected) ArmAbortWait();
}

void TVelaFtp::ForgetAbort() {
  AbortReplyPosition = 0;
  AbortResyncing = false;
  AbortRequested = false;
  DeadlineAbort = DeadlineAbortResync = 0;
}
