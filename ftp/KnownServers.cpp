#include "ftp/KnownServers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/AddressText.h"

namespace {

// An address is one server in whatever form it was typed ("::1", "[::1]", ...).
std::string Key(const std::string& host, std::uint16_t port) {
  const std::string address = platform::CanonicalAddressText(host);
  std::string lowered = address.empty() ? host : address;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered + " " + std::to_string(port);
}

struct Line {
  std::string key;  // "host port"
  std::string fingerprint;
};

std::vector<Line> ReadLines(const std::string& path) {
  std::vector<Line> lines;
  std::ifstream in(path);
  std::string text;
  while (std::getline(in, text)) {
    std::istringstream fields(text);
    std::string host, port, fingerprint;
    if (fields >> host >> port >> fingerprint) lines.push_back({host + " " + port, fingerprint});
  }
  return lines;
}

// mkdir -p, each new folder for the owner only.
bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

std::optional<std::string> TKnownServers::Find(const std::string& host, std::uint16_t port) const {
  if (path_.empty()) return std::nullopt;
  const std::string key = Key(host, port);
  for (const Line& line : ReadLines(path_)) {
    if (line.key == key) return line.fingerprint;
  }
  return std::nullopt;
}

bool TKnownServers::Remember(const std::string& host, std::uint16_t port, const std::string& fingerprint) const {
  if (path_.empty() || fingerprint.empty()) return false;
  std::vector<Line> lines = ReadLines(path_);
  const std::string key = Key(host, port);
  std::erase_if(lines, [&key](const Line& line) { return line.key == key; });
  lines.push_back({key, fingerprint});
  const std::size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash))) return false;
  const std::string temporary = path_ + ".new-" + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string text;
  for (const Line& line : lines) text += line.key + " " + line.fingerprint + "\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

std::string DefaultKnownServersPath() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    return std::string(config) + "/talvo-ftp/known-servers";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::string(home) + "/.config/talvo-ftp/known-servers";
  }
  return {};
}

std::string NormalisedFingerprint(const std::string& typed) {
  std::string hex;
  for (const char c : typed) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (hex.size() != 64) return {};
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out += ':';
    out += hex.substr(i, 2);
  }
  return out;
}
