#include "sftp/SftpDownload.h"

#include "sftp/SftpListing.h"

TSftpDownload::TSftpDownload(TSftpChannel& channel, std::string remotePath, TLocalFile& local)
    : TSftpTransfer(channel),
      path_(std::move(remotePath)),
      local_(local),
      buffer_(std::make_unique<char[]>(kReadSize)) {}

TSftpDownload::~TSftpDownload() { Stop(); }

void TSftpDownload::Stop() {
  channel_.CloseLater(handle_);
  handle_ = nullptr;
  if (stage_ != Stage::Settled) local_.Forget();
  stage_ = Stage::Settled;
}

TSshStatus TSftpDownload::Step() {
  if (result_ != Result::None) stage_ = Stage::Settled;
  switch (stage_) {
    case Stage::Open:
      return Open();
    case Stage::Stat:
      return Stat();
    case Stage::Read:
      return Read();
    case Stage::Close:
      return Close();
    case Stage::Settled:
      break;
  }
  return result_ == Result::Whole ? TSshStatus::Done : TSshStatus::Failed;
}

TSshStatus TSftpDownload::Open() {
  handle_ = libssh2_sftp_open_ex(channel_.Handle(), path_.c_str(), static_cast<unsigned>(path_.size()),
                                 LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE);
  if (handle_ == nullptr) {
    const int rc = libssh2_session_last_errno(channel_.Session());
    return rc == LIBSSH2_ERROR_EAGAIN ? TSshStatus::Again : Fail(rc);
  }
  stage_ = Stage::Stat;
  return TSshStatus::Progress;
}

// The open file's own size and time: what the download must bring, and whether the part of
// an earlier try may be continued.
TSshStatus TSftpDownload::Stat() {
  LIBSSH2_SFTP_ATTRIBUTES attrs{};
  const int rc = libssh2_sftp_fstat_ex(handle_, &attrs, 0);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  if (rc != 0) return Fail(rc);
  bool folder = false;
  ListingFacts facts;
  TakeAttributes(attrs, folder, facts);
  expected_ = facts.Size;
  modified_ = facts.Modified;
  const std::int64_t part = PartToContinue(local_, expected_, modified_);
  if (const int error = local_.Begin(part); error != 0) return EndLocal(Result::LocalWrite, error);
  if (part > 0) {
    resumedFrom_ = part;
    libssh2_sftp_seek64(handle_, static_cast<libssh2_uint64_t>(part));
  }
  stage_ = Stage::Read;
  if (OnStarted && !OnStarted(resumedFrom_)) return TSshStatus::Failed;
  return TSshStatus::Progress;
}

TSshStatus TSftpDownload::Read() {
  for (int i = 0; i < kReadsPerPass; ++i) {
    const ssize_t n = libssh2_sftp_read(handle_, buffer_.get(), kReadSize);
    if (n == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    if (n < 0) return Fail(static_cast<int>(n));
    if (n == 0) {  // the server's end of file
      stage_ = Stage::Close;
      return TSshStatus::Progress;
    }
    if (const int error = local_.Write(buffer_.get(), static_cast<int>(n)); error != 0) {
      return EndLocal(Result::LocalWrite, error);
    }
    received_ += n;
    if (OnProgress && !OnProgress()) return TSshStatus::Failed;
    if (stage_ == Stage::Settled) return TSshStatus::Failed;  // stopped from the progress handler
  }
  return TSshStatus::Progress;
}

TSshStatus TSftpDownload::Close() {
  const int rc = libssh2_sftp_close_handle(handle_);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  handle_ = nullptr;
  if (rc != 0 && channel_.Classify(rc) != TSftpChannel::Failure::Refused) return Fail(rc);
  // SFTP reports the end of the file in a message of its own, inside the session: an end
  // seen is a true end.
  switch (EndDownload(local_, expected_, resumedFrom_, received_, true, failure_)) {
    case TDownloadEnd::Whole:
      result_ = Result::Whole;
      break;
    case TDownloadEnd::Incomplete:
      result_ = Result::Incomplete;
      break;
    case TDownloadEnd::WriteFailed:
      result_ = Result::LocalWrite;
      break;
  }
  stage_ = Stage::Settled;
  return result_ == Result::Whole ? TSshStatus::Done : TSshStatus::Failed;
}
