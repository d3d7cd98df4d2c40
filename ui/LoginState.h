// What the window keeps about the connection being made: the server it was given (from the
// command line, or again after a remembered password was refused), the port and encryption
// a link changed for this connection only, where the password came from, and the folder a
// link asked for, entered once logged in.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ftp/FtpTypes.h"
#include "session/ServerText.h"

struct TLoginState {
  std::string PresetServer;            // used once instead of asking for the server
  std::optional<std::string> ServerAnswer;  // what was typed, while the FTP engine asks for it
  std::optional<TServerTarget> Retry;  // asked for the password again, offering to replace it
  TServerTarget Target;                // the server of this connection (never its password)

  // The stored port and encryption, put back at the next connection.
  bool LinkSettings = false;
  std::uint16_t StoredPort = 21;
  TTlsMode StoredTls = tlsmAuto;

  // What the keyring said for this connection's server, port and user (KeyringUser), asked
  // once, before the connection starts when the user is known by then.
  std::optional<bool> KeyringRuns;
  std::string KeyringUser;
  std::optional<std::string> Remembered;
  bool FromKeyring = false;       // the password sent was the keyring's
  bool OfferReplace = false;      // the next password prompt offers to replace the keyring's
  bool Remember = false;          // keep the typed password in the keyring once logged in
  std::string TypedPassword;      // held only until the login ends

  // The link's folder: entered after the login; when it is a file, its folder is entered
  // and the file selected.
  enum class Path { None, Enter, Entering, EnteringParent };
  Path PathStep = Path::None;
  std::string StartPath;
  std::string SelectName;

  // A new connection: the port and encryption a link set for the last one are put back,
  // and what was kept of the last login goes (not the server given for this one).
  void BeginConnection(std::uint16_t& port, TTlsMode& tls) {
    if (LinkSettings) {
      port = StoredPort;
      tls = StoredTls;
      LinkSettings = false;
    }
    StoredPort = port;
    StoredTls = tls;
    Target = TServerTarget{};
    KeyringRuns.reset();
    KeyringUser.clear();
    Remembered.reset();
    FromKeyring = Remember = false;
    TypedPassword.clear();
    PathStep = Path::None;
    SelectName.clear();
  }
};
