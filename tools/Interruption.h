// Ctrl-C (SIGINT) and SIGTERM as an event of the message loop. The signal handler only
// notes the signal and wakes the loop through an eventfd it watches; the owner's callback
// then runs on the loop's thread, where it may stop the engine the normal way. The first
// signal gives both back to their default action, so that a second one ends the program at
// once. One instance at a time; the destructor puts the previous handlers back.
#pragma once

#include <signal.h>

#include <functional>

class TInterruption {
 public:
  explicit TInterruption(std::function<void(int signal)> onSignal);
  ~TInterruption();
  TInterruption(const TInterruption&) = delete;
  TInterruption& operator=(const TInterruption&) = delete;

 private:
  void Wake();

  int fd_ = -1;
  bool delivered_ = false;
  std::function<void(int)> onSignal_;
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};
