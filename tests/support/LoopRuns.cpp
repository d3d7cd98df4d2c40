#include "tests/support/LoopRuns.h"

#include "platform/MessageLoop.h"

namespace talvo::test {

using platform::MessageLoop;

void Settle() {
  for (int i = 0; i < 3; ++i) MessageLoop::Current().DispatchPending();
}

void RunFor(int ms) { MessageLoop::Current().RunUntil([] { return false; }, ms); }

bool RunUntil(const std::function<bool()>& done, int ms) { return MessageLoop::Current().RunUntil(done, ms); }

}  // namespace talvo::test
