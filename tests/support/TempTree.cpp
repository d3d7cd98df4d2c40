#include "tests/support/TempTree.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "tests/support/TestPattern.h"

namespace talvo::test {

namespace {

constexpr const char* kTempParent = "/tmp";
constexpr std::string_view kTreePrefix = "talvo-test-";

// The process id in "talvo-test-LABEL-PID-XXXXXX", or 0.
pid_t OwnerOf(std::string_view name) {
  const auto last = name.rfind('-');
  if (last == std::string_view::npos || last == 0) return 0;
  const auto before = name.rfind('-', last - 1);
  if (before == std::string_view::npos) return 0;
  const std::string digits(name.substr(before + 1, last - before - 1));
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<pid_t>(std::strtol(digits.c_str(), nullptr, 10));
}

// Trees whose process has ended were left by a crashed run.
void RemoveStaleTrees() {
  DIR* dir = ::opendir(kTempParent);
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, kTreePrefix.size()) != kTreePrefix) continue;
    const pid_t owner = OwnerOf(name);
    if (owner <= 0 || owner == ::getpid()) continue;
    if (::kill(owner, 0) == -1 && errno == ESRCH) RemoveTree(std::string(kTempParent) + "/" + std::string(name));
  }
  ::closedir(dir);
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  return ::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

}  // namespace

bool RemoveTree(const std::string& path) {
  ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  struct stat info {};
  return ::lstat(path.c_str(), &info) != 0 && errno == ENOENT;
}

TempTree::TempTree(std::string_view label) {
  static std::once_flag staleRemoved;
  std::call_once(staleRemoved, RemoveStaleTrees);
  std::string pattern = std::string(kTempParent) + "/" + std::string(kTreePrefix) + std::string(label) +
                        "-" + std::to_string(::getpid()) + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    Report("mkdtemp", pattern);
    return;
  }
  // Servers that drop privileges must be able to walk into the tree.
  ::chmod(pattern.c_str(), 0755);
  path_ = std::move(pattern);
}

TempTree::~TempTree() {
  if (Valid() && !RemoveTree(path_)) {
    ADD_FAILURE() << "could not remove the temporary tree " << path_;
  }
}

std::string TempTree::PathOf(std::string_view relative) const {
  if (relative.empty()) return path_;
  return path_ + "/" + std::string(relative);
}

bool TempTree::Report(const std::string& what, const std::string& path) {
  ADD_FAILURE() << what << " failed for " << path << ": " << std::strerror(errno);
  return false;
}

bool TempTree::Adopt(const std::string& path) {
  if (!uid_) return true;
  if (::lchown(path.c_str(), *uid_, gid_) != 0) return Report("lchown", path);
  return true;
}

bool TempTree::SetOwner(uid_t uid, gid_t gid, mode_t directoryMode) {
  uid_ = uid;
  gid_ = gid;
  directoryMode_ = directoryMode;
  return Valid() && Adopt(path_);
}

bool TempTree::MakeParents(std::string_view relative) {
  const auto slash = relative.rfind('/');
  return slash == std::string_view::npos || MakeDirectory(relative.substr(0, slash));
}

bool TempTree::MakeDirectory(std::string_view relative) {
  if (!Valid()) return false;
  std::size_t end = 0;
  while (end != std::string_view::npos) {
    end = relative.find('/', end + 1);
    const std::string path = PathOf(relative.substr(0, end));
    if (::mkdir(path.c_str(), directoryMode_) == 0) {
      // mkdir applies the umask; the mode asked for is the one wanted.
      if (::chmod(path.c_str(), directoryMode_) != 0 || !Adopt(path)) return false;
    } else if (errno != EEXIST) {
      return Report("mkdir", path);
    }
  }
  return true;
}

bool TempTree::WriteFile(std::string_view relative, std::string_view contents) {
  if (!Valid() || !MakeParents(relative)) return false;
  const std::string path = PathOf(relative);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Report("open", path);
  std::size_t written = 0;
  while (written < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return Report("write", path);
    }
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return Adopt(path);
}

bool TempTree::WritePatternFile(std::string_view relative, std::uint64_t size) {
  if (!Valid() || !MakeParents(relative)) return false;
  const std::string path = PathOf(relative);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Report("open", path);
  std::string block(1 << 20, '\0');
  for (std::uint64_t offset = 0; offset < size;) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - offset));
    FillPattern(offset, block.data(), count);
    std::size_t written = 0;
    while (written < count) {
      const ssize_t n = ::write(fd, block.data() + written, count - written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(fd);
        return Report("write", path);
      }
      written += static_cast<std::size_t>(n);
    }
    offset += count;
  }
  ::close(fd);
  return Adopt(path);
}

bool TempTree::WriteSparseFile(std::string_view relative, std::uint64_t size) {
  if (!Valid() || !MakeParents(relative)) return false;
  const std::string path = PathOf(relative);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Report("open", path);
  const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  ::close(fd);
  if (!sized) return Report("ftruncate", path);
  return Adopt(path);
}

bool TempTree::MakeSymlink(std::string_view relative, std::string_view target) {
  if (!Valid() || !MakeParents(relative)) return false;
  const std::string path = PathOf(relative);
  if (::symlink(std::string(target).c_str(), path.c_str()) != 0) return Report("symlink", path);
  return Adopt(path);
}

std::string TempTree::ReadFile(std::string_view relative) const {
  std::string contents;
  const int fd = ::open(PathOf(relative).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return contents;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    contents.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return contents;
}

bool TempTree::Exists(std::string_view relative) const {
  struct stat info {};
  return ::lstat(PathOf(relative).c_str(), &info) == 0;
}

std::optional<std::uint64_t> TempTree::FileSize(std::string_view relative) const {
  struct stat info {};
  if (::stat(PathOf(relative).c_str(), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

}  // namespace talvo::test
