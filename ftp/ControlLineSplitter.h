// Cuts control-connection text into lines. Only the pair CR LF ends a line, wherever the
// reads split it; a lone CR or LF stays inside the line. Text that has gone longer than the
// cap without a CR LF is reported as an overflow instead of being kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class ControlLineSplitter {
 public:
  explicit ControlLineSplitter(std::size_t maxLine) : maxLine_(maxLine) {}

  void Append(std::string_view text) { buffer_.append(text); }
  // Takes the next complete line (without its CR LF); false when none is complete.
  bool NextLine(std::string& line);
  // The text not yet ended by CR LF is longer than the cap.
  bool Overflow() const { return Pending().size() > maxLine_; }
  std::string_view Pending() const { return std::string_view(buffer_).substr(start_); }
  void Clear() {
    buffer_.clear();
    start_ = 0;
  }

 private:
  std::size_t maxLine_;
  std::string buffer_;
  std::size_t start_ = 0;  // consumed prefix of buffer_
};
