#include "session/KeptPart.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "session/ReceiveTarget.h"

std::string PartName(const std::string& target, int n) {
  return n == 0 ? target + ".part" : target + "~" + std::to_string(n) + ".part";
}

int OpenOwnPart(const std::string& part, const std::string& targetName, TPartOrigin& mark, TMarkPlace& place) {
  const int fd = ::open(part.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st {};
  std::optional<TPartOrigin> read;
  // A part another copy of the program is receiving into is locked: it is left to it.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    read = ReadPartMark(fd, part, place);
  }
  if (!read || read->Target != targetName) {
    ::close(fd);
    return -1;
  }
  mark = *read;
  return fd;
}

std::optional<TKeptPart> FindKeptPart(const std::string& target) {
  const TReceiveTarget resolved = ResolveReceiveTarget(target);
  if (resolved.Error != 0 || resolved.OnlyWritable) return std::nullopt;  // no part is written for it
  for (int n = 0; n < kPartNames; ++n) {
    TKeptPart part;
    part.Path = PartName(resolved.Path, n);
    struct stat st {};
    if (::lstat(part.Path.c_str(), &st) != 0) return std::nullopt;  // a free name: a download begins a part there
    const int fd = OpenOwnPart(part.Path, NameOf(resolved.Path), part.Mark, part.Place);
    if (fd < 0) continue;
    if (::fstat(fd, &st) == 0) part.Size = static_cast<std::int64_t>(st.st_size);
    ::close(fd);
    return part;
  }
  return std::nullopt;
}

bool ContinuesKeptPart(const TKeptPart& part, const TPartOrigin& source) {
  const TPartOrigin& mark = part.Mark;
  const std::string& marked = !mark.RemotePath.empty() ? mark.RemotePath : mark.LoginPath;
  const bool samePath = source.RemotePath.starts_with('/') && !mark.RemotePath.empty()
                            ? source.RemotePath == mark.RemotePath
                            : !marked.empty() && NameOf(marked) == NameOf(source.RemotePath);
  return samePath && ::strcasecmp(mark.Server.c_str(), source.Server.c_str()) == 0 && mark.Port == source.Port &&
         mark.User == source.User && part.Size > 0 && (source.Size < 0 || part.Size < source.Size);
}

void RemoveKeptPart(const TKeptPart& part) {
  TPartOrigin mark;
  TMarkPlace place = TMarkPlace::None;
  const int fd = OpenOwnPart(part.Path, part.Mark.Target, mark, place);
  if (fd < 0) return;  // gone, or no longer this program's: left alone
  ::unlink(part.Path.c_str());
  RemovePartMark(part.Path, part.Path, place);
  ::close(fd);
}
