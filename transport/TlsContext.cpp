#include "transport/TlsContext.h"

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
  SSL_CTX_set_default_verify_paths(ctx);
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
  // Read-ahead fills the record buffer in one receive instead of a header and a body.
  SSL_CTX_set_read_ahead(ctx, 1);
  // An idle connection gives its record buffers back.
  SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
  SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(ctx, &OnNewSession);
  return ctx;
}

}  // namespace

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
