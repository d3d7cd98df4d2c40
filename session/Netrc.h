// The ~/.netrc that console FTP clients read: "machine HOST login USER password PASS
// account ACCT", a "default" entry for every other host, "macdef NAME" macros (skipped to
// the next empty line), "#" comments; a token may be quoted ("a b", with \" and \\ inside).
// A password is taken only from a file that its owner alone may read and write.
#pragma once

#include <optional>
#include <string>

struct TNetrcEntry {
  std::optional<std::string> Login;
  std::optional<std::string> Password;
  std::optional<std::string> Account;
};

enum class TNetrcOutcome {
  NotFound,  // no file, or no entry for the host (and no default entry)
  Found,
  Refused,   // the file cannot be read, or holds a password that others may read
};

// The entry of `host` in the file at `path` (the first whose login is `user`, when a user
// is given), or the default entry. Refused with `problem` (one French sentence) when the
// file exists but cannot be read, or when the entry holds a password and the file is
// readable or writable by others or belongs to another user.
TNetrcOutcome ReadNetrc(const std::string& path, const std::string& host, const std::optional<std::string>& user,
                        TNetrcEntry& entry, std::string& problem);

// $NETRC when set, else ~/.netrc; empty when neither is known.
std::string DefaultNetrcPath();
