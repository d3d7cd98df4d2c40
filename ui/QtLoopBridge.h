// Lets Qt's event loop drive the engine's message loop: one QSocketNotifier on the loop's
// pollable descriptor dispatches what is pending, and the engine's nested pump and bounded
// wait become Qt's own event processing, so the window, the stop button and the engine all
// stay live wherever the engine pumps. One bridge for the program, made before the window.
#pragma once

#include <QObject>
#include <QSocketNotifier>

namespace platform {
class MessageLoop;
}

class TQtLoopBridge : public QObject {
 public:
  explicit TQtLoopBridge(platform::MessageLoop& loop);
  ~TQtLoopBridge() override;

  // Blocks until at least one event (Qt's or the engine's) has been processed, or maxMs
  // passes when maxMs >= 0. Used by the window's waits; never a busy loop.
  static void WaitForEvents(int maxMs = -1);

 private:
  platform::MessageLoop& loop_;
  QSocketNotifier notifier_;
};
