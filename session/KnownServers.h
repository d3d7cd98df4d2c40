// The servers this user has had an encrypted session with: for each host and port, the
// SHA-256 fingerprint of the certificate it showed. A server found here did TLS before (a
// later refusal of TLS is suspect), and its fingerprint is what an unverified certificate
// must match to be taken without asking. One text file, a line per server
// ("host port fingerprint"), readable by its owner only. A server is remembered under the
// name typed and under the address connected to, so that either finds it; addresses are
// kept in their canonical text (platform/AddressText.h), names in lower case.
//
// Sessions of several processes may remember servers at once: each change is made under
// a lock (flock on FILE.lock beside it), on what the file holds at that moment, and
// written whole and atomically (a temporary file created exclusively in the same folder,
// then a rename).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TKnownServers {
 public:
  // How long a change waits for another process's change to end before it gives up.
  static constexpr int kLockWaitMs = 3000;  // as talvo::state::kLockWaitMs

  // An empty path keeps nothing (and finds nothing).
  explicit TKnownServers(std::string path) : path_(std::move(path)) {}

  // The fingerprint last seen for host:port, if the server is known.
  std::optional<std::string> Find(const std::string& host, std::uint16_t port) const;
  // The fingerprints known for `port` under any of `hosts` (the name typed, the address
  // connected to), each once, in the order of `hosts`.
  std::vector<std::string> Fingerprints(const std::vector<std::string>& hosts, std::uint16_t port) const;
  // Records (or replaces) the fingerprint of `port` under each of `hosts`; false when the
  // file could not be changed (its folder or the file unwritable or unreadable, or the
  // lock not taken within kLockWaitMs).
  bool Remember(const std::vector<std::string>& hosts, std::uint16_t port, const std::string& fingerprint) const;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Where the window and the console tool keep them: $XDG_CONFIG_HOME/talvo-ftp/known-servers,
// or ~/.config/talvo-ftp/known-servers; empty when neither variable is set.
std::string DefaultKnownServersPath();

// A fingerprint as typed (with or without colons, either case) in the form the TLS layer
// gives ("AB:CD:..."); empty when it is not 32 bytes of hexadecimal.
std::string NormalisedFingerprint(const std::string& typed);
