// Bounded runs of the message loop, for every test that drives it.
#pragma once

#include <functional>

namespace talvo::test {

// Delivers what is queued now and what that posts in turn, without waiting: enough to see
// that nothing more comes of what already happened.
void Settle();
// Runs the loop for `ms` whatever comes: what is still owed has that long to arrive.
void RunFor(int ms);
// Runs the loop until `done` holds or `ms` have passed; whether it holds.
bool RunUntil(const std::function<bool()>& done, int ms = 10000);

}  // namespace talvo::test
