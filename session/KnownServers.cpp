#include "session/KnownServers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <thread>

#include "platform/AddressText.h"

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
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  std::string text;
  char buffer[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  if (n < 0) return false;
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

// mkdir -p, each new folder for the owner only.
bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The exclusive lock of one read-change-write, held until destruction; Held() is false
// when the lock file cannot be opened or another process keeps the lock longer than
// `waitMs` (Busy() then tells the second case).
class ChangeLock {
 public:
  ChangeLock(const std::string& path, int waitMs) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      busy_ = errno == EWOULDBLOCK;
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    busy_ = false;
  }
  ~ChangeLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  bool Held() const { return fd_ >= 0; }
  bool Busy() const { return busy_; }

 private:
  int fd_ = -1;
  bool busy_ = false;
};

// Writes `text` to a new file beside `path` and renames it over `path`. The temporary is
// created exclusively and never through a symbolic link; one left by an earlier process
// that ended half-way is removed first (the caller holds the lock, so nobody writes it).
bool ReplaceFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new-" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                       ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
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
  const std::size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash))) return TChange::Failed;
  const ChangeLock lock(path_ + ".lock", waitMs);
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
  return ReplaceFile(path_, text) ? TChange::Done : TChange::Failed;
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
