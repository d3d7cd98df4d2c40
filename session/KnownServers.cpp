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
#include <thread>

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

// mkdir -p, each new folder for the owner only.
bool MakeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The exclusive lock of one read-change-write, held until destruction; Held() is false
// when the lock file cannot be opened or another process keeps the lock too long.
class ChangeLock {
 public:
  ChangeLock(const std::string& path, int waitMs) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~ChangeLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
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
  const std::size_t slash = path_.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path_.substr(0, slash))) return false;
  const ChangeLock lock(path_ + ".lock", kLockWaitMs);
  std::vector<Line> lines;
  if (!lock.Held() || !ReadLines(path_, lines)) return false;
  for (const std::string& host : hosts) {
    const std::string key = Key(host, port);
    std::erase_if(lines, [&key](const Line& line) { return line.key == key; });
    lines.push_back({key, fingerprint});
  }
  std::string text;
  for (const Line& line : lines) text += line.key + " " + line.fingerprint + "\n";
  return ReplaceFile(path_, text);
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
