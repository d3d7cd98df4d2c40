#include "sftp/SftpUpload.h"

#include "session/LocalErrors.h"

#include <sys/stat.h>

#include <cstring>
#include <random>

#include "sftp/SftpListing.h"

std::string TemporaryUploadName(const std::string& path) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device random;
  std::string name = path + ".part.";
  for (int i = 0; i < 6; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name;
}

TSftpUpload::TSftpUpload(TSftpChannel& channel, std::string remotePath, TLocalFile& local, long localMode)
    : TSftpTransfer(channel),
      target_(std::move(remotePath)),
      temporary_(TemporaryUploadName(target_)),
      local_(local),
      mode_(localMode & 0777),
      buffer_(std::make_unique<char[]>(kBufferSize)),
      size_(local.Size()) {}

TSftpUpload::~TSftpUpload() { Stop(); }

void TSftpUpload::Stop() {
  channel_.CloseLater(handle_);
  handle_ = nullptr;
  // Only the temporary file goes: a target written in place stays as far as it came.
  if (stage_ != Stage::Done && written_ == temporary_) channel_.RemoveLater(temporary_);
  stage_ = Stage::Done;
}

TSshStatus TSftpUpload::Step() {
  if (result_ != Result::None) stage_ = Stage::Done;
  switch (stage_) {
    case Stage::StatTarget:
      return StatTarget();
    case Stage::OpenTemporary:
      return Open(true);
    case Stage::OpenTarget:
      return Open(false);
    case Stage::Write:
      return Write();
    case Stage::Close:
      return Close();
    case Stage::Rename:
      return Rename();
    case Stage::Replace:
      return Replace();
    case Stage::Done:
      break;
  }
  return result_ == Result::Whole ? TSshStatus::Done : TSshStatus::Failed;
}

// A target that exists lends its permissions to the file that replaces it.
TSshStatus TSftpUpload::StatTarget() {
  LIBSSH2_SFTP_ATTRIBUTES attrs{};
  const int rc = libssh2_sftp_stat_ex(channel_.Handle(), target_.c_str(), static_cast<unsigned>(target_.size()),
                                      LIBSSH2_SFTP_STAT, &attrs);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  if (rc == 0 && (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) != 0) {
    if (S_ISDIR(attrs.permissions)) return Fail(LIBSSH2_ERROR_SFTP_PROTOCOL);  // refused: a folder of that name
    mode_ = static_cast<long>(attrs.permissions & 07777);
  } else if (rc != 0 && channel_.Classify(rc) != TSftpChannel::Failure::Refused) {
    return Fail(rc);
  }
  stage_ = Stage::OpenTemporary;
  return TSshStatus::Progress;
}

TSshStatus TSftpUpload::Open(bool temporary) {
  const std::string& path = temporary ? temporary_ : target_;
  const unsigned long flags =
      LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | (temporary ? LIBSSH2_FXF_EXCL : LIBSSH2_FXF_TRUNC);
  handle_ = libssh2_sftp_open_ex(channel_.Handle(), path.c_str(), static_cast<unsigned>(path.size()), flags, mode_,
                                 LIBSSH2_SFTP_OPENFILE);
  if (handle_ == nullptr) {
    const int rc = libssh2_session_last_errno(channel_.Session());
    if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    if (temporary && channel_.Classify(rc) == TSftpChannel::Failure::Refused) {
      stage_ = Stage::OpenTarget;  // no new file beside the target: write the target itself
      return TSshStatus::Progress;
    }
    return Fail(rc);
  }
  written_ = path;
  stage_ = Stage::Write;
  if (OnStarted && !OnStarted()) return TSshStatus::Failed;
  return TSshStatus::Progress;
}

// Keeps the buffer more than half full: the unacknowledged bytes stay at its front, as
// libssh2 wants them again on the next call.
bool TSftpUpload::Fill() {
  if (localEnd_ || end_ - start_ > kBufferSize / 2) return true;
  std::memmove(buffer_.get(), buffer_.get() + start_, end_ - start_);
  end_ -= start_;
  start_ = 0;
  while (end_ < kBufferSize) {
    const int n = local_.Read(buffer_.get() + end_, static_cast<int>(kBufferSize - end_));
    if (n <= 0) {
      localEnd_ = true;
      // Fewer bytes than the file had when it was opened: a read that failed.
      return read_ >= size_;
    }
    end_ += static_cast<std::size_t>(n);
    read_ += n;
  }
  return true;
}

TSshStatus TSftpUpload::Write() {
  for (int i = 0; i < kWritesPerPass; ++i) {
    if (!Fill()) return EndLocal(Result::LocalRead, local_.ReadError() != 0 ? local_.ReadError() : kFileShrank);
    if (start_ == end_) {
      stage_ = Stage::Close;
      return TSshStatus::Progress;
    }
    const ssize_t n = libssh2_sftp_write(handle_, buffer_.get() + start_, end_ - start_);
    if (n == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    if (n < 0) return Fail(static_cast<int>(n));
    start_ += static_cast<std::size_t>(n);
    acknowledged_ += n;
    if (n > 0 && OnProgress && !OnProgress()) return TSshStatus::Failed;
    if (stage_ == Stage::Done) return TSshStatus::Failed;  // stopped from the progress handler
  }
  return TSshStatus::Progress;
}

TSshStatus TSftpUpload::Close() {
  const int rc = libssh2_sftp_close_handle(handle_);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  handle_ = nullptr;
  if (rc != 0) return Fail(rc);  // the server may not have the whole file
  if (written_ == target_) return End(Result::Whole);
  stage_ = Stage::Rename;
  return TSshStatus::Progress;
}

// SFTP's rename does not replace a file on most servers: where the target exists, it is
// removed first and the rename made again (the new file, whole, stays under its temporary
// name if even that fails).
TSshStatus TSftpUpload::Rename() {
  const int rc =
      libssh2_sftp_rename_ex(channel_.Handle(), temporary_.c_str(), static_cast<unsigned>(temporary_.size()),
                             target_.c_str(), static_cast<unsigned>(target_.size()),
                             LIBSSH2_SFTP_RENAME_OVERWRITE | LIBSSH2_SFTP_RENAME_ATOMIC | LIBSSH2_SFTP_RENAME_NATIVE);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  if (rc == 0) return End(Result::Whole);
  if (channel_.Classify(rc) != TSftpChannel::Failure::Refused) return Fail(rc);
  stage_ = Stage::Replace;
  return TSshStatus::Progress;
}

TSshStatus TSftpUpload::Replace() {
  const int rc = libssh2_sftp_unlink_ex(channel_.Handle(), target_.c_str(), static_cast<unsigned>(target_.size()));
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  if (rc != 0) {
    failure_ = rc;
    result_ = Result::Refused;
    stage_ = Stage::Done;  // the whole file stays under its temporary name
    return TSshStatus::Failed;
  }
  stage_ = Stage::Rename;
  return TSshStatus::Progress;
}
