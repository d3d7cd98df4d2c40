#include "session/ReceiveTarget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "session/LocalErrors.h"
#include "session/LocalNames.h"

namespace {

// Links followed before the path counts as a loop, as the system counts them.
constexpr int kMaxLinks = 40;

// The process's umask, read without changing it (other threads may be creating files).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

// In a sticky folder of another user, only the owner of an entry may replace it.
bool OnlyItsOwnerMayReplace(const std::string& path, const struct stat& entry) {
  if (entry.st_uid == ::geteuid() || ::geteuid() == 0) return false;
  struct stat folder {};
  return ::stat(FolderOf(path).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
         folder.st_uid != ::geteuid();
}

// Where this user's link `path` leads.
bool Follow(std::string& path) {
  std::string target(4096, '\0');
  const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return false;
  target.resize(static_cast<std::size_t>(n));
  path = target.front() == '/' ? target : JoinPath(FolderOf(path), target);
  return true;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

TReceiveTarget ResolveReceiveTarget(const std::string& path) {
  TReceiveTarget target;
  target.Path = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(target.Path.c_str(), &st) != 0) {
      if (errno != ENOENT) target.Error = errno;
      target.Mode = 0666 & ~CurrentUmask();
      return target;
    }
    if (S_ISLNK(st.st_mode) && st.st_uid == ::geteuid()) {
      if (links == kMaxLinks) {
        target.Error = ELOOP;
      } else if (!Follow(target.Path)) {
        target.Error = errno != 0 ? errno : EINVAL;
      } else {
        continue;
      }
      return target;
    }
    target.Exists = true;
    target.OnlyWritable = OnlyItsOwnerMayReplace(target.Path, st);
    if (S_ISLNK(st.st_mode)) {
      target.IsLink = true;
      // Another user's link: replaced by the downloaded file, never written through.
      if (target.OnlyWritable) target.Error = EPERM;
      target.Mode = 0666 & ~CurrentUmask();
    } else if (!S_ISREG(st.st_mode)) {
      target.Error = kNotAPlainFile;
    } else if (::faccessat(AT_FDCWD, target.Path.c_str(), W_OK, AT_EACCESS) != 0) {
      target.Error = errno;
    } else {
      target.Mode = st.st_mode & 0777;
    }
    return target;
  }
}
