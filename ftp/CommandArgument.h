// What may follow a command word on the control connection. A CR, an LF or a zero byte
// would end the line early (servers that end lines on LF alone, or on a zero byte, read on
// from there), so the rest would run as a second command: such text is never sent.
#pragma once

#include <string>
#include <string_view>

inline bool IsSendableArgument(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

// A command line as it is shown (the log, the console): the value of PASS and ACCT is
// replaced by asterisks, a fixed number of them so that not even its length shows. The
// line sent to the server is not changed.
inline std::string ShownCommandLine(const std::string& line) {
  for (const std::string_view secret : {std::string_view("PASS "), std::string_view("ACCT ")}) {
    if (line.starts_with(secret)) {
      const std::size_t end = line.find("\r\n", secret.size());
      const std::size_t valueLength = (end == std::string::npos ? line.size() : end) - secret.size();
      if (valueLength == 0) return line;
      return std::string(secret) + "********" + (end == std::string::npos ? "" : line.substr(end));
    }
  }
  return line;
}
