// "sftp://[user@]host[:port][/path]" as the front ends take it: the server speaks SFTP. The
// path is absolute, or relative to the home folder when it begins with "/~/".
#pragma once

#include <cstdint>
#include <string>

struct TSftpTarget {
  std::string user;
  std::string host;
  std::uint16_t port = 0;  // 0: none given (22)
  std::string path;        // the folder to start in; empty: the server's home
};

// False when `text` is not an sftp:// URL, or one that cannot be read (`problem` says why).
bool ParseSftpTarget(const std::string& text, TSftpTarget& target, std::string& problem);
