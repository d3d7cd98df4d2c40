#include "session/PartMark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr const char* kAttribute = "user.talvo-ftp.origin";
constexpr std::size_t kMaxMark = 64 * 1024;

std::string CompanionOf(const std::string& partPath) { return partPath + ".origin"; }

// The file system keeps no extended attributes of users.
bool NoAttributes(int error) { return error == ENOTSUP || error == EOPNOTSUPP; }

// The companion's text, when it is a plain file of this user.
std::optional<std::string> ReadCompanion(const std::string& partPath) {
  const int fd = ::open(CompanionOf(partPath).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
      static_cast<std::size_t>(st.st_size) <= kMaxMark) {
    text.resize(static_cast<std::size_t>(st.st_size));
    if (::read(fd, text.data(), text.size()) != st.st_size) text.clear();
  }
  ::close(fd);
  if (text.empty()) return std::nullopt;
  return text;
}

int WriteCompanion(const std::string& partPath, const std::string& text) {
  const int fd = ::open(CompanionOf(partPath).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  struct stat st {};
  int error = 0;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    error = EEXIST;  // someone else's file of that name: not written
  } else if (::ftruncate(fd, 0) != 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    error = errno != 0 ? errno : EIO;
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

std::optional<TPartOrigin> ReadPartMark(int fd, const std::string& partPath, TMarkPlace& place) {
  std::string text(kMaxMark, '\0');
  const ssize_t n = ::fgetxattr(fd, kAttribute, text.data(), text.size());
  if (n >= 0 || !NoAttributes(errno)) {
    place = TMarkPlace::Attribute;
    if (n < 0) return std::nullopt;
    text.resize(static_cast<std::size_t>(n));
    return TPartOrigin::Parse(text);
  }
  place = TMarkPlace::Companion;
  const std::optional<std::string> companion = ReadCompanion(partPath);
  if (!companion) return std::nullopt;
  return TPartOrigin::Parse(*companion);
}

int WriteAttributeMark(int fd, const TPartOrigin& origin) {
  const std::string text = origin.Text();
  return ::fsetxattr(fd, kAttribute, text.data(), text.size(), 0) == 0 ? 0 : errno;
}

int WritePartMark(int fd, const std::string& partPath, const TPartOrigin& origin, TMarkPlace& place) {
  const std::string text = origin.Text();
  if (::fsetxattr(fd, kAttribute, text.data(), text.size(), 0) == 0) {
    place = TMarkPlace::Attribute;
    return 0;
  }
  const int error = errno;
  if (!NoAttributes(error)) return error;
  place = TMarkPlace::Companion;
  return WriteCompanion(partPath, text);
}

void RemovePartMark(const std::string& finalPath, const std::string& partPath, TMarkPlace place) {
  if (place == TMarkPlace::Attribute) ::lremovexattr(finalPath.c_str(), kAttribute);
  if (place == TMarkPlace::Companion) ::unlink(CompanionOf(partPath).c_str());
}
