#include "session/LocalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

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

}  // namespace

bool TLocalFile::OpenForReceive(const std::string& path) {
  Forget();
  struct stat st {};
  const bool existed = ::lstat(path.c_str(), &st) == 0;
  // A link, a device or a pipe is written through, as it always was.
  if (existed && !S_ISREG(st.st_mode)) return OpenInPlace(path, true);
  // A file this user may not write is refused, as it always was: replacing it would get
  // round that.
  if (existed && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return false;
  const mode_t finalMode = existed ? (st.st_mode & 0777) : (0666 & ~CurrentUmask());
  return OpenTemporary(path, finalMode) || OpenInPlace(path, existed);
}

bool TLocalFile::OpenTemporary(const std::string& path, mode_t finalMode) {
  std::string name = path + ".part.XXXXXX";
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);  // a new file, mode 0600
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  temporary_ = name;
  finalMode_ = finalMode;
  receiving_ = true;
  return true;
}

bool TLocalFile::OpenInPlace(const std::string& path, bool existed) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  receiving_ = true;
  created_ = !existed;
  return true;
}

bool TLocalFile::OpenForStore(const std::string& path) {
  Forget();
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  return true;
}

bool TLocalFile::Claim() {
  if (!receiving_ || claimed_ || path_.empty() || !temporary_.empty()) return true;
  claimed_ = true;
  // Nothing was written before the claim, so the file offset is still 0.
  return IsOpen() ? ::ftruncate(fd_, 0) == 0 : ::truncate(path_.c_str(), 0) == 0;
}

bool TLocalFile::StatPart(struct stat& st) const {
  if (!receiving_ || temporary_.empty()) return false;  // a receive written in place has no part
  return ::lstat((path_ + ".part").c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         st.st_size > 0;
}

std::int64_t TLocalFile::PartSize() const {
  struct stat st {};
  return StatPart(st) ? static_cast<std::int64_t>(st.st_size) : -1;
}

std::int64_t TLocalFile::PartModified() const {
  struct stat st {};
  return StatPart(st) ? static_cast<std::int64_t>(st.st_mtime) : -1;
}

bool TLocalFile::ContinuePart(std::int64_t size) {
  const std::string part = path_ + ".part";
  if (!receiving_ || temporary_.empty() || temporary_ == part) return false;
  const int fd = ::open(part.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != size) {
    if (fd >= 0) ::close(fd);
    return false;
  }
  // The new file has received nothing yet: it goes.
  Close();
  ::unlink(temporary_.c_str());
  fd_ = fd;
  temporary_ = part;
  return true;
}

bool TLocalFile::StartOver() {
  if (temporary_ != path_ + ".part") return true;
  Close();
  temporary_.clear();
  return OpenTemporary(path_, finalMode_);
}

void TLocalFile::Discard() {
  Close();
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  Forget();
}

void TLocalFile::SetBuffer(std::size_t bytes) {
  if (bytes == bufferSize_ || !IsOpen() || bufferEnd_ != 0) return;  // before the first byte only
  buffer_ = bytes > 0 ? std::make_unique<char[]>(bytes) : nullptr;
  bufferSize_ = bytes;
  bufferStart_ = bufferEnd_ = 0;
}

bool TLocalFile::WriteOut(const char* bytes, std::size_t count) {
  std::size_t written = 0;
  while (written < count) {
    const ssize_t w = ::write(fd_, bytes + written, count - written);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    written += static_cast<std::size_t>(w);
  }
  return written == count;
}

// What a receive's buffer holds goes to the file; dropped if the disk does not take it.
bool TLocalFile::FlushBuffer() {
  if (!receiving_ || bufferEnd_ == 0) return true;
  const bool written = WriteOut(buffer_.get(), bufferEnd_);
  bufferEnd_ = 0;
  return written;
}

bool TLocalFile::Write(const char* bytes, int count) {
  const auto n = static_cast<std::size_t>(count);
  if (bufferSize_ == 0) return WriteOut(bytes, n);
  if (bufferEnd_ + n > bufferSize_ && !FlushBuffer()) return false;
  if (n >= bufferSize_) return WriteOut(bytes, n);
  std::memcpy(buffer_.get() + bufferEnd_, bytes, n);
  bufferEnd_ += n;
  return bufferEnd_ < bufferSize_ || FlushBuffer();
}

int TLocalFile::Read(char* bytes, int count) {
  int got = 0;
  while (got < count && IsOpen()) {
    if (bufferSize_ > 0) {
      if (bufferStart_ == bufferEnd_) {
        const ssize_t r = ::read(fd_, buffer_.get(), bufferSize_);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        bufferStart_ = 0;
        bufferEnd_ = static_cast<std::size_t>(r);
      }
      const std::size_t take = std::min(bufferEnd_ - bufferStart_, static_cast<std::size_t>(count - got));
      std::memcpy(bytes + got, buffer_.get() + bufferStart_, take);
      bufferStart_ += take;
      got += static_cast<int>(take);
      continue;
    }
    const ssize_t r = ::read(fd_, bytes + got, static_cast<std::size_t>(count - got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<int>(r);
  }
  return got;
}

std::int64_t TLocalFile::Size() const {
  struct stat st {};
  return IsOpen() && ::fstat(fd_, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
}

bool TLocalFile::Close() {
  if (!IsOpen()) return true;
  const bool flushed = FlushBuffer();
  buffer_.reset();
  bufferSize_ = bufferStart_ = bufferEnd_ = 0;
  const int result = ::close(fd_);
  fd_ = -1;
  // After EINTR the descriptor is gone on Linux and the data were handed over.
  return flushed && (result == 0 || !receiving_ || errno == EINTR);
}

bool TLocalFile::Commit() {
  if (!temporary_.empty()) {
    if (!Close() || ::chmod(temporary_.c_str(), finalMode_) != 0 ||
        ::rename(temporary_.c_str(), path_.c_str()) != 0) {
      return false;
    }
    temporary_.clear();
    ::unlink((path_ + ".part").c_str());  // the part of an earlier try is of no use now
  } else if (!Close()) {
    return false;
  }
  path_.clear();
  receiving_ = created_ = claimed_ = false;
  return true;
}

void TLocalFile::Forget() {
  Close();
  if (!temporary_.empty()) {
    struct stat st {};
    const bool cameSome = ::stat(temporary_.c_str(), &st) == 0 && st.st_size > 0;
    if (!cameSome || ::rename(temporary_.c_str(), (path_ + ".part").c_str()) != 0) ::unlink(temporary_.c_str());
  } else if (receiving_ && created_ && !claimed_ && !path_.empty()) {
    ::unlink(path_.c_str());
  }
  path_.clear();
  temporary_.clear();
  receiving_ = created_ = claimed_ = false;
}
