#include "tests/support/RawFtpClient.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

namespace talvo::test {

namespace {

struct SslCtxFree {
  void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};

bool IsFailure(const std::string& piece) { return !piece.empty() && piece[0] == '<'; }

}  // namespace

RawFtpClient::RawFtpClient(UniqueFd fd, int limitSeconds) : fd_(std::move(fd)) {
  const timeval limit{limitSeconds, 0};
  ::setsockopt(fd_.Get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd_.Get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

RawFtpClient RawFtpClient::To(const std::string& host, std::uint16_t port, int limitSeconds, const std::string& source) {
  std::string error;
  UniqueFd fd = ConnectTo(host, port, source, Millis(10000), error);
  EXPECT_TRUE(fd.Valid()) << error;
  return RawFtpClient(std::move(fd), limitSeconds);
}

bool RawFtpClient::StartTls(const TlsClientSession& resume) {
  static const std::unique_ptr<SSL_CTX, SslCtxFree> context(SSL_CTX_new(TLS_client_method()));
  ssl_.reset(SSL_new(context.get()));
  SSL_set_fd(ssl_.get(), fd_.Get());
  SSL_set_tlsext_host_name(ssl_.get(), "localhost");
  if (resume) SSL_set_session(ssl_.get(), resume.get());
  ERR_clear_error();
  const int result = SSL_connect(ssl_.get());
  if (result == 1) return true;
  lastError_ = SSL_get_error(ssl_.get(), result);
  char text[256] = "no OpenSSL error";
  if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
  error = text;
  ssl_.reset();
  return false;
}

void RawFtpClient::Send(const std::string& bytes, int flags) {
  const ssize_t sent = ssl_ ? SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size()))
                            : ::send(fd_.Get(), bytes.data(), bytes.size(), flags | MSG_NOSIGNAL);
  ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size()));
}

std::string RawFtpClient::ReceiveOnce() {
  char buffer[65536];
  const long n = ssl_ ? SSL_read(ssl_.get(), buffer, sizeof buffer) : ::recv(fd_.Get(), buffer, sizeof buffer, 0);
  if (n < 0 && !ssl_) return "<errno " + std::to_string(errno) + ">";
  if (n <= 0) {
    closeNotify_ = ssl_ && SSL_get_error(ssl_.get(), static_cast<int>(n)) == SSL_ERROR_ZERO_RETURN;
    return {};
  }
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string RawFtpClient::ReceiveAll() {
  std::string all;
  for (std::string piece = ReceiveOnce(); !piece.empty() && !IsFailure(piece); piece = ReceiveOnce()) all += piece;
  return all;
}

std::string RawFtpClient::Reply() {
  std::string text;
  for (;;) {
    while (pending_.find("\r\n") == std::string::npos) {
      const std::string piece = ReceiveOnce();
      if (piece.empty() || IsFailure(piece)) return text + pending_ + piece;
      pending_ += piece;
    }
    const auto end = pending_.find("\r\n");
    const std::string line = pending_.substr(0, end);
    pending_.erase(0, end + 2);
    text += line + "\n";
    if (line.size() >= 4 && line[3] == ' ' && text.compare(0, 3, line, 0, 3) == 0) return text;
  }
}

std::string RawFtpClient::Command(const std::string& line) {
  Send(line + "\r\n");
  return Reply();
}

void RawFtpClient::Finish() {
  if (ssl_) SSL_shutdown(ssl_.get());
  ::shutdown(fd_.Get(), SHUT_WR);
  char buffer[4096];
  while (::recv(fd_.Get(), buffer, sizeof buffer, 0) > 0) {
  }
  ssl_.reset();
  fd_.Reset();
}

TlsClientSession RawFtpClient::TlsSession() const {
  return TlsClientSession(ssl_ ? SSL_get1_session(ssl_.get()) : nullptr);
}

bool RawFtpClient::Resumed() const { return ssl_ && SSL_session_reused(ssl_.get()) == 1; }

std::string RawFtpClient::PeerFingerprint() const {
  X509* certificate = ssl_ ? SSL_get1_peer_certificate(ssl_.get()) : nullptr;
  if (certificate == nullptr) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(certificate, EVP_sha256(), digest, &length);
  X509_free(certificate);
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

}  // namespace talvo::test
