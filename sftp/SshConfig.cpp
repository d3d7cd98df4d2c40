#include "sftp/SshConfig.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sftp/SshText.h"

namespace {

// The words of a line: blanks separate them, "=" may stand between keyword and value, and
// double quotes hold a word with blanks.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (!quoted && (std::isspace(static_cast<unsigned char>(c)) || (c == '=' && words.empty()))) {
      if (any) words.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) words.push_back(word);
  return words;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Expand(const std::string& value, const std::string& alias, const std::string& user, const std::string& home,
                   const std::string& localUser) {
  std::string out;
  std::size_t i = 0;
  if (value.rfind("~/", 0) == 0 || value == "~") {
    out = home;
    i = 1;
  }
  for (; i < value.size(); ++i) {
    if (value[i] != '%' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 'd':
        out += home;
        break;
      case 'h':
        out += alias;
        break;
      case 'r':
        out += user;
        break;
      case 'u':
        out += localUser;
        break;
      case '%':
        out += '%';
        break;
      default:
        out += '%';
        out += value[i];
        break;
    }
  }
  return out;
}

}  // namespace

TSshHostConfig ReadSshConfig(const std::string& text, const std::string& alias, const std::string& home,
                             const std::string& localUser) {
  TSshHostConfig config;
  std::vector<std::string> identities;
  bool applies = true;  // lines before the first Host apply to every host
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    const std::string keyword = Lower(words[0]);
    if (keyword == "host") {
      applies = SshPatternsMatch({words.begin() + 1, words.end()}, alias);
      continue;
    }
    if (keyword == "match") {
      applies = false;
      continue;
    }
    if (!applies || words.size() < 2) continue;
    const std::string& value = words[1];
    if (keyword == "hostname" && config.HostName.empty()) {
      config.HostName = Expand(value, alias, "", home, localUser);
    } else if (keyword == "port" && config.Port == 0) {
      char* end = nullptr;
      const long port = std::strtol(value.c_str(), &end, 10);
      if (*end == '\0' && port > 0 && port < 65536) config.Port = static_cast<std::uint16_t>(port);
    } else if (keyword == "user" && config.User.empty()) {
      config.User = value;
    } else if (keyword == "identityfile") {
      identities.push_back(value);
    }
  }
  if (config.HostName.empty()) config.HostName = alias;
  for (const std::string& identity : identities) {
    config.IdentityFiles.push_back(
        Expand(identity, config.HostName, config.User.empty() ? localUser : config.User, home, localUser));
  }
  return config;
}

TSshHostConfig ReadSshConfigFile(const std::string& path, const std::string& alias, const std::string& home,
                                 const std::string& localUser) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  return ReadSshConfig(text.str(), alias, home, localUser);
}
