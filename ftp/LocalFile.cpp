#include "ftp/LocalFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

void TLocalFile::Forget() {
  Close();
  if (receiving_ && created_ && !claimed_ && !path_.empty()) ::unlink(path_.c_str());
  path_.clear();
  receiving_ = created_ = claimed_ = false;
}
