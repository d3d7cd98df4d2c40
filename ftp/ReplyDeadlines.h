// The moments the FTP component waits on the server with nothing else to end the wait, each
// with its deadline, and the one-second tick that checks them (the component's GuardTick
// says what an expired one means). A deadline is armed for a number of seconds from now and
// disarmed when what it waits for has come.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/WinTypes.h"

enum class TAwaited : std::uint8_t {
  Reply,        // the greeting, or the reply to a command outside a transfer
  Quit,         // the reply to QUIT, then the close after it
  DataConnect,  // the server's data connection after LIST, RETR or STOR (active mode)
  FinalReply,   // the final reply after the data side ended
  Reply426,     // anything more after a 426 outside an abort
  AbortReply,   // the replies owed to ABOR (or to the NOOP that follows it)
  AbortResync,  // a stopped transfer's own replies, before NOOP is sent
};
constexpr std::size_t kAwaitedCount = 7;

// How long each wait lasts, in seconds. Tests may shorten them.
struct TGuardTimes {
  int Greeting = 20;        // after the connect, for the greeting
  int Reply = 60;           // after a command, for its reply
  int QuitReply = 10;       // after QUIT, for any reply (or the close)
  int QuitClose = 3;        // after the 2xx to QUIT, for the server to close
  int DataConnect = 60;     // after LIST/RETR/STOR, for the server to open the data connection
  int FinalReply = 30;      // after the data side ended, for the final reply
  int Reply426 = 5;         // after a 426 outside an abort, for anything more
  int AbortReplies = 15;    // after ABOR (or the NOOP that follows it), for its reply
  int AbortResync = 2;      // a stopped transfer has its own replies: for ABOR's, before NOOP
  int Stall = 300;          // a data connection that moves nothing
};

class TReplyDeadlines {
 public:
  // `onTick` runs every second between StartTicking and StopTicking.
  explicit TReplyDeadlines(std::function<void()> onTick);
  ~TReplyDeadlines();
  TReplyDeadlines(const TReplyDeadlines&) = delete;
  TReplyDeadlines& operator=(const TReplyDeadlines&) = delete;

  void StartTicking();
  void StopTicking();

  void Arm(TAwaited what, int seconds);
  void Disarm(TAwaited what) { deadlines_[Index(what)] = 0; }
  bool Armed(TAwaited what) const { return deadlines_[Index(what)] != 0; }
  bool Expired(TAwaited what, std::uint32_t now) const;

 private:
  static std::size_t Index(TAwaited what) { return static_cast<std::size_t>(what); }

  std::array<std::uint32_t, kAwaitedCount> deadlines_{};  // tick counts; 0: not armed
  std::function<void()> onTick_;
  platform::HWND window_ = 0;
  bool ticking_ = false;
};
