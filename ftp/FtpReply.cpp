#include "ftp/FtpReply.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool BeginsWithCode(const std::string& line) {
  return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

}  // namespace

TFtpReply ParseReply(std::string line) {
  TFtpReply reply;
  if (!line.empty() && IsDigit(line[0])) reply.Class = line[0] - '0';
  if (BeginsWithCode(line)) {
    reply.Code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  }
  reply.Line = std::move(line);
  return reply;
}

TReplyLine TReplyFraming::Take(const std::string& line) {
  if (open_ && line.compare(0, 4, code_ + " ") != 0) return TReplyLine::Inside;
  // Only a reply code opens a multi-line reply: another service's banner ("SSH-2.0-...")
  // is a line like any other, which the greeting's state refuses at once.
  if (line.size() >= 4 && line[3] == '-' && BeginsWithCode(line)) {
    open_ = true;
    code_ = line.substr(0, 3);
    return TReplyLine::Opening;
  }
  open_ = false;
  return TReplyLine::Last;
}
