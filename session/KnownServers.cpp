#include "session/KnownServers.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "platform/AddressText.h"
#include "session/StateFile.h"

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

// The file's lines; false when it exists and cannot be read (a rewrite would lose them).
bool ReadLines(const std::string& path, std::vector<Line>& lines) {
  lines.clear();
  std::string text;
  if (!talvo::state::ReadWhole(path, text)) return false;
  std::istringstream in(text);
  std::string row;
  while (std::getline(in, row)) {
    std::istringstream fields(row);
    std::string host, port, fingerprint;
    if (fields >> host >> port >> fingerprint) lines.push_back({host + " " + port, fingerprint});
  }
  return true;
}

std::vector<Line> LinesOf(const std::string& path) {
  std::vector<Line> lines;
  ReadLines(path, lines);
  return lines;
}

}  // namespace

std::optional<std::string> TKnownServers::Find(const std::string& host, std::uint16_t port) const {
  const std::vector<std::string> found = Fingerprints({host}, port);
  if (found.empty()) return std::nullopt;
  return found.front();
}

std::vector<std::string> TKnownServers::Fingerprints(const std::vector<std::string>& hosts,
                                                     std::uint16_t port) const {
  std::vector<std::string> found;
  if (path_.empty()) return found;
  const std::vector<Line> lines = LinesOf(path_);
  for (const std::string& host : hosts) {
    const std::string key = Key(host, port);
    for (const Line& line : lines) {
      if (line.key == key && std::find(found.begin(), found.end(), line.fingerprint) == found.end()) {
        found.push_back(line.fingerprint);
      }
    }
  }
  return found;
}

bool TKnownServers::Remember(const std::vector<std::string>& hosts, std::uint16_t port,
                             const std::string& fingerprint) const {
  if (path_.empty() || fingerprint.empty() || hosts.empty()) return false;
  if (!talvo::state::MakeFolderOf(path_)) return false;
  const talvo::state::ChangeLock lock(path_ + ".lock", kLockWaitMs);
  std::vector<Line> lines;
  if (!lock.Held() || !ReadLines(path_, lines)) return false;
  for (const std::string& host : hosts) {
    const std::string key = Key(host, port);
    std::erase_if(lines, [&key](const Line& line) { return line.key == key; });
    lines.push_back({key, fingerprint});
  }
  std::string text;
  for (const Line& line : lines) text += line.key + " " + line.fingerprint + "\n";
  return talvo::state::ReplaceFile(path_, text);
}

std::string DefaultKnownServersPath() {
  return talvo::state::ConfigPath("known-servers");
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
