#include "transport/TlsConnection.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <vector>

#include "platform/WinsockErrors.h"
#include "transport/SocketCalls.h"

using namespace platform;
using transport::LastError;
using transport::Lib;

// The BIO between OpenSSL and the socket library: reads call recv, writes call send.
struct TlsBio {
  static TTlsConnection& Of(BIO* bio) { return *static_cast<TTlsConnection*>(BIO_get_data(bio)); }
  static int Read(BIO* bio, char* data, int length) { return Of(bio).SocketRead(bio, data, length); }
  static int Write(BIO* bio, const char* data, int length) { return Of(bio).SocketWrite(data, length); }
  static long Control(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }
  static int Create(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
  }
  static const BIO_METHOD* Method() {
    static BIO_METHOD* const method = [] {
      BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "velasock");
      if (m == nullptr) return m;
      BIO_meth_set_read(m, &Read);
      BIO_meth_set_write(m, &Write);
      BIO_meth_set_ctrl(m, &Control);
      BIO_meth_set_create(m, &Create);
      return m;
    }();
    return method;
  }
};

namespace {

bool IsAddress(const std::string& name) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

// SSL_get_error needs an empty error queue before the call it explains. Emptying it takes
// far longer than looking at it, and it is nearly always empty already (every failure here
// empties it): it is emptied only when something is in it.
void ClearStaleErrors() {
  if (ERR_peek_error() != 0) ERR_clear_error();
}

bool NameMismatch(long verifyResult) {
  return verifyResult == X509_V_ERR_HOSTNAME_MISMATCH || verifyResult == X509_V_ERR_IP_ADDRESS_MISMATCH;
}

// Keeps a name from the peer's certificate printable: it ends up in logs and questions.
std::string Printable(const unsigned char* text, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) out += text[i] >= 0x20 && text[i] < 0x7F ? static_cast<char>(text[i]) : '?';
  return out;
}

// The names a certificate is for: its DNS and IP subjectAltNames, else its common name. A
// certificate for many hosts shows its first few.
std::string NamesOf(X509* cert) {
  constexpr int kShown = 4;
  std::vector<std::string> names;
  int count = 0;
  auto* alternatives = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; i < sk_GENERAL_NAME_num(alternatives); ++i) {
    const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
    std::string text;
    if (name->type == GEN_DNS) {
      text = Printable(ASN1_STRING_get0_data(name->d.dNSName), ASN1_STRING_length(name->d.dNSName));
    } else if (name->type == GEN_IPADD) {
      char address[INET6_ADDRSTRLEN] = {};
      const int length = ASN1_STRING_length(name->d.iPAddress);
      const int family = length == 4 ? AF_INET : length == 16 ? AF_INET6 : 0;
      const unsigned char* bytes = ASN1_STRING_get0_data(name->d.iPAddress);
      if (family == 0 || inet_ntop(family, bytes, address, sizeof address) == nullptr) continue;
      text = address;
    } else {
      continue;
    }
    if (++count <= kShown) names.push_back(text);
  }
  GENERAL_NAMES_free(alternatives);
  if (count == 0) {
    const X509_NAME* subject = X509_get_subject_name(cert);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    const ASN1_STRING* common = index < 0 ? nullptr : X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    if (common != nullptr) names.push_back(Printable(ASN1_STRING_get0_data(common), ASN1_STRING_length(common)));
  }
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : ", ") + name;
  if (count > kShown) joined += ", ...";
  return joined;
}

// "AB:CD:...", as the openssl command prints a fingerprint.
std::string Fingerprint(X509* cert) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (cert == nullptr || X509_digest(cert, EVP_sha256(), digest, &length) != 1) return {};
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    if (i > 0) text += ':';
    text += kHex[digest[i] >> 4];
    text += kHex[digest[i] & 0x0F];
  }
  return text;
}

bool ApplyOptions(SSL* ssl, const TTlsClientOptions& options, SSL_verify_cb verifyCallback) {
  X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  if (IsAddress(options.ServerName)) {
    // No SNI for an address; the certificate must carry that address.
    if (X509_VERIFY_PARAM_set1_ip_asc(param, options.ServerName.c_str()) != 1) return false;
  } else if (!options.ServerName.empty()) {
    if (SSL_set_tlsext_host_name(ssl, options.ServerName.c_str()) != 1) return false;
    if (SSL_set1_host(ssl, options.ServerName.c_str()) != 1) return false;
  }
  SSL_set_verify(ssl, options.VerifyPeer ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, verifyCallback);
  if (!options.CaFile.empty()) {
    // The system's trust and the file's, for this connection only.
    X509_STORE* store = X509_STORE_new();
    if (store == nullptr) return false;
    transport::AddSystemTrust(store);
    const bool loaded = X509_STORE_load_file(store, options.CaFile.c_str()) == 1 &&
                        SSL_set1_verify_cert_store(ssl, store) == 1;
    X509_STORE_free(store);
    if (!loaded) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<TTlsConnection> TTlsConnection::Start(SOCKET socket, const TTlsClientOptions& options,
                                                      std::uint16_t& error) {
  error = TLSE_SETUP;
  SSL_CTX* ctx = transport::TlsClientContext();
  if (ctx == nullptr || TlsBio::Method() == nullptr) return nullptr;
  std::unique_ptr<TTlsConnection> c(new TTlsConnection(socket));
  c->Ssl = SSL_new(ctx);
  if (c->Ssl == nullptr) return nullptr;
  BIO* bio = BIO_new(TlsBio::Method());
  if (bio == nullptr) return nullptr;
  BIO_set_data(bio, c.get());
  SSL_set_bio(c->Ssl, bio, bio);
  // A connection that resumes a session keeps what it receives in that session's slot: a
  // server whose TLS 1.3 tickets are single use gets a fresh one with each data connection.
  c->Slot = options.Session.Slot ? options.Session.Slot : std::make_shared<TlsSessionSlot>();
  transport::SetSessionSlot(c->Ssl, c->Slot.get());
  c->ServerName = options.ServerName;
  c->VerifyPeer = options.VerifyPeer;
  if (!ApplyOptions(c->Ssl, options, &TTlsConnection::NoteVerifyProblem)) return nullptr;
  if (options.Session.Valid()) {
    // A copy: OpenSSL marks a TLS 1.3 session it has resumed as spent, and the slot's must
    // stay good for the next connection, should this one receive no ticket of its own.
    SSL_SESSION* copy = SSL_SESSION_dup(options.Session.Slot->Newest);
    const bool set = copy != nullptr && SSL_set_session(c->Ssl, copy) == 1;
    SSL_SESSION_free(copy);
    if (!set) return nullptr;
  }
  SSL_set_connect_state(c->Ssl);
  ERR_clear_error();
  error = 0;
  return c;
}

TTlsConnection::~TTlsConnection() {
  SSL_free(Ssl);
  ERR_clear_error();
}

// ---- the socket under OpenSSL ----

int TTlsConnection::SocketRead(BIO* bio, char* data, int length) {
  BIO_clear_retry_flags(bio);
  if (SocketError != 0) return -1;
  const int n = Lib().recv(Socket, data, length, 0);
  if (n > 0) return n;
  if (n == 0) {
    PeerEof = true;
    return 0;
  }
  const std::uint16_t error = LastError();
  if (error == WSAEWOULDBLOCK) {
    BIO_set_retry_read(bio);
    return -1;
  }
  SocketError = error;
  return -1;
}

// Always takes everything (unless the socket failed): what the socket refuses now waits.
int TTlsConnection::SocketWrite(const char* data, int length) {
  if (SocketError != 0) return -1;
  if (HasUnsent()) {
    Unsent.append(data, static_cast<std::size_t>(length));
    return length;
  }
  int n = Lib().send(Socket, data, length, 0);
  if (n == SOCKET_ERROR) {
    const std::uint16_t error = LastError();
    if (error != WSAEWOULDBLOCK) {
      SocketError = error;
      return -1;
    }
    n = 0;
  }
  if (n < length) {
    Unsent.assign(data + n, static_cast<std::size_t>(length - n));
    UnsentAt = 0;
  }
  return length;
}

bool TTlsConnection::Flush() {
  if (!HasUnsent()) return true;
  if (SocketError != 0) return false;
  const int count = static_cast<int>(Unsent.size() - UnsentAt);
  const int n = Lib().send(Socket, Unsent.data() + UnsentAt, count, 0);
  if (n == SOCKET_ERROR) {
    const std::uint16_t error = LastError();
    if (error != WSAEWOULDBLOCK) SocketError = ErrorNumber = error;
    return false;
  }
  UnsentAt += static_cast<std::size_t>(n);
  if (HasUnsent()) return false;  // the library announces the room with a write notification
  std::string().swap(Unsent);     // an idle connection keeps no buffer
  UnsentAt = 0;
  return true;
}

std::string TTlsConnection::TakeUnsent() {
  std::string rest = Unsent.substr(UnsentAt);
  std::string().swap(Unsent);
  UnsentAt = 0;
  return rest;
}

// ---- handshake ----

TTlsConnection::Outcome TTlsConnection::Handshake() {
  ERR_clear_error();
  const int rc = SSL_do_handshake(Ssl);
  if (rc == 1) return Outcome::Done;
  const int sslError = SSL_get_error(Ssl, rc);
  if (SocketError == 0 && (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE)) {
    return Outcome::WouldBlock;
  }
  ErrorNumber = HandshakeFailure(sslError);
  ERR_clear_error();
  return Outcome::Failed;
}

std::uint16_t TTlsConnection::HandshakeFailure(int sslError) const {
  if (SocketError != 0) return SocketError;
  const unsigned long first = ERR_peek_error();
  const int reason = ERR_GET_LIB(first) == ERR_LIB_SSL ? ERR_GET_REASON(first) : 0;
  if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
    return NameMismatch(SSL_get_verify_result(Ssl)) ? TLSE_HOST_MISMATCH : TLSE_CERT_UNTRUSTED;
  }
  if (PeerEof) return TLSE_HANDSHAKE_CLOSED;
  // Refused before any record of the peer was accepted, and not by an alert of its own:
  // what came back was not TLS (an FTP reply, an HTTP answer, noise).
  const bool alertReceived = reason >= SSL_AD_REASON_OFFSET;
  if (sslError == SSL_ERROR_SSL && !alertReceived && SSL_get_state(Ssl) == TLS_ST_CW_CLNT_HELLO) {
    return TLSE_NOT_TLS;
  }
  return TLSE_HANDSHAKE_FAILED;
}

int TTlsConnection::NoteVerifyProblem(int ok, X509_STORE_CTX* store) {
  auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  TTlsConnection& c = TlsBio::Of(SSL_get_rbio(ssl));
  if (ok == 0) {
    const int error = X509_STORE_CTX_get_error(store);
    if (error == X509_V_ERR_CERT_HAS_EXPIRED) {
      c.ExpiredSeen = true;
    } else if (!NameMismatch(error) && c.ChainError == X509_V_OK) {
      c.ChainError = error;
    }
  }
  // Without VerifyPeer the owner decides from Info(), which needs every problem, not the first.
  return c.VerifyPeer ? ok : 1;
}

TTlsInfo TTlsConnection::Info() const {
  TTlsInfo info;
  info.Version = SSL_get_version(Ssl);
  info.Cipher = SSL_get_cipher_name(Ssl);
  X509* cert = SSL_get0_peer_certificate(Ssl);
  info.PeerFingerprint = Fingerprint(cert);
  const long verifyResult = SSL_get_verify_result(Ssl);
  info.PeerVerified = cert != nullptr && verifyResult == X509_V_OK;
  info.Resumed = SSL_session_reused(Ssl) == 1;
  if (cert == nullptr) {
    info.VerifyProblem = "no certificate";
    return info;
  }
  info.PeerNameMatches = ServerName.empty() ||
                         (IsAddress(ServerName) ? X509_check_ip_asc(cert, ServerName.c_str(), 0) == 1
                                                : X509_check_host(cert, ServerName.data(), ServerName.size(),
                                                                  X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS, nullptr) == 1);
  info.PeerNames = NamesOf(cert);
  info.PeerExpired = ExpiredSeen;
  if (ChainError != X509_V_OK) {
    info.VerifyProblem = X509_verify_cert_error_string(ChainError);
  } else if (!info.PeerVerified && info.PeerNameMatches && !info.PeerExpired) {
    // A resumed session: no verification ran here, only its result is known.
    info.VerifyProblem = X509_verify_cert_error_string(verifyResult);
  }
  return info;
}

// ---- plain bytes ----

TTlsConnection::Outcome TTlsConnection::Failure(int sslError) {
  if (SocketError == 0 && (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE)) {
    return Outcome::WouldBlock;
  }
  if (sslError == SSL_ERROR_ZERO_RETURN) {
    CloseNotifyReceived = true;
    Over = Outcome::Ended;
  } else if (SocketError != 0) {
    ErrorNumber = SocketError;
    Over = Outcome::Failed;
  } else if (PeerEof) {
    Over = Outcome::Ended;  // a bare close: the stream ends without close_notify
  } else {
    ErrorNumber = TLSE_PROTOCOL;
    Over = Outcome::Failed;
  }
  ERR_clear_error();
  return Over;
}

TTlsConnection::Outcome TTlsConnection::Read(char* buffer, int count, int& n) {
  n = 0;
  if (Over != Outcome::Done) return Over;
  if (count <= 0) return Outcome::WouldBlock;
  ClearStaleErrors();
  std::size_t got = 0;
  const int rc = SSL_read_ex(Ssl, buffer, static_cast<std::size_t>(count), &got);
  if (rc == 1) {
    n = static_cast<int>(got);
    return Outcome::Done;
  }
  return Failure(SSL_get_error(Ssl, rc));
}

TTlsConnection::Outcome TTlsConnection::Peek() {
  if (Over != Outcome::Done) return Over;
  if (SSL_pending(Ssl) > 0) return Outcome::Done;
  ClearStaleErrors();
  char byte;
  std::size_t got = 0;
  const int rc = SSL_peek_ex(Ssl, &byte, 1, &got);
  if (rc == 1) return Outcome::Done;
  const Outcome outcome = Failure(SSL_get_error(Ssl, rc));
  // Idle until the network brings more: the record buffers go back (refused while a
  // record is half read).
  if (outcome == Outcome::WouldBlock) SSL_free_buffers(Ssl);
  return outcome;
}

TTlsConnection::Outcome TTlsConnection::Write(const char* buffer, int count, int& n) {
  n = 0;
  if (Over == Outcome::Failed) return Over;
  if (!Flush()) return SocketError != 0 ? Failure(SSL_ERROR_SYSCALL) : Outcome::WouldBlock;
  if (count <= 0) return Outcome::WouldBlock;
  ClearStaleErrors();
  std::size_t written = 0;
  const int rc = SSL_write_ex(Ssl, buffer, static_cast<std::size_t>(count), &written);
  if (rc == 1) {
    n = static_cast<int>(written);
    // The record is with the socket (or in Unsent): the buffers go back unless a record
    // is being read.
    SSL_free_buffers(Ssl);
    return Outcome::Done;
  }
  const int sslError = SSL_get_error(Ssl, rc);
  if (SocketError == 0 && (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE)) {
    return Outcome::WouldBlock;
  }
  ErrorNumber = SocketError != 0 ? SocketError : std::uint16_t{TLSE_PROTOCOL};
  Over = Outcome::Failed;
  ERR_clear_error();
  return Over;
}

bool TTlsConnection::WriteAtClose(const std::string& bytes) {
  if (bytes.empty()) return true;
  if (Over == Outcome::Failed) return false;
  ERR_clear_error();
  std::size_t written = 0;
  const bool done = SSL_write_ex(Ssl, bytes.data(), bytes.size(), &written) == 1 && written == bytes.size();
  ERR_clear_error();
  return done;
}

void TTlsConnection::SendCloseNotify() {
  if (phase != Phase::Established || Over == Outcome::Failed || SocketError != 0) return;
  ERR_clear_error();
  SSL_shutdown(Ssl);  // sends ours; the peer's is not waited for
  ERR_clear_error();
}
