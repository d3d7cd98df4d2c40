#include "ftp/AbortReplies.h"

TAbortReplies::TVerdict TAbortReplies::Take(const TFtpReply& reply) {
  if (resyncing_) {
    if (reply.Code != 200) return TVerdict::Taken;
    Forget();
    owed_ = 0;
    return TVerdict::NoopAnswered;
  }
  if (!reply.Final()) return TVerdict::NotOwed;
  if (owed_ > 0) --owed_;
  if (aborPosition_ == 0 || --aborPosition_ > 0) return TVerdict::NotOwed;
  Forget();
  return TVerdict::AborAnswered;
}
