#include "ui/QtLoopBridge.h"

#include <QCoreApplication>
#include <QTimer>

#include "platform/MessageLoop.h"

TQtLoopBridge::TQtLoopBridge(platform::MessageLoop& loop)
    : loop_(loop), notifier_(loop.PollFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, &TQtLoopBridge::DispatchSlice);
  sinceQtRan_.start();
  loop_.SetPumpHook([this] {
    if (sinceQtRan_.elapsed() < kSliceMs) return;
    sinceQtRan_.restart();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  });
  loop_.SetWaitHook([this](int maxMs) {
    sinceQtRan_.restart();
    WaitForEvents(maxMs);
    loop_.DispatchPending();
  });
}

TQtLoopBridge::~TQtLoopBridge() {
  loop_.SetPumpHook(nullptr);
  loop_.SetWaitHook(nullptr);
}

void TQtLoopBridge::DispatchSlice() {
  QElapsedTimer slice;
  slice.start();
  while (loop_.DispatchPending() && slice.elapsed() < kSliceMs) {
  }
}

void TQtLoopBridge::WaitForEvents(int maxMs) {
  // A single-shot timer bounds the blocking wait; it is an event like any other, so the
  // wait ends at the first of the two.
  QTimer bound;
  if (maxMs >= 0) {
    bound.setSingleShot(true);
    bound.start(maxMs);
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
