// The servers this user has had an encrypted session with: for each host and port, the
// SHA-256 fingerprint of the certificate it showed. A server found here did TLS before (a
// later refusal of TLS is suspect), and its fingerprint is what an unverified certificate
// must match to be taken without asking. One text file, a line per server
// ("host port fingerprint"), rewritten whole and atomically (a temporary file in the same
// folder, then a rename), readable by its owner only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TKnownServers {
 public:
  // An empty path keeps nothing (and finds nothing).
  explicit TKnownServers(std::string path) : path_(std::move(path)) {}

  // The fingerprint last seen for host:port, if the server is known.
  std::optional<std::string> Find(const std::string& host, std::uint16_t port) const;
  // Records (or replaces) the fingerprint of host:port; false when the file could not be
  // written.
  bool Remember(const std::string& host, std::uint16_t port, const std::string& fingerprint) const;

 private:
  std::string path_;
};

// Where the window and the console tool keep them: $XDG_CONFIG_HOME/talvo-ftp/known-servers,
// or ~/.config/talvo-ftp/known-servers; empty when neither variable is set.
std::string DefaultKnownServersPath();

// A fingerprint as typed (with or without colons, either case) in the form the TLS layer
// gives ("AB:CD:..."); empty when it is not 32 bytes of hexadecimal.
std::string NormalisedFingerprint(const std::string& typed);
