// Lets Qt's event loop drive the engine's message loop: one QSocketNotifier on the loop's
// pollable descriptor dispatches what is pending, and the engine's nested pump and bounded
// wait let Qt process its own events, so the window, the stop button and the engine all
// stay live wherever the engine pumps. One bridge for the program, made before the window.
//
// A transfer brings a notification per 2 KB chunk; going round Qt's loop for each would
// cost more than the chunk itself. So the engine runs in slices of a few milliseconds:
// a wake-up dispatches as long as there is work, and a pump lets Qt run once a slice.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>

namespace platform {
class MessageLoop;
}

class TQtLoopBridge : public QObject {
 public:
  // How long the engine may run before Qt gets its turn.
  static constexpr int kSliceMs = 4;

  explicit TQtLoopBridge(platform::MessageLoop& loop);
  ~TQtLoopBridge() override;

  // Blocks until at least one event (Qt's or the engine's) has been processed, or maxMs
  // passes when maxMs >= 0. Used by the window's waits; never a busy loop.
  static void WaitForEvents(int maxMs = -1);

 private:
  void DispatchSlice();

  platform::MessageLoop& loop_;
  QSocketNotifier notifier_;
  QElapsedTimer sinceQtRan_;
};
