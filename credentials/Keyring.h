// The desktop's keyring (a Secret Service on the session bus, through libsecret): the one
// place where a password is kept between runs. An entry is keyed by protocol, server,
// port and user, the same for the window and the console tool.
//
// Every call is bounded: it runs the D-Bus conversation on a private GLib context and
// gives up (cancelling it) past its time limit, so that a keyring that never answers
// cannot hold the caller. Where no session bus is known, or no Secret Service owns its name
// on it, Running() says so at once, and nothing here starts one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct TKeyringKey {
  std::string Protocol;  // "ftp" (FTP and FTPS alike) or "sftp"
  std::string Server;
  std::uint16_t Port = 0;
  std::string User;
};

class TKeyring {
 public:
  // The longest wait for the question whether a keyring runs, and for one of its answers.
  static constexpr int kCheckMs = 2000;
  static constexpr int kCallMs = 15000;

  // Whether a Secret Service answers on the session bus.
  static bool Running();
  // The password remembered for `key`, if any (nothing too when the keyring fails).
  static std::optional<std::string> Lookup(const TKeyringKey& key);
  // Remembers `password` for `key`, replacing one remembered before; false when the keyring
  // did not take it.
  static bool Store(const TKeyringKey& key, const std::string& password);
  // Forgets the password of `key`; false when the keyring failed (nothing to forget is no
  // failure).
  static bool Forget(const TKeyringKey& key);
};

// The key of a server as the front ends name it: FTPS is the same account as FTP.
TKeyringKey KeyringKeyFor(const std::string& scheme, const std::string& server, std::uint16_t port,
                          const std::string& user);
