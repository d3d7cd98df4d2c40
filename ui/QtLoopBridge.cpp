#include "ui/QtLoopBridge.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>

#include "platform/MessageLoop.h"

TQtLoopBridge::TQtLoopBridge(platform::MessageLoop& loop)
    : loop_(loop), notifier_(loop.PollFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { loop_.DispatchPending(); });
  // The engine pumps once per block of a store and per attempt of a command line: Qt's
  // processing reaches the engine through the notifier, and the engine's own queue is
  // dispatched here as well in case the notifier is not delivered inside a nested pump.
  loop_.SetPumpHook([this] {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    loop_.DispatchPending();
  });
  loop_.SetWaitHook([this](int maxMs) {
    WaitForEvents(maxMs);
    loop_.DispatchPending();
  });
}

TQtLoopBridge::~TQtLoopBridge() {
  loop_.SetPumpHook(nullptr);
  loop_.SetWaitHook(nullptr);
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
