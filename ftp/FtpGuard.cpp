// Bounded waits. Once connected, a one-second tick checks the moments where the component
// waits on the server with nothing else to end the wait: the greeting and the reply to
// every command outside a transfer (a server that stays silent is given up after a
// minute; any text it sends meanwhile restarts the wait; a greeting gets 20 seconds, text
// or not), the reply to QUIT and the close after it, the data connection after
// LIST/RETR/STOR, the final reply after the data side ended, anything after a 426 outside
// an abort, the replies owed to ABOR, and a data connection that moves nothing. A transfer
// that is still moving data is never cut short.
#include "ftp/Ftp.h"

using namespace platform;

namespace {

constexpr std::uintptr_t kGuardTimer = 1;

std::uint32_t SecondsFromNow(int seconds) {
  const std::uint32_t deadline = GetTickCount() + static_cast<std::uint32_t>(seconds) * 1000u;
  return deadline == 0 ? 1 : deadline;  // 0 means "not armed"
}

bool Expired(std::uint32_t deadline, std::uint32_t now) {
  return deadline != 0 && static_cast<std::int32_t>(now - deadline) >= 0;
}

}  // namespace

void TVelaFtp::StartGuard() {
  if (GuardRunning) return;
  GuardRunning = MessageLoop::Current().SetTimer(GuardWindow, kGuardTimer, 1000) != 0;
}

void TVelaFtp::StopGuard() {
  if (!GuardRunning) return;
  MessageLoop::Current().KillTimer(GuardWindow, kGuardTimer);
  GuardRunning = false;
}

void TVelaFtp::ClearDeadlines() {
  DeadlineReply = DeadlineQuit = DeadlineDataConnect = DeadlineFinalReply = Deadline426 = 0;
  if (AbortReplyPosition == 0 && !AbortResyncing) DeadlineAbort = DeadlineAbortResync = 0;
}

void TVelaFtp::ArmReplyWait() {
  DeadlineReply = SecondsFromNow(GuardTimes.Reply);
}

void TVelaFtp::ArmGreetingWait() {
  DeadlineReply = SecondsFromNow(GuardTimes.Greeting);
}

void TVelaFtp::ArmQuitReplyWait() {
  DeadlineQuit = SecondsFromNow(GuardTimes.QuitReply);
}

void TVelaFtp::ArmQuitWait() {
  DeadlineQuit = SecondsFromNow(GuardTimes.QuitClose);
}

void TVelaFtp::ArmDataConnectWait() {
  DeadlineDataConnect = SecondsFromNow(GuardTimes.DataConnect);
}

void TVelaFtp::ArmAbortWait() {
  DeadlineAbort = SecondsFromNow(GuardTimes.AbortReplies);
}

void TVelaFtp::ArmAbortResyncWait() {
  if (DeadlineAbortResync == 0 && !AbortResyncing) DeadlineAbortResync = SecondsFromNow(GuardTimes.AbortResync);
}

void TVelaFtp::ArmReply426Wait() {
  if (!Transfer.Stopped()) Deadline426 = SecondsFromNow(GuardTimes.Reply426);
}

void TVelaFtp::ArmFinalReplyWait() {
  if (!Transfer.FinalReplySeen()) DeadlineFinalReply = SecondsFromNow(GuardTimes.FinalReply);
}

void TVelaFtp::GuardTick() {
  if (!Connected) return;
  const std::uint32_t now = GetTickCount();
  const bool moving = BytesTransferred != StallBytes;
  StallBytes = BytesTransferred;

  if (Expired(DeadlineQuit, now)) {
    // The server ignores QUIT, or said goodbye but keeps the connection: close it from
    // this side.
    DeadlineQuit = 0;
    SockClose();
    EndConnectionFromServer();
    return;
  }
  if (AbortReplyPosition == 0 && !AbortResyncing) DeadlineAbort = DeadlineAbortResync = 0;
  if (Expired(DeadlineAbort, now)) {
    FatalError(ftpeTimeout);  // the server ignores the abort
    return;
  }
  if (Expired(DeadlineAbortResync, now)) {
    DeadlineAbortResync = 0;
    StartAbortResync();
    return;
  }
  if (Expired(DeadlineReply, now) && !Transfer.Active()) {
    // The server never answered the command, or the service never greeted as FTP does.
    FatalError(ControlState == csAwaitGreeting ? ftpeNoGreeting : ftpeTimeout);
    return;
  }
  if (!Transfer.Active()) return;
  const bool waiting = Transfer.phase() == TransferState::Phase::Waiting;
  const bool open = Transfer.phase() == TransferState::Phase::Open;
  if (Expired(DeadlineDataConnect, now) && waiting) {
    FatalError(ftpeTimeout);  // the server never opened the data connection
    return;
  }
  if (Expired(Deadline426, now)) {
    if (moving && open) {
      Deadline426 = SecondsFromNow(1);
    } else {
      EndAfterSilentReply426();
    }
    return;
  }
  if (Expired(DeadlineFinalReply, now)) {
    FatalError(ftpeTimeout);  // the data side ended but the final reply never came
    return;
  }
  if (open) {
    if (!moving) NudgeStore();
    StallSeconds = moving ? 0 : StallSeconds + 1;
    if (StallSeconds >= GuardTimes.Stall) FatalError(ftpeTimeout);
  }
}

// A 426 outside an abort with nothing after it: the transfer failed; the connection stays.
// The operation is over before the report, whose message box runs the loop.
void TVelaFtp::EndAfterSilentReply426() {
  Deadline426 = 0;
  DropTransfer();
  ControlState = csIdle;
  const bool finishing = Transfer.phase() != TransferState::Phase::Finished;
  Transfer.Finish();
  const std::uint64_t serial = Serial;
  ReportError(ftpeDataConnection);
  if (serial != Serial) return;
  Info(ftpiCommandFailed, "");
  if (finishing) PostDone();
}
