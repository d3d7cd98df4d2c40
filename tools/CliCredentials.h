// What the command line left open of the login, completed before the session starts: the
// user and the password (and account) from ~/.netrc, then the password from the desktop's
// keyring (the window's remembered ones). The terminal prompt comes later, only when the
// server asks for a password (see CliSession.cpp).
#pragma once

#include <string>

#include "tools/CliOptions.h"

// Fills in what is missing; `source` says where the password came from ("netrc",
// "keyring"; empty: from the command line or nowhere). False with `problem` when ~/.netrc
// is refused (unreadable, or a password that others may read): nothing is then taken
// from it, and the session should not start.
bool CompleteCredentials(TCliOptions& options, std::string& source, std::string& problem);

// The terminal's question for the password of `user` at `host`.
std::string PasswordPrompt(const std::string& user, const std::string& host);
