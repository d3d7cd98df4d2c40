// Bounded waits. Once connected, a one-second tick checks the moments where the component
// waits on the server with nothing else to end the wait: the greeting and the reply to
// every command outside a transfer (a server that stays silent is given up after a
// minute; any text it sends meanwhile restarts the wait; a greeting gets 20 seconds, text
// or not), the reply to QUIT and the close after it, the replies owed to ABOR; and, for a
// running transfer (TFtpTransfer::Tick), the data connection after LIST/RETR/STOR, the
// final reply after the data side ended, anything after a 426 outside an abort, and a data
// connection that moves nothing. A transfer that is still moving data is never cut short.
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"

using namespace platform;

void TVelaFtp::ClearDeadlines() {
  for (const TAwaited what :
       {TAwaited::Reply, TAwaited::Quit, TAwaited::DataConnect, TAwaited::FinalReply, TAwaited::Reply426}) {
    Deadlines.Disarm(what);
  }
  if (!Replies.Pending()) {
    Deadlines.Disarm(TAwaited::AbortReply);
    Deadlines.Disarm(TAwaited::AbortResync);
  }
}

void TVelaFtp::GuardTick() {
  if (!Connected) return;
  const std::uint32_t now = GetTickCount();
  const bool moving = Transfer->SampleMovement();

  if (Deadlines.Expired(TAwaited::Quit, now)) {
    // The server ignores QUIT, or said goodbye but keeps the connection: close it from
    // this side, as if the server had.
    Deadlines.Disarm(TAwaited::Quit);
    SockClose();
    EndConnection(TConnectionEnd::ServerClosed, ftpeNone);
    return;
  }
  if (!Replies.Pending()) {
    Deadlines.Disarm(TAwaited::AbortReply);
    Deadlines.Disarm(TAwaited::AbortResync);
  }
  if (Deadlines.Expired(TAwaited::AbortReply, now)) {
    FatalError(ftpeTimeout);  // the server ignores the abort
    return;
  }
  if (Deadlines.Expired(TAwaited::AbortResync, now)) {
    Deadlines.Disarm(TAwaited::AbortResync);
    StartAbortResync();
    return;
  }
  if (Deadlines.Expired(TAwaited::Reply, now) && !Transfer->State.Active()) {
    // The server never answered the command, or the service never greeted as FTP does.
    FatalError(ControlState == csAwaitGreeting ? ftpeNoGreeting : ftpeTimeout);
    return;
  }
  Transfer->Tick(now, moving);
}
