// The replies owed on the control connection, for the stop button. Every command sent owes
// one final reply (class 2 to 5); counting them lets the component recognise the reply that
// answers ABOR, whatever came before it. When that reply does not come, NOOP is sent, and
// everything up to NOOP's own 200 belongs to the stop: late replies to the transfer or to
// ABOR. Servers answer in order, so nothing after it is taken.
#pragma once

#include "ftp/FtpReply.h"

class TAbortReplies {
 public:
  // What a reply was to the stop.
  enum class TVerdict {
    NotOwed,       // an ordinary reply: the state machine takes it
    Taken,         // a reply of the stop, dropped
    AborAnswered,  // ABOR's own reply: the stop's wait ends
    NoopAnswered,  // NOOP's reply: everything before it belonged to the stop
  };

  // A new connection owes `owed` replies (the greeting).
  void Restart(int owed) {
    Forget();
    owed_ = owed;
  }
  void CommandSent() { ++owed_; }
  // ABOR has just gone: its reply is the last of those owed now. False when none is owed.
  bool AborSent() {
    aborPosition_ = owed_;
    return aborPosition_ > 0;
  }
  void NoopSent() { resyncing_ = true; }

  TVerdict Take(const TFtpReply& reply);

  bool AwaitingAbor() const { return aborPosition_ > 0; }
  bool Resyncing() const { return resyncing_; }
  // Something is still owed to the stop.
  bool Pending() const { return aborPosition_ > 0 || resyncing_; }
  void Forget() {
    aborPosition_ = 0;
    resyncing_ = false;
  }

 private:
  int owed_ = 0;
  int aborPosition_ = 0;    // > 0: ABOR's reply is the n-th final reply from now
  bool resyncing_ = false;  // NOOP went because ABOR's reply did not come
};
