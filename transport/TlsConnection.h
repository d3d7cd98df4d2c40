// One TLS client session over a connected socket of the socket library. OpenSSL reads the
// socket through a BIO that calls the library's recv; what it writes goes to the library's
// send at once, and the part the socket does not take waits in a buffer that goes out
// first next time. Knows nothing of windows or events: the socket component decides its
// notifications from the outcomes here. Internal to transport/.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Winsock.h"
#include "transport/TlsContext.h"
#include "transport/TlsTypes.h"

class TTlsConnection {
 public:
  enum class Outcome {
    Done,        // the step completed (a read or write moved n > 0 plain bytes)
    WouldBlock,  // nothing now: the socket's next notification goes on
    Ended,       // the peer's stream is over (close_notify, or a bare close)
    Failed,      // Error() says why
  };
  enum class Phase { Handshaking, Established, HandshakeFailed };

  // A session in the handshake's first state; nullptr with `error` set when OpenSSL cannot
  // make one (or cannot read options.CaFile).
  static std::unique_ptr<TTlsConnection> Start(platform::SOCKET socket, const TTlsClientOptions& options,
                                               std::uint16_t& error);
  ~TTlsConnection();
  TTlsConnection(const TTlsConnection&) = delete;
  TTlsConnection& operator=(const TTlsConnection&) = delete;

  // Advances the handshake as far as the socket allows: Done, WouldBlock or Failed.
  Outcome Handshake();
  TTlsInfo Info() const;
  TTlsSession Session() const { return TTlsSession(Slot); }

  // Plain bytes in and out, after the handshake. Read gives Done with n > 0, WouldBlock,
  // Ended or Failed; Write gives Done with n > 0, WouldBlock (earlier bytes still wait for
  // the socket) or Failed. Once Ended or Failed, a session stays so.
  Outcome Read(char* buffer, int count, int& n);
  Outcome Write(const char* buffer, int count, int& n);
  // Puts the bytes in records whatever waits for the socket already (at the close, where
  // everything goes to the linger); false on a failure.
  bool WriteAtClose(const std::string& bytes);
  // Whether plain bytes can be read now without new network data: Done (yes), WouldBlock,
  // Ended or Failed. Processes the records already at hand (session tickets among them).
  Outcome Peek();
  // Sends what waits; true when nothing is left. A socket error is kept in Error().
  bool Flush();
  bool HasUnsent() const { return UnsentAt < Unsent.size(); }
  std::size_t UnsentBytes() const { return Unsent.size() - UnsentAt; }
  std::string TakeUnsent();
  // Writes close_notify (into the socket or the waiting bytes) unless the session failed.
  void SendCloseNotify();

  std::uint16_t Error() const { return ErrorNumber; }
  bool SocketFailed() const { return SocketError != 0; }
  bool CleanEnd() const { return CloseNotifyReceived; }

  // The socket component's bookkeeping of its notifications for this session.
  Phase phase = Phase::Handshaking;
  bool ReadPosted = false;     // an FD_READ of our own waits in the queue
  bool WriteWanted = false;    // a send was refused: OnSockWrite once the waiting bytes left
  bool CloseDeferred = false;  // the peer closed; the close is raised once the plain bytes are read
  bool ClosePosted = false;    // an FD_CLOSE of our own waits in the queue
  // Plain bytes taken by SockSend and not yet in a record: small sends (a data connection
  // sends 2 KB at a time) are gathered into records of up to 16 KB, sealed when full or at
  // the next dispatch (a posted notification of our own).
  std::string PlainOut;
  bool SealPosted = false;
  bool CloseRaised = false;

 private:
  explicit TTlsConnection(platform::SOCKET socket) : Socket(socket) {}
  friend struct TlsBio;
  int SocketRead(BIO* bio, char* data, int length);
  int SocketWrite(const char* data, int length);
  Outcome Failure(int sslError);
  std::uint16_t HandshakeFailure(int sslError) const;
  // OpenSSL's verify callback: notes each problem of the peer's chain, and lets the
  // handshake go on past them unless the options asked for VerifyPeer.
  static int NoteVerifyProblem(int ok, X509_STORE_CTX* store);

  const platform::SOCKET Socket;
  SSL* Ssl = nullptr;
  std::string ServerName;  // what the certificate must name
  bool VerifyPeer = true;
  // The problems the verify callback saw: the chain's first (other than the name and the
  // dates), and whether a certificate of the chain was past its end date.
  long ChainError = 0;
  bool ExpiredSeen = false;
  std::shared_ptr<TlsSessionSlot> Slot;
  std::string Unsent;
  std::size_t UnsentAt = 0;
  std::uint16_t SocketError = 0;  // the library's error from a receive or a send
  std::uint16_t ErrorNumber = 0;
  bool PeerEof = false;
  bool CloseNotifyReceived = false;
  Outcome Over = Outcome::Done;  // Ended or Failed once the stream is over
};
