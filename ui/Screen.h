// The screen cursor, which doubles as the window's engine-busy state: the hourglass (the
// wait cursor) shows while an engine operation runs, the arrow when none does. It is the
// application's override cursor, a single value rather than Qt's stack, so one call to
// SetArrow always puts the arrow back whatever set the hourglass before.
#pragma once

namespace Screen {

void SetHourglass();
void SetArrow();
bool IsHourglass();

// While a prompt or a message waits for the user, the arrow shows instead of the
// hourglass; the hourglass comes back afterwards unless something meanwhile set the
// cursor itself (an operation that ended while the dialog was open).
class TArrowWhileAsking {
 public:
  TArrowWhileAsking();
  ~TArrowWhileAsking();
  TArrowWhileAsking(const TArrowWhileAsking&) = delete;
  TArrowWhileAsking& operator=(const TArrowWhileAsking&) = delete;

 private:
  bool wasBusy_;
  unsigned generation_ = 0;
};

}  // namespace Screen
