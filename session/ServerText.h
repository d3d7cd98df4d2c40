// The server as a user types it at the server prompt or gives it on a command line: a
// name or an address ("ftp.example.org", "192.0.2.7", "::1", "[2001:db8::7]"), the same
// with a port ("ftp.example.org:2121", "[::1]:2121"), or a link
// "ftp://[user[:password]@]host[:port][/path]", "ftps://..." (TLS required) or
// "sftp://...". In a link, percent-escapes are decoded, so a name may hold any byte but
// CR, LF and NUL, which could end a command line early.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class TServerProtocol { Ftp, Ftps, Sftp };

struct TServerTarget {
  TServerProtocol Protocol = TServerProtocol::Ftp;
  bool Link = false;  // typed as a link ("scheme://...")
  std::string Host;   // a name, or an address without brackets ("::1", "fe80::1%eth0")
  std::uint16_t Port = 0;  // 0: none typed
  std::optional<std::string> User;
  std::optional<std::string> Password;
  // A link's path as written after the host, decoded, with its leading "/" ("" when the
  // link has none).
  std::string Path;
};

// Reads `text` (blanks around it are not part of it). False with `problem`, one French
// sentence naming what is wrong, when it cannot be read; the password never appears in it.
bool ParseServerText(const std::string& text, TServerTarget& target, std::string& problem);

// The port a protocol uses when none is given: 21 for FTP and FTPS, 22 for SFTP.
std::uint16_t DefaultPort(TServerProtocol protocol);
// "ftp", "ftps" or "sftp".
const char* SchemeName(TServerProtocol protocol);

// The folder an FTP link names, as the server is asked to enter it: relative to the login
// folder, as links have it (the first "/" only separates it from the host; "%2F" at its
// start makes it absolute). Empty when the link names none.
std::string LoginRelativePath(const TServerTarget& target);

// The folder a link names, as the session is asked to enter it once logged in: an FTP
// link's from the login folder (LoginRelativePath); an SFTP link's absolute, or from the
// home folder when it begins with "/~/" ("sftp://host/~/www" is "www"). Empty: none.
std::string StartFolder(const TServerTarget& target);

// The link for `target` without its password and path ("ftp://me@host:2121"), with every
// byte of the user that a link cannot hold escaped, and the port only when it is not the
// protocol's default. `port` replaces the target's.
std::string ServerLink(const TServerTarget& target, std::uint16_t port);
