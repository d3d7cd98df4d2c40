// Abort: the stop button. Telnet IP as data, Telnet DM as urgent data, then "ABOR"; the
// running listing or transfer, if any, ends as stopped (TFtpTransfer::Stop), and the reply
// owed to ABOR is taken out of the reply stream so that it never answers a later command.
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"

using namespace platform;

// No DM follows the line: servers that do not strip Telnet codes would read it as the
// start of the next command. Then this side closes its end of the data connection itself,
// because some servers only look at the control connection once the transfer has ended;
// the operation ends when the transfer's replies and ABOR's are all in.
void TVelaFtp::Abort() {
  if (AbortRequested || !Connected) return;
  AbortRequested = true;
  // Recorded first: sending below pumps the loop, and the store's send loop must see it.
  Transfer->State.RecordStop();
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
  if (Replies.AborSent()) Deadlines.Arm(TAwaited::AbortReply, GuardTimes.AbortReplies);
  Transfer->Stop();
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

// Takes a reply out of the stream when it is owed to ABOR, or to the NOOP sent in its
// place; true when it was (the state machine must not see it).
bool TVelaFtp::TakeAbortReply(const TFtpReply& Reply) {
  switch (Replies.Take(Reply)) {
    case TAbortReplies::TVerdict::NotOwed:
      return false;
    case TAbortReplies::TVerdict::Taken:
      return true;
    case TAbortReplies::TVerdict::AborAnswered:
      // ABOR's own reply: it ends the stopped transfer's wait, nothing else.
      ForgetAbort();
      Transfer->TryFinish();
      return true;
    case TAbortReplies::TVerdict::NoopAnswered:
      ForgetAbort();
      Transfer->EndAfterResync();
      return true;
  }
  return true;
}

// A stopped transfer whose data side is over still waits for replies a short while after
// ABOR: its own final reply and ABOR's. Some servers end the transfer with one reply and
// never answer ABOR itself, others answer it late, and some answer neither (only a last
// preliminary reply). NOOP's reply then marks the point after which replies answer this
// side's commands again.
void TVelaFtp::StartAbortResync() {
  if (Transfer->State.phase() != TransferState::Phase::DataEnded || !Replies.AwaitingAbor() || Replies.Resyncing()) {
    return;
  }
  Replies.NoopSent();
  SendLine("NOOP");
  if (!ShuttingDown && Connected) Deadlines.Arm(TAwaited::AbortReply, GuardTimes.AbortReplies);
}

void TVelaFtp::ForgetAbort() {
  Replies.Forget();
  AbortRequested = false;
  Deadlines.Disarm(TAwaited::AbortReply);
  Deadlines.Disarm(TAwaited::AbortResync);
}
