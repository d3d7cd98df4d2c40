// What may follow a command word on the control connection. A CR, an LF or a zero byte
// would end the line early (servers that end lines on LF alone, or on a zero byte, read on
// from there), so the rest would run as a second command: such text is never sent.
#pragma once

#include <string_view>

inline bool IsSendableArgument(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}
