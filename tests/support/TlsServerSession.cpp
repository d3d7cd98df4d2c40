#include "tests/support/TlsServerSession.h"

#include <fcntl.h>
#include <poll.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace talvo::test {

namespace {

// The queued OpenSSL errors as text, oldest first; the queue is emptied.
std::string OpenSslErrors() {
  std::string text;
  while (const unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text.empty() ? "no OpenSSL error recorded" : text;
}

}  // namespace

struct TlsServerContext::Handle {
  SSL_CTX* ctx = nullptr;
  ~Handle() { SSL_CTX_free(ctx); }
};

struct TlsServerSession::Handle {
  SSL* ssl = nullptr;
  ~Handle() { SSL_free(ssl); }
};

TlsServerContext::TlsServerContext() : handle_(std::make_unique<Handle>()) {}
TlsServerContext::~TlsServerContext() = default;

bool TlsServerContext::Load(const std::string& certificateFile, const std::string& keyFile, std::string& error) {
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  handle_->ctx = ctx;
  if (ctx == nullptr || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
      SSL_CTX_use_certificate_chain_file(ctx, certificateFile.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(ctx) != 1) {
    error = "TLS server context: " + OpenSslErrors();
    return false;
  }
  // Sessions of this context may be resumed by any connection of the same peer.
  static const unsigned char kSessionContext[] = "talvo-scripted-peer";
  SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1);
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  return true;
}

TlsServerSession::TlsServerSession() : handle_(std::make_unique<Handle>()) {}
TlsServerSession::~TlsServerSession() = default;

// Runs `call` (an SSL_* call returning > 0 on success) until it succeeds, waiting for the
// socket whenever OpenSSL wants to read or write.
template <typename Call>
TlsIo TlsServerSession::Drive(const Call& call, Clock::time_point deadline, int stopFd, std::string& error) {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int result = call();
    if (result > 0) return TlsIo::Done;
    const int reason = SSL_get_error(handle_->ssl, result);
    const int savedErrno = errno;
    short wanted = 0;
    switch (reason) {
      case SSL_ERROR_WANT_READ: wanted = POLLIN; break;
      case SSL_ERROR_WANT_WRITE: wanted = POLLOUT; break;
      case SSL_ERROR_ZERO_RETURN:
        closedByNotify_ = true;
        return TlsIo::Closed;
      case SSL_ERROR_SYSCALL:
        if (savedErrno == ECONNRESET || savedErrno == EPIPE) return TlsIo::Reset;
        if (savedErrno == 0) return TlsIo::Closed;  // end of stream without close_notify
        error = std::string("TLS: ") + std::strerror(savedErrno);
        return TlsIo::Failed;
      default:
        // OpenSSL 3 reports an end of stream without close_notify as an error of its own.
        if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
          ERR_clear_error();
          return TlsIo::Closed;
        }
        error = "TLS: " + OpenSslErrors();
        return TlsIo::Failed;
    }
    switch (WaitFor(fd_, wanted, stopFd, deadline)) {
      case WaitResult::Ready: break;
      case WaitResult::TimedOut: return TlsIo::TimedOut;
      case WaitResult::Stopped: return TlsIo::Stopped;
    }
  }
}

TlsIo TlsServerSession::Accept(TlsServerContext& context, int fd, Clock::time_point deadline, int stopFd,
                               std::string& error) {
  fd_ = fd;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  handle_->ssl = SSL_new(context.handle_->ctx);
  if (handle_->ssl == nullptr || SSL_set_fd(handle_->ssl, fd) != 1) {
    error = "TLS session: " + OpenSslErrors();
    return TlsIo::Failed;
  }
  SSL_set_accept_state(handle_->ssl);
  return Drive([this] { return SSL_do_handshake(handle_->ssl); }, deadline, stopFd, error);
}

TlsIo TlsServerSession::Read(char* buffer, std::size_t size, std::size_t& got, Clock::time_point deadline,
                             int stopFd, std::string& error) {
  got = 0;
  return Drive([&] { return SSL_read_ex(handle_->ssl, buffer, size, &got) == 1 ? 1 : 0; }, deadline, stopFd,
               error);
}

TlsIo TlsServerSession::Write(const char* data, std::size_t size, std::size_t& written, Clock::time_point deadline,
                              int stopFd, std::string& error) {
  written = 0;
  return Drive([&] { return SSL_write_ex(handle_->ssl, data, size, &written) == 1 ? 1 : 0; }, deadline, stopFd,
               error);
}

TlsIo TlsServerSession::Shutdown(Clock::time_point deadline, int stopFd, std::string& error) {
  // 0 means close_notify went out and the client's has not come: enough here.
  return Drive([this] { return SSL_shutdown(handle_->ssl) >= 0 ? 1 : -1; }, deadline, stopFd, error);
}

std::string TlsServerSession::Version() const { return handle_->ssl ? SSL_get_version(handle_->ssl) : ""; }

std::string TlsServerSession::ServerName() const {
  const char* name = handle_->ssl ? SSL_get_servername(handle_->ssl, TLSEXT_NAMETYPE_host_name) : nullptr;
  return name != nullptr ? name : "";
}

bool TlsServerSession::Resumed() const { return handle_->ssl != nullptr && SSL_session_reused(handle_->ssl) == 1; }

}  // namespace talvo::test
