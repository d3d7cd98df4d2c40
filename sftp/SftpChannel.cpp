#include "sftp/SftpChannel.h"

TSftpChannel::~TSftpChannel() {
  // The session is gone or going: what is left is freed without a word to the server.
  for (Work& work : work_) {
    if (work.handle != nullptr) libssh2_sftp_close_handle(work.handle);
  }
  if (sftp_ != nullptr) libssh2_sftp_shutdown(sftp_);
}

TSshStatus TSftpChannel::Open() {
  sftp_ = libssh2_sftp_init(session_);
  if (sftp_ != nullptr) return TSshStatus::Done;
  return libssh2_session_last_errno(session_) == LIBSSH2_ERROR_EAGAIN ? TSshStatus::Again : TSshStatus::Failed;
}

TSftpChannel::Failure TSftpChannel::Classify(int rc) const {
  switch (rc) {
    case LIBSSH2_ERROR_SFTP_PROTOCOL:
      // A status reply: the server refused. Anything else behind this code is a reply that
      // libssh2 could not read.
      return ServerStatus() != LIBSSH2_FX_OK ? Failure::Refused : Failure::Nonsense;
    case LIBSSH2_ERROR_SOCKET_SEND:
    case LIBSSH2_ERROR_SOCKET_RECV:
    case LIBSSH2_ERROR_SOCKET_DISCONNECT:
    case LIBSSH2_ERROR_SOCKET_TIMEOUT:
    case LIBSSH2_ERROR_CHANNEL_CLOSED:
    case LIBSSH2_ERROR_CHANNEL_EOF_SENT:
    case LIBSSH2_ERROR_CHANNEL_FAILURE:
    case LIBSSH2_ERROR_CHANNEL_UNKNOWN:
      return Failure::Broken;
    default:
      return Failure::Nonsense;
  }
}

unsigned long TSftpChannel::ServerStatus() const { return sftp_ != nullptr ? libssh2_sftp_last_error(sftp_) : 0; }

void TSftpChannel::CloseLater(LIBSSH2_SFTP_HANDLE* handle) {
  if (handle != nullptr) work_.push_back({handle, {}});
}

void TSftpChannel::RemoveLater(const std::string& path) { work_.push_back({nullptr, path}); }

TSshStatus TSftpChannel::TidyStep() {
  while (!work_.empty()) {
    Work& work = work_.front();
    const int rc = work.handle != nullptr
                       ? libssh2_sftp_close_handle(work.handle)
                       : libssh2_sftp_unlink_ex(sftp_, work.path.c_str(), static_cast<unsigned>(work.path.size()));
    if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    // libssh2 has freed a handle whatever the answer; a broken session ends everything.
    work_.pop_front();
    if (rc != 0 && Classify(rc) != Failure::Refused) return TSshStatus::Failed;
  }
  return TSshStatus::Done;
}

TSshStatus TSftpChannel::Idle() {
  LIBSSH2_CHANNEL* channel = sftp_ != nullptr ? libssh2_sftp_get_channel(sftp_) : nullptr;
  if (channel == nullptr) return TSshStatus::Again;
  char sink[4096];
  for (int reads = 0; reads < 64; ++reads) {
    const ssize_t n = libssh2_channel_read_stderr(channel, sink, sizeof sink);
    if (n > 0) continue;
    if (n == 0 || n == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    return Classify(static_cast<int>(n)) == Failure::Broken ? TSshStatus::Failed : TSshStatus::Again;
  }
  return TSshStatus::Progress;
}

TSshStatus TSftpChannel::Shutdown() {
  if (sftp_ == nullptr) return TSshStatus::Done;
  const int rc = libssh2_sftp_shutdown(sftp_);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  sftp_ = nullptr;
  return rc == 0 ? TSshStatus::Done : TSshStatus::Failed;
}

std::string RemotePath(const std::string& folder, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}
