// The SFTP component's own codes, where FTP's do not fit. They travel in the same events as
// FTP's (the session surface has one error, one information and one request event), so
// they are numbered apart from FTP's, from kSftpCodeBase on, and a front end tells them by
// their value alone. The host-key question the component asks its owner, like the
// certificate question of the FTP component.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ftp/FtpTypes.h"

constexpr int kSftpCodeBase = 64;

enum SftpError : std::uint8_t {
  sftpeHandshake = 64,       // no SSH session could be set up (not an SSH server, a broken banner, a cut key exchange)
  sftpeHostKeyUnknown = 65,  // the server's key is not known and was not accepted
  sftpeHostKeyChanged = 66,  // the server's key differs from the one known: addinfo "FILE:LINE"
  sftpeKnownHostsUnreadable = 67,  // the file of known hosts exists but cannot be read (addinfo: its path)
  sftpeLoginRefused = 68,          // every way of logging in was refused: addinfo, the ways tried
  sftpeNoSftp = 69,                // the server logged in but offers no SFTP
  sftpeProtocol = 70,              // an SFTP reply that makes no sense
};
constexpr int kSftpErrorEnd = sftpeProtocol + 1;

enum SftpInfo : std::uint8_t {
  sftpiHostKey = 64,        // the server's key, "TYPE SHA256:..."
  sftpiHostKeyAdded = 65,   // the key was added to the known hosts: addinfo, the file
  sftpiLoggedInWith = 66,   // the way the login went through ("agent", a key's path, "password", ...)
  sftpiNotRemembered = 67,  // the key could not be added to the file of known hosts (addinfo: its path)
};
constexpr int kSftpInfoEnd = sftpiNotRemembered + 1;

enum SftpInfoNeeded : std::uint8_t {
  // The passphrase of a private key; the request's value holds the key's path when asked.
  sftpnPassphrase = 64,
};

// The codes as the events carry them.
constexpr FtpError AsFtpError(SftpError e) { return static_cast<FtpError>(e); }
constexpr FtpInfo AsFtpInfo(SftpInfo i) { return static_cast<FtpInfo>(i); }
constexpr TFtpInfoNeeded AsInfoNeeded(SftpInfoNeeded n) { return static_cast<TFtpInfoNeeded>(n); }

// Identifiers of any code either component raises ("ftpeTimeout", "sftpeHostKeyChanged").
const char* SessionErrorName(int code);
const char* SessionInfoName(int code);
const char* SessionInfoNeededName(int code);

// A server key that the owner is asked to trust: the host and port as the user gave them,
// the key's type ("ssh-ed25519") and its fingerprint written as OpenSSH writes it
// ("SHA256:" and unpadded base64), and the file where "yes" adds it.
struct TSftpHostKeyQuestion {
  std::string Host;
  std::uint16_t Port = 22;
  std::string KeyType;
  std::string Fingerprint;
  std::string KnownHostsFile;
};
// Sets `trust` to accept the key (it is then added to the known hosts).
using TSftpHostKeyEvent = std::function<void(TObject* Sender, const TSftpHostKeyQuestion& question, bool& trust)>;
