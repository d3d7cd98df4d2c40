// The servers this user logged in to lately, for the server prompt to offer: protocol,
// host, port and user (never a password, never a folder), most recent first, at most
// kMaxServers. One text file, a link a line ("ftp://me@ftp.example.org:2121"), readable by
// its owner only, changed the way the known servers are (see StateFile.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "session/ServerText.h"

class TRecentServers {
 public:
  static constexpr std::size_t kMaxServers = 20;

  // An empty path keeps nothing.
  explicit TRecentServers(std::string path) : path_(std::move(path)) {}

  // The servers' links, most recent first; false when the file exists and cannot be read.
  bool Read(std::vector<std::string>& links) const;
  // Puts `server` first (once: the same protocol, host, port and user replace an older
  // line); false, the file as it was, when it could not be read or written.
  bool Add(const TServerTarget& server) const;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// $XDG_CONFIG_HOME/talvo-ftp/recent-servers (or ~/.config/...), beside the known servers.
std::string DefaultRecentServersPath();
