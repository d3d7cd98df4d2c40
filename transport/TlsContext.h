// The process's TLS client context, made once: TLS 1.2 at least, the system's trusted
// certificates, no renegotiation, and every new session handed to the slot of the connection that
// received it. Internal to transport/.
#pragma once

#include <openssl/ssl.h>

// Where a connection keeps the newest session it received, shared by every TTlsSession
// handle taken from it.
struct TlsSessionSlot {
  TlsSessionSlot() = default;
  TlsSessionSlot(const TlsSessionSlot&) = delete;
  TlsSessionSlot& operator=(const TlsSessionSlot&) = delete;
  ~TlsSessionSlot() { SSL_SESSION_free(Newest); }

  void Replace(SSL_SESSION* session) {
    SSL_SESSION_free(Newest);
    Newest = session;
  }

  SSL_SESSION* Newest = nullptr;
};

namespace transport {

// nullptr when OpenSSL cannot make the context (then no TLS session can start).
SSL_CTX* TlsClientContext();

// Adds the system's trusted certificates to `store`.
bool AddSystemTrust(X509_STORE* store);

// The slot a connection's new sessions go to; set before its handshake starts.
void SetSessionSlot(SSL* ssl, TlsSessionSlot* slot);

}  // namespace transport
