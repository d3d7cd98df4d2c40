// The few keywords of the user's SSH configuration (~/.ssh/config, OpenSSH's format) that
// say how to reach a server: Host blocks, HostName, Port, User, IdentityFile. As OpenSSH
// reads it, the first value found for a keyword wins (IdentityFile adds up), and Host
// patterns may hold "*", "?" and "!". Match blocks are not read (they never apply here),
// nor Include.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TSshHostConfig {
  std::string HostName;                    // the name to connect to (the alias itself when none is given)
  std::uint16_t Port = 0;                  // 0: none given
  std::string User;                        // empty: none given
  std::vector<std::string> IdentityFiles;  // "~" and %d %h %r %u %% expanded
};

// What the configuration text says for `alias`; `home` and `localUser` expand the paths.
TSshHostConfig ReadSshConfig(const std::string& text, const std::string& alias, const std::string& home,
                             const std::string& localUser);
// The same from a file; a file that is missing or unreadable says nothing.
TSshHostConfig ReadSshConfigFile(const std::string& path, const std::string& alias, const std::string& home,
                                 const std::string& localUser);
