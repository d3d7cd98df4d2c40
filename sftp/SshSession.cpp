#include "sftp/SshSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>

#include "transport/velasock.h"

namespace {

// libssh2's global state (its crypto back end), set up once for the process.
void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { libssh2_init(0); });
}

}  // namespace

TSshSession::TSshSession(TVelaSocket& socket) : socket_(socket) {
  InitLibrary();
  // The handshake wants a descriptor to remember, which the callbacks never use: one of no
  // consequence, already non-blocking so that libssh2 leaves its mode alone.
  placeholder_ = ::open("/dev/null", O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (placeholder_ < 0) return;
  session_ = libssh2_session_init_ex(nullptr, nullptr, nullptr, this);
  if (session_ == nullptr) return;
  libssh2_session_set_blocking(session_, 0);
  libssh2_session_callback_set(session_, LIBSSH2_CALLBACK_SEND, reinterpret_cast<void*>(&TSshSession::Send));
  libssh2_session_callback_set(session_, LIBSSH2_CALLBACK_RECV, reinterpret_cast<void*>(&TSshSession::Receive));
  libssh2_session_flag(session_, LIBSSH2_FLAG_COMPRESS, 0);
}

TSshSession::~TSshSession() {
  if (session_ == nullptr) return;
  Detach();
  // With the callbacks failing, freeing sends nothing and never waits; the bound only
  // guards against a library that would still say "again".
  for (int tries = 0; tries < 8 && libssh2_session_free(session_) == LIBSSH2_ERROR_EAGAIN; ++tries) {
  }
  if (placeholder_ >= 0) ::close(placeholder_);
}

ssize_t TSshSession::Send(libssh2_socket_t, const void* buffer, size_t length, int, void** abstract) {
  auto* self = static_cast<TSshSession*>(*abstract);
  if (self->detached_ || self->socket_.SockHandle == platform::INVALID_SOCKET) return -ENOTCONN;
  const int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  self->socket_.SockError = 0;
  const int sent = self->socket_.SockSend(static_cast<const char*>(buffer), count);
  if (self->socket_.SockError != 0) return -ECONNRESET;
  return sent > 0 ? sent : -EAGAIN;
}

ssize_t TSshSession::Receive(libssh2_socket_t, void* buffer, size_t length, int, void** abstract) {
  auto* self = static_cast<TSshSession*>(*abstract);
  if (self->detached_ || self->socket_.SockHandle == platform::INVALID_SOCKET) return -ENOTCONN;
  const int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  self->socket_.SockError = 0;
  const int received = self->socket_.SockReceive(static_cast<char*>(buffer), count);
  if (self->socket_.SockError != 0) return -ECONNRESET;
  if (received > 0) {
    self->received_ += static_cast<std::uint64_t>(received);
    return received;
  }
  // Nothing now: the end of the stream once the peer has closed, otherwise wait.
  return self->peerClosed_ ? 0 : -EAGAIN;
}

void TSshSession::PreferHostKeyTypes(const std::string& types) {
  if (session_ != nullptr && !types.empty())
    libssh2_session_method_pref(session_, LIBSSH2_METHOD_HOSTKEY, types.c_str());
}

TSshStatus TSshSession::Handshake() {
  const int rc = libssh2_session_handshake(session_, placeholder_);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  return rc == 0 ? TSshStatus::Done : TSshStatus::Failed;
}

std::string TSshSession::ServerBanner() const {
  const char* banner = libssh2_session_banner_get(session_);
  return banner != nullptr ? banner : "";
}

std::string TSshSession::HostKeyType() const {
  const char* name = libssh2_session_methods(session_, LIBSSH2_METHOD_HOSTKEY);
  return name != nullptr ? name : "";
}

std::string TSshSession::HostKeyBlob() const {
  size_t length = 0;
  int type = 0;
  const char* key = libssh2_session_hostkey(session_, &length, &type);
  return key != nullptr ? std::string(key, length) : std::string();
}

std::string TSshSession::LastErrorText() const {
  char* message = nullptr;
  int length = 0;
  libssh2_session_last_error(session_, &message, &length, 0);
  return message != nullptr ? std::string(message, static_cast<std::size_t>(length)) : std::string();
}

int TSshSession::LastErrorCode() const { return libssh2_session_last_errno(session_); }
