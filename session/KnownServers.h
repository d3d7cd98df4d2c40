// The servers this user has had an encrypted session with: for each host and port, the
// SHA-256 fingerprint of the certificate it showed. One text file, a line per entry, readable
// by its owner only: "host port fingerprint" pins a certificate for the name the user typed
// (and that port); "address port fingerprint address" records that an address connected to
// did TLS. A pin answers for the name typed alone, never for another name that leads to the
// same address; both kinds tell that the server did TLS before (a later refusal is suspect).
// Addresses are kept in their canonical text (platform/AddressText.h; an IPv4 address mapped
// into IPv6 is the IPv4 address), names in lower case.
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

#include "session/StateFile.h"

class TKnownServers {
 public:
  // How long a change waits for another process's change to end before it gives up.
  static constexpr int kLockWaitMs = talvo::state::kLockWaitMs;

  // An empty path keeps nothing (and finds nothing).
  explicit TKnownServers(std::string path) : path_(std::move(path)) {}

  // The fingerprint pinned for the name typed and port, if any.
  std::optional<std::string> Find(const std::string& host, std::uint16_t port) const;
  // Whether the server did TLS before under any of `hosts` (the name typed, the address
  // connected to) on `port`.
  bool DidTls(const std::vector<std::string>& hosts, std::uint16_t port) const;
  // The file exists and cannot be read: what it holds is not known (which is not the same
  // as knowing no server).
  bool Unreadable() const;

  enum class TChange : std::uint8_t { Done, Busy, Failed };
  // Pins `fingerprint` for `name` and `port`, and records that `address` (when it is not
  // the name) did TLS. Busy, with nothing waited for, while another process changes the
  // file; Failed when the file or its folder cannot be written or read.
  TChange TryRemember(const std::string& name, const std::string& address, std::uint16_t port,
                      const std::string& fingerprint) const;
  // The same, waiting up to kLockWaitMs for the lock: never on the loop thread.
  bool Remember(const std::string& name, const std::string& address, std::uint16_t port,
                const std::string& fingerprint) const;

  const std::string& Path() const { return path_; }

 private:
  TChange Change(const std::string& name, const std::string& address, std::uint16_t port,
                 const std::string& fingerprint, int waitMs) const;

  std::string path_;
};

// Where the window and the console tool keep them: $XDG_CONFIG_HOME/talvo-ftp/known-servers,
// or ~/.config/talvo-ftp/known-servers; empty when neither variable is set.
std::string DefaultKnownServersPath();

// A fingerprint as typed (with or without colons, either case) in the form the TLS layer
// gives ("AB:CD:..."); empty when it is not 32 bytes of hexadecimal.
std::string NormalisedFingerprint(const std::string& typed);
