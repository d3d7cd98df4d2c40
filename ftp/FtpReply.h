// A reply of the server, read once: its three-digit code, its class (the first digit) and
// the whole line, which the parsers of a reply's text read. The lines of a multi-line reply
// ("211-Features:" ... "211 End") come before it: only its last line answers a command.
#pragma once

#include <string>

struct TFtpReply {
  int Code = 0;   // the three digits the line begins with; 0 when it begins otherwise
  int Class = 0;  // its first digit: 1 preliminary, 2 done, 3 more to send, 4 and 5 refused
  std::string Line;

  // A final reply (class 2 to 5) answers a command; class 1 is preliminary.
  bool Final() const { return Class >= 2 && Class <= 5; }
};

TFtpReply ParseReply(std::string line);

// Where a line stands in the reply stream.
enum class TReplyLine { Opening, Inside, Last };

class TReplyFraming {
 public:
  // A line that opens a multi-line reply ("211-"), one inside it, or the last line of a
  // reply (the only line of a one-line reply).
  TReplyLine Take(const std::string& line);
  void Reset() { open_ = false; }

 private:
  bool open_ = false;
  std::string code_;  // the code that closes the open reply
};
