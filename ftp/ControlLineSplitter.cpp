#include "ftp/ControlLineSplitter.h"

bool ControlLineSplitter::NextLine(std::string& line) {
  const std::size_t end = buffer_.find("\r\n", start_);
  if (end == std::string::npos) {
    // Drop the consumed prefix once nothing complete is left, so the buffer stays small.
    if (start_ > 0) {
      buffer_.erase(0, start_);
      start_ = 0;
    }
    return false;
  }
  line.assign(buffer_, start_, end - start_);
  start_ = end + 2;
  if (start_ == buffer_.size()) Clear();
  return true;
}
