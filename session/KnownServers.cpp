#include "session/KnownServers.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string_view>

#include "platform/AddressText.h"
#include "session/StateFile.h"

namespace {

constexpr std::string_view kMappedPrefix = "::ffff:";

// An address is one server in whatever form it was typed ("::1", "[::1]", ...), an IPv4
// address mapped into IPv6 the IPv4 address itself.
std::string Key(const std::string& host, std::uint16_t port) {
  std::string address = platform::CanonicalAddressText(host);
  if (address.starts_with(kMappedPrefix) && address.find('.') != std::string::npos) {
    address.erase(0, kMappedPrefix.size());
  }
  std::string lowered = address.empty() ? host : address;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lowered + " " + std::to_string(port);
}

struct Line {
  std::string key;  // "host port"
  std::string fingerprint;
  bool address = false;  // an address connected to, not a name typed: no pin
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
    std::string host, port, fingerprint, kind;
    if (fields >> host >> port >> fingerprint) lines.push_back({host + " " + port, fingerprint, (fields >> kind) && kind == "address"});
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
  if (path_.empty()) return std::nullopt;
  const std::string key = Key(host, port);
  for (const Line& line : LinesOf(path_)) {
    if (line.key == key && !line.address) return line.fingerprint;
  }
  return std::nullopt;
}

bool TKnownServers::DidTls(const std::vector<std::string>& hosts, std::uint16_t port) const {
  if (path_.empty()) return false;
  const std::vector<Line> lines = LinesOf(path_);
  for (const std::string& host : hosts) {
    const std::string key = Key(host, port);
    if (std::any_of(lines.begin(), lines.end(), [&key](const Line& line) { return line.key == key; })) return true;
  }
  return false;
}

bool TKnownServers::Unreadable() const {
  std::vector<Line> lines;
  return !path_.empty() && !ReadLines(path_, lines);
}

TKnownServers::TChange TKnownServers::TryRemember(const std::string& name, const std::string& address,
                                                  std::uint16_t port, const std::string& fingerprint) const {
  return Change(name, address, port, fingerprint, 0);
}

bool TKnownServers::Remember(const std::string& name, const std::string& address, std::uint16_t port,
                             const std::string& fingerprint) const {
  return Change(name, address, port, fingerprint, kLockWaitMs) == TChange::Done;
}

TKnownServers::TChange TKnownServers::Change(const std::string& name, const std::string& address, std::uint16_t port,
                                             const std::string& fingerprint, int waitMs) const {
  if (path_.empty() || fingerprint.empty() || name.empty()) return TChange::Failed;
  if (!talvo::state::MakeFolderOf(path_)) return TChange::Failed;
  const talvo::state::ChangeLock lock(path_ + ".lock", waitMs);
  if (lock.Busy()) return TChange::Busy;
  std::vector<Line> lines;
  if (!lock.Held() || !ReadLines(path_, lines)) return TChange::Failed;
  const auto record = [&lines, &fingerprint](const std::string& key, bool isAddress) {
    std::erase_if(lines, [&](const Line& line) { return line.key == key && line.address == isAddress; });
    lines.push_back({key, fingerprint, isAddress});
  };
  const std::string nameKey = Key(name, port);
  record(nameKey, false);
  if (!address.empty() && Key(address, port) != nameKey) record(Key(address, port), true);
  std::string text;
  for (const Line& line : lines) text += line.key + " " + line.fingerprint + (line.address ? " address" : "") + "\n";
  return talvo::state::ReplaceFile(path_, text) ? TChange::Done : TChange::Failed;
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
