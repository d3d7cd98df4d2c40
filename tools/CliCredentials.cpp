#include "tools/CliCredentials.h"

#include <optional>

#include "credentials/Keyring.h"
#include "session/Netrc.h"

bool CompleteCredentials(TCliOptions& options, std::string& source, std::string& problem) {
  source.clear();
  if (options.passwordGiven && !options.user.empty()) return true;
  TNetrcEntry entry;
  const std::optional<std::string> user =
      options.user.empty() ? std::nullopt : std::optional<std::string>(options.user);
  switch (ReadNetrc(DefaultNetrcPath(), options.host, user, entry, problem)) {
    case TNetrcOutcome::Refused:
      return false;
    case TNetrcOutcome::Found:
      if (options.user.empty() && entry.Login) options.user = *entry.Login;
      if (options.account.empty() && entry.Account) options.account = *entry.Account;
      if (!options.passwordGiven && entry.Password) {
        options.password = *entry.Password;
        options.passwordGiven = true;
        source = "netrc";
      }
      break;
    case TNetrcOutcome::NotFound:
      break;
  }
  if (!options.passwordGiven && !options.user.empty() && TKeyring::Running()) {
    const TKeyringKey key = KeyringKeyFor(SchemeName(options.protocol), options.host, options.port, options.user);
    if (const std::optional<std::string> password = TKeyring::Lookup(key)) {
      options.password = *password;
      options.passwordGiven = true;
      source = "keyring";
    }
  }
  return true;
}

std::string PasswordPrompt(const std::string& user, const std::string& host) {
  return "Mot de passe de " + (user.empty() ? std::string("l'utilisateur") : user) + " sur " + host + " : ";
}
