#include "ftp/FtpReply.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

TFtpReply ParseReply(std::string line) {
  TFtpReply reply;
  if (!line.empty() && IsDigit(line[0])) reply.Class = line[0] - '0';
  if (line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2])) {
    reply.Code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  }
  reply.Line = std::move(line);
  return reply;
}

TReplyLine TReplyFraming::Take(const std::string& line) {
  if (open_ && line.compare(0, 4, code_ + " ") != 0) return TReplyLine::Inside;
  if (line.size() >= 4 && line[3] == '-') {
    open_ = true;
    code_ = line.substr(0, 3);
    return TReplyLine::Opening;
  }
  open_ = false;
  return TReplyLine::Last;
}
