#include "session/LocalFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "session/KeptPart.h"
#include "session/LocalErrors.h"
#include "session/ReceiveTarget.h"

namespace {

int ErrnoOr(int fallback) { return errno != 0 ? errno : fallback; }

}  // namespace

int TLocalFile::OpenForReceive(const std::string& path, const TPartOrigin& origin) {
  Forget();
  left_ = TLeftOnDisk::Untouched;
  leftPath_.clear();
  const TReceiveTarget target = ResolveReceiveTarget(path);
  if (target.Error != 0) return target.Error;
  path_ = target.Path;
  finalMode_ = target.Mode;
  receiving_ = true;
  origin_ = origin;
  origin_.Target = NameOf(path_);
  if (target.OnlyWritable) return OpenInPlace(true);
  const int error = OpenPart();
  if (error == 0) return 0;
  // A folder that takes no new file, or a name with no room left for ".part".
  const bool noPart = error == EACCES || error == EPERM || error == ENAMETOOLONG;
  if (noPart && !target.IsLink && OpenInPlace(target.Exists) == 0) return 0;
  Reset();
  return error;
}

int TLocalFile::OpenPart() {
  for (int n = 0; n < kPartNames; ++n) {
    const std::string part = PartName(path_, n);
    struct stat st {};
    if (::lstat(part.c_str(), &st) == 0) {
      if (TakeEarlierPart(part) == 0) return 0;
      continue;  // not this program's part of this file: left alone
    }
    if (errno != ENOENT) return errno;
    const int error = CreateMarkedPart(part);
    if (error != EEXIST) return error;  // else made by someone else meanwhile
  }
  return EEXIST;
}

// The part is made unnamed, marked, then given its name, so that no crash ever leaves it
// without its mark; where the file system cannot do that, it is marked at once after it is
// made.
int TLocalFile::CreateMarkedPart(const std::string& part) {
  int fd = ::open(FolderOf(part).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    int error = WriteAttributeMark(fd, origin_);
    if (error == 0) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      error = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, part.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }
    if (error == 0) {
      ::flock(fd, LOCK_EX | LOCK_NB);
      fd_ = fd;
      part_ = part;
      markPlace_ = TMarkPlace::Attribute;
      return 0;
    }
    ::close(fd);
    if (error != ENOTSUP && error != EOPNOTSUPP && error != ENOENT) return error;
  } else if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOSPC || errno == EDQUOT) {
    return errno;
  }
  fd = ::open(part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  ::flock(fd, LOCK_EX | LOCK_NB);
  fd_ = fd;
  part_ = part;
  if (const int error = WritePartMark(fd_, part_, origin_, markPlace_); error != 0) {
    ::unlink(part_.c_str());
    return error;
  }
  return 0;
}

// An existing part is this program's only when it is a plain file of this user marked for
// this same local file (see KeptPart.h).
int TLocalFile::TakeEarlierPart(const std::string& part) {
  TMarkPlace place = TMarkPlace::None;
  const int fd = OpenOwnPart(part, origin_.Target, earlier_, place);
  if (fd < 0) return EEXIST;
  fd_ = fd;
  part_ = part;
  markPlace_ = place;
  earlierPart_ = true;
  return 0;
}

int TLocalFile::OpenInPlace(bool existed) {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // replaced meanwhile
    ::close(fd);
    return kNotAPlainFile;
  }
  fd_ = fd;
  inPlace_ = true;
  created_ = !existed;
  return 0;
}

int TLocalFile::OpenForStore(const std::string& path) {
  Forget();
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kNotAPlainFile;
  }
  fd_ = fd;
  path_ = path;
  return 0;
}

int TLocalFile::Claim() {
  if (!inPlace_ || claimed_ || path_.empty()) return 0;
  claimed_ = true;
  // Nothing was written before the claim, so the file offset is still 0.
  const int result = IsOpen() ? ::ftruncate(fd_, 0) : ::truncate(path_.c_str(), 0);
  return result == 0 ? 0 : errno;
}

std::int64_t TLocalFile::PartSize() const {
  struct stat st {};
  if (!earlierPart_ || !IsOpen() || ::fstat(fd_, &st) != 0 || st.st_size == 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t TLocalFile::ResumableFrom(std::int64_t size, std::int64_t modified) {
  origin_.Size = size;
  origin_.Modified = modified;
  const std::int64_t part = PartSize();
  return part > 0 && part < size && origin_.Continues(earlier_) ? part : 0;
}

int TLocalFile::Begin(std::int64_t offset) {
  if (part_.empty() || std::exchange(begun_, true)) return 0;
  if (offset > 0) return ::lseek(fd_, 0, SEEK_END) == offset ? 0 : ErrnoOr(EIO);
  earlierPart_ = false;
  if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return errno;
  return WritePartMark(fd_, part_, origin_, markPlace_);
}

int TLocalFile::StartOver() {
  if (part_.empty()) return 0;
  bufferEnd_ = 0;
  return ::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0 ? 0 : errno;
}

void TLocalFile::Discard() {
  Close();
  if (!part_.empty()) {
    ::unlink(part_.c_str());
    RemovePartMark(part_, part_, markPlace_);
  }
  part_.clear();
  Forget();
}

void TLocalFile::SetBuffer(std::size_t bytes) {
  if (bytes == bufferSize_ || !IsOpen() || bufferEnd_ != 0) return;  // before the first byte only
  buffer_ = bytes > 0 ? std::make_unique<char[]>(bytes) : nullptr;
  bufferSize_ = bytes;
  bufferStart_ = bufferEnd_ = 0;
}

int TLocalFile::WriteOut(const char* bytes, std::size_t count) {
  std::size_t written = 0;
  while (written < count) {
    const ssize_t w = ::write(fd_, bytes + written, count - written);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errno;
    if (w == 0) return ENOSPC;
    written += static_cast<std::size_t>(w);
  }
  return 0;
}

// What a receive's buffer holds goes to the file; dropped if the disk does not take it.
int TLocalFile::FlushBuffer() {
  if (!receiving_ || bufferEnd_ == 0) return 0;
  const int error = WriteOut(buffer_.get(), bufferEnd_);
  bufferEnd_ = 0;
  return error;
}

int TLocalFile::Write(const char* bytes, int count) {
  const auto n = static_cast<std::size_t>(count);
  if (bufferSize_ == 0) return WriteOut(bytes, n);
  if (bufferEnd_ + n > bufferSize_) {
    if (const int error = FlushBuffer(); error != 0) return error;
  }
  if (n >= bufferSize_) return WriteOut(bytes, n);
  std::memcpy(buffer_.get() + bufferEnd_, bytes, n);
  bufferEnd_ += n;
  return bufferEnd_ < bufferSize_ ? 0 : FlushBuffer();
}

int TLocalFile::Read(char* bytes, int count) {
  int got = 0;
  readError_ = 0;
  while (got < count && IsOpen()) {
    char* into = bytes + got;
    std::size_t room = static_cast<std::size_t>(count - got);
    if (bufferSize_ > 0) {
      if (bufferStart_ < bufferEnd_) {
        const std::size_t take = std::min(bufferEnd_ - bufferStart_, room);
        std::memcpy(into, buffer_.get() + bufferStart_, take);
        bufferStart_ += take;
        got += static_cast<int>(take);
        continue;
      }
      into = buffer_.get();
      room = bufferSize_;
    }
    const ssize_t r = ::read(fd_, into, room);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      readError_ = r < 0 ? errno : kFileShrank;
      break;
    }
    if (bufferSize_ > 0) {
      bufferStart_ = 0;
      bufferEnd_ = static_cast<std::size_t>(r);
    } else {
      got += static_cast<int>(r);
    }
  }
  return got;
}

std::int64_t TLocalFile::Size() const {
  struct stat st {};
  return IsOpen() && ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

std::int64_t TLocalFile::SizeToSend() {
  struct stat st {};
  if (!IsOpen() || ::fstat(fd_, &st) != 0) return 0;
  sizedSize_ = static_cast<std::int64_t>(st.st_size);
  sizedModified_ = st.st_mtim;
  return sizedSize_;
}

bool TLocalFile::ChangedSinceSized() const {
  struct stat st {};
  if (!IsOpen() || sizedSize_ < 0 || ::fstat(fd_, &st) != 0) return false;
  return static_cast<std::int64_t>(st.st_size) != sizedSize_ || st.st_mtim.tv_sec != sizedModified_.tv_sec ||
         st.st_mtim.tv_nsec != sizedModified_.tv_nsec;
}

int TLocalFile::Close() {
  if (!IsOpen()) return 0;
  const int flushed = FlushBuffer();
  buffer_.reset();
  bufferSize_ = bufferStart_ = bufferEnd_ = 0;
  const int result = ::close(fd_);
  const int closeError = result == 0 ? 0 : errno;
  fd_ = -1;
  if (flushed != 0) return flushed;
  // After EINTR the descriptor is gone on Linux and the data were handed over.
  return !receiving_ || closeError == EINTR ? 0 : closeError;
}

int TLocalFile::Commit() {
  if (const int error = Close(); error != 0) return error;
  if (!part_.empty()) {
    const int fd = ::open(part_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const bool modeSet = fd >= 0 && ::fchmod(fd, finalMode_) == 0;
    const int error = modeSet ? 0 : errno;
    if (fd >= 0) ::close(fd);
    if (!modeSet) return error;
    if (::rename(part_.c_str(), path_.c_str()) != 0) return errno;
    RemovePartMark(path_, part_, markPlace_);
    part_.clear();
  }
  Reset();
  return 0;
}

void TLocalFile::Forget() {
  Close();
  if (!part_.empty()) {
    struct stat st {};
    if (::lstat(part_.c_str(), &st) == 0 && st.st_size > 0) {
      left_ = TLeftOnDisk::PartKept;
      leftPath_ = part_;
    } else {
      ::unlink(part_.c_str());
      RemovePartMark(part_, part_, markPlace_);
    }
  } else if (inPlace_ && created_ && !claimed_ && !path_.empty()) {
    ::unlink(path_.c_str());
  } else if (inPlace_ && claimed_) {
    left_ = TLeftOnDisk::TargetPartial;
    leftPath_ = path_;
  }
  Reset();
}

void TLocalFile::Reset() {
  if (IsOpen()) Close();
  path_.clear();
  part_.clear();
  origin_ = earlier_ = {};
  markPlace_ = TMarkPlace::None;
  receiving_ = earlierPart_ = begun_ = inPlace_ = created_ = claimed_ = false;
  sizedSize_ = -1;
}
