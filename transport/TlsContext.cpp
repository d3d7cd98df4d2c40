#include "transport/TlsContext.h"

#include <openssl/x509.h>

#include <cstdlib>

#include "transport/TlsTypes.h"

namespace transport {

namespace {

// A client gets its sessions here (OpenSSL keeps no client cache of its own): for TLS 1.2
// at the end of the handshake, for TLS 1.3 with each ticket the server sends after it.
int OnNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* slot = static_cast<TlsSessionSlot*>(SSL_get_app_data(ssl));
  if (slot == nullptr) return 0;
  slot->Replace(session);
  return 1;  // the slot keeps the reference
}

SSL_CTX* MakeContext() {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) return nullptr;
  if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1) {
    SSL_CTX_free(ctx);
    return nullptr;
  }
  // Without a store nothing verifies; the failure shows in each handshake's result.
  AddSystemTrust(SSL_CTX_get_cert_store(ctx));
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // Read-ahead fills the record buffer in one receive instead of a header and a body.
  SSL_CTX_set_read_ahead(ctx, 1);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, &OnNewSession);
  return ctx;
}

}  // namespace

// The system's trusted certificates as OpenSSL's hashed directory (SSL_CERT_DIR, else
// /etc/ssl/certs), read one certificate at a time as a chain needs it: the bundle file that
// the default paths also load would hold every authority parsed, about 0.9 MB, for the
// process's life. SSL_CERT_FILE, when set, is loaded as the default paths would.
bool AddSystemTrust(X509_STORE* store) {
  const char* dir = std::getenv(X509_get_default_cert_dir_env());
  if (dir == nullptr) dir = X509_get_default_cert_dir();
  bool added = X509_STORE_load_path(store, dir) == 1;
  if (const char* file = std::getenv(X509_get_default_cert_file_env())) {
    added = X509_STORE_load_file(store, file) == 1 && added;
  }
  return added;
}

SSL_CTX* TlsClientContext() {
  // Made once, on first use, and kept for the life of the process.
  static SSL_CTX* const ctx = MakeContext();
  return ctx;
}

void SetSessionSlot(SSL* ssl, TlsSessionSlot* slot) { SSL_set_app_data(ssl, slot); }

}  // namespace transport

bool TTlsSession::Valid() const {
  return Slot && Slot->Newest != nullptr && SSL_SESSION_is_resumable(Slot->Newest) == 1;
}
