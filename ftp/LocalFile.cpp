#include "ftp/LocalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

bool TLocalFile::OpenForReceive(const std::string& path) {
  Close();
  struct stat st {};
  const bool existed = ::stat(path.c_str(), &st) == 0;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  receiving_ = true;
  created_ = !existed;
  claimed_ = false;
  return true;
}

bool TLocalFile::OpenForStore(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  receiving_ = false;
  created_ = false;
  claimed_ = false;
  return true;
}

bool TLocalFile::Claim() {
  if (!receiving_ || claimed_ || path_.empty()) return true;
  claimed_ = true;
  // Nothing was written before the claim, so the file offset is still 0.
  return IsOpen() ? ::ftruncate(fd_, 0) == 0 : ::truncate(path_.c_str(), 0) == 0;
}

bool TLocalFile::Write(const char* bytes, int count) {
  int written = 0;
  while (written < count) {
    const ssize_t w = ::write(fd_, bytes + written, static_cast<std::size_t>(count - written));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    written += static_cast<int>(w);
  }
  return written == count;
}

int TLocalFile::Read(char* bytes, int count) {
  int got = 0;
  while (got < count && IsOpen()) {
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
  const int result = ::close(fd_);
  fd_ = -1;
  // After EINTR the descriptor is gone on Linux and the data were handed over.
  return result == 0 || !receiving_ || errno == EINTR;
}

void TLocalFile::Forget() {
  Close();
  if (receiving_ && created_ && !claimed_ && !path_.empty()) ::unlink(path_.c_str());
  path_.clear();
  receiving_ = created_ = claimed_ = false;
}
