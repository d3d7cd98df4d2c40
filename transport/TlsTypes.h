// What a caller of the socket component's TLS client session hands in and reads back: the
// options of a handshake, the handle on a session to resume, and what the handshake
// established. No OpenSSL type appears here, so the FTP component never includes OpenSSL.
#pragma once

#include <memory>
#include <string>

struct TlsSessionSlot;  // TlsContext.h

// A shared handle on the newest session a TLS connection has received. It stays valid
// after that connection closes, and it follows the connection: a TLS 1.3 ticket that
// arrives after the handle was taken is what a later resumption uses. A connection that
// resumes it adds the sessions it receives to the same handle.
class TTlsSession {
 public:
  TTlsSession() = default;
  // A session is there to resume now.
  bool Valid() const;

 private:
  friend class TTlsConnection;
  explicit TTlsSession(std::shared_ptr<TlsSessionSlot> slot) : Slot(std::move(slot)) {}
  std::shared_ptr<TlsSessionSlot> Slot;
};

struct TTlsClientOptions {
  // The server's name: sent as SNI (unless it is a dotted address) and the name, or address,
  // the certificate must carry. Empty: no SNI and no name check.
  std::string ServerName;
  // Refuse a peer whose certificate the trusted store does not vouch for, or that names
  // another host: the handshake then fails. Off, the handshake goes on and TTlsInfo says
  // whether, and why not, the certificate would have passed.
  bool VerifyPeer = true;
  // A PEM file of further certificates to trust besides the system's store; empty: none.
  std::string CaFile;
  // A session to resume (a data connection resumes its control connection's session);
  // the sessions this connection receives go to it too.
  TTlsSession Session;
};

// What the handshake established, read after OnSockTlsDone.
struct TTlsInfo {
  std::string Version;          // "TLSv1.3"
  std::string Cipher;           // "TLS_AES_256_GCM_SHA384"
  std::string PeerFingerprint;  // SHA-256 of the peer certificate, "AB:CD:..." upper case
  // Trusted chain, the host name (when given) matches, and every certificate is within its
  // dates. When not, each reason is told on its own below.
  bool PeerVerified = false;
  // What is wrong with the chain itself, as OpenSSL words it ("self-signed certificate",
  // "unable to get local issuer certificate"); empty when a trusted authority vouches for it
  // (or there is no certificate: then "no certificate").
  std::string VerifyProblem;
  // The certificate names the server (the ServerName given), whether or not its chain is
  // trusted; when not, PeerNames says which names it carries.
  bool PeerNameMatches = false;
  bool PeerExpired = false;     // a certificate of the chain is past its end date
  std::string PeerNames;        // its DNS and IP names (else its common name), ", " between
  bool Resumed = false;         // an earlier session was resumed
  // The peer ended its stream with close_notify rather than a bare close (known by the
  // time OnSockClose is raised): a download's proof that nothing was cut off.
  bool PeerCloseNotify = false;
};
