#include "session/SftpTarget.h"

#include <cstdlib>

bool ParseSftpTarget(const std::string& text, TSftpTarget& target, std::string& problem) {
  const std::string scheme = "sftp://";
  if (text.rfind(scheme, 0) != 0) return false;
  std::string rest = text.substr(scheme.size());
  const std::size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    target.path = rest.substr(slash);
    // "sftp://host/~/dir" and "sftp://host/dir": paths relative to the home folder.
    if (target.path.rfind("/~/", 0) == 0) target.path = target.path.substr(3);
    rest.resize(slash);
  }
  const std::size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    target.user = rest.substr(0, at);
    rest = rest.substr(at + 1);
  }
  std::size_t colon = rest.rfind(':');
  if (!rest.empty() && rest[0] == '[') {  // [IPv6]:port
    const std::size_t close = rest.find(']');
    colon =
        close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':' ? close + 1 : std::string::npos;
  } else if (colon != std::string::npos && rest.find(':') != colon) {
    colon = std::string::npos;  // a bare IPv6 address
  }
  if (colon != std::string::npos) {
    char* end = nullptr;
    const long port = std::strtol(rest.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port < 1 || port > 65535) {
      problem = "the port of " + text + " is not 1 to 65535";
      return false;
    }
    target.port = static_cast<std::uint16_t>(port);
    rest.resize(colon);
  }
  target.host = rest;
  if (target.host.empty()) {
    problem = text + " names no host";
    return false;
  }
  return true;
}
