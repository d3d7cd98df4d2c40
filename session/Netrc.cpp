#include "session/Netrc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/AddressText.h"

namespace {

// Cuts the text into tokens: blanks separate, a quoted token keeps its blanks, "#" begins
// a comment to the end of its line, and "macdef NAME" skips its macro to the next empty line.
std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (i < text.size()) {
    if (blank(text[i])) {
      ++i;
      continue;
    }
    if (text[i] == '#') {
      i = std::min(text.find('\n', i), text.size());
      continue;
    }
    std::string token;
    if (text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
          const char next = text[++i];
          token += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else {
          token += text[i];
        }
      }
      ++i;  // the closing quote
    } else {
      while (i < text.size() && !blank(text[i])) token += text[i++];
    }
    if (!tokens.empty() && tokens.back() == "macdef") {
      tokens.pop_back();
      const std::size_t end = text.find("\n\n", i);
      i = end == std::string::npos ? text.size() : end + 2;
      continue;
    }
    tokens.push_back(token);
  }
  return tokens;
}

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// One host in any form of its address ("::1", "[::1]"), a name in any case.
std::string HostKey(const std::string& host) {
  const std::string address = platform::CanonicalAddressText(host);
  return Lowered(address.empty() ? host : address);
}

struct Entry {
  bool isDefault = false;
  std::string machine;
  TNetrcEntry values;
};

std::vector<Entry> Entries(const std::vector<std::string>& tokens) {
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const std::string& word = tokens[i];
    const bool valued = i + 1 < tokens.size();
    if (word == "default") {
      entries.push_back({true, {}, {}});
    } else if (word == "machine" && valued) {
      entries.push_back({false, tokens[++i], {}});
    } else if (!entries.empty() && valued && (word == "login" || word == "password" || word == "account")) {
      TNetrcEntry& values = entries.back().values;
      (word == "login" ? values.Login : word == "password" ? values.Password : values.Account) = tokens[++i];
    }
  }
  return entries;
}

}  // namespace

TNetrcOutcome ReadNetrc(const std::string& path, const std::string& host, const std::optional<std::string>& user,
                        TNetrcEntry& entry, std::string& problem) {
  entry = TNetrcEntry{};
  problem.clear();
  if (path.empty()) return TNetrcOutcome::NotFound;
  // Opened without waiting: a FIFO in its place is refused, not waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return TNetrcOutcome::NotFound;
  struct stat status {};
  std::string text;
  bool read = fd >= 0 && ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
  char buffer[4096];
  ssize_t n = 0;
  while (read && (n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  const int error = fd < 0 || n < 0 ? errno : S_ISREG(status.st_mode) ? 0 : S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
  if (fd >= 0) ::close(fd);
  if (!read || n < 0) {
    problem = "Le fichier " + path + " ne peut pas être lu (" + std::strerror(error != 0 ? error : EIO) +
              ") : ni nom d'utilisateur ni mot de passe n'en ont été pris.";
    return TNetrcOutcome::Refused;
  }
  const std::string wanted = HostKey(host);
  const Entry* match = nullptr;
  const std::vector<Entry> entries = Entries(Tokens(text));
  for (const Entry& e : entries) {
    const bool forHost = e.isDefault || HostKey(e.machine) == wanted;
    if (!forHost || (user && e.values.Login && *e.values.Login != *user)) continue;
    // A machine's own entry goes before the default one, wherever that stands.
    if (match == nullptr || (match->isDefault && !e.isDefault)) match = &e;
    if (!e.isDefault) break;
  }
  if (match == nullptr) return TNetrcOutcome::NotFound;
  if (match->values.Password && ((status.st_mode & 077) != 0 || status.st_uid != ::getuid())) {
    problem = "Le fichier " + path + " contient un mot de passe et " +
              (status.st_uid != ::getuid() ? std::string("appartient à un autre utilisateur")
                                           : std::string("d'autres utilisateurs peuvent le lire ou le modifier")) +
              " : il n'est pas utilisé (chmod 600 " + path + ").";
    return TNetrcOutcome::Refused;
  }
  entry = match->values;
  return TNetrcOutcome::Found;
}

std::string DefaultNetrcPath() {
  if (const char* netrc = std::getenv("NETRC"); netrc != nullptr && netrc[0] != '\0') return netrc;
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') return std::string(home) + "/.netrc";
  return {};
}
