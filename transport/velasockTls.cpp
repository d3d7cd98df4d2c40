// TVelaSocket's TLS client session. The handshake advances on the socket's own read and
// write notifications, under the connect countdown. Afterwards every network notification
// of the socket passes through the session first, so that the application sees the events
// of a plain socket over the plain bytes: a read notification while decrypted bytes wait
// (also those OpenSSL already holds, which no network event would announce), a write
// notification once refused bytes can go, and the close only after the last plain byte.
#include <algorithm>

#include "platform/WinsockErrors.h"
#include "transport/SocketCalls.h"
#include "transport/SocketMessages.h"
#include "transport/TlsConnection.h"
#include "transport/TlsLinger.h"
#include "transport/velasock.h"

using namespace platform;
using Outcome = TTlsConnection::Outcome;
using Phase = TTlsConnection::Phase;
using transport::WM_SOCKET_SELECT;

namespace {

// One record's worth: a larger send is taken in part, as a plain socket may do.
constexpr int kMaxPlainPerSend = 16384;
// Our own notification, beside the network's: seal the plain bytes gathered so far.
constexpr std::uint16_t kSealPlain = 0x4000;

}  // namespace

void TVelaSocket::SockStartTls(const TTlsClientOptions& Options) {
  if (SockHandle == INVALID_SOCKET || !SockConnected) {
    SockError = WSAENOTCONN;
    return;
  }
  if (Tls) {
    SockError = WSAEISCONN;
    return;
  }
  std::uint16_t error = 0;
  std::unique_ptr<TTlsConnection> tls = TTlsConnection::Start(SockHandle, Options, error);
  if (!tls) {
    SockError = error;
    return;
  }
  TlsInfo = TTlsInfo{};
  TlsSession = tls->Session();
  Tls = std::move(tls);
  SockError = 0;
  SetTimeOut(TimeOutConnect);
  // The ClientHello goes out at the next dispatch, so that whatever the peer answers, even
  // at once, ends the handshake through OnSockTlsDone.
  TlsPost(FD_WRITE, 0);
}

// ---- notifications ----

void TVelaSocket::TlsNotification(std::uint16_t event, std::uint16_t error) {
  if (Tls->phase == Phase::Handshaking) {
    TlsHandshakeStep(event, error);
    return;
  }
  StopCountdown();  // as for a plain socket, any notification stops it
  if (Tls->phase == Phase::HandshakeFailed) {
    // OnSockTlsDone reported the failure; the peer's close ends the socket quietly.
    if (event == FD_CLOSE) CloseAfterNotification(SockHandle);
    return;
  }
  switch (event) {
    case FD_READ:
      Tls->ReadPosted = false;
      TlsInput();
      break;
    case kSealPlain:
      Tls->SealPosted = false;
      TlsSeal();
      break;
    case FD_WRITE: TlsWritable(); break;
    case FD_CLOSE: TlsPeerClosed(error); break;
    default: break;
  }
}

void TVelaSocket::TlsHandshakeStep(std::uint16_t event, std::uint16_t error) {
  if (event != FD_READ && event != FD_WRITE && event != FD_CLOSE) return;
  if (event == FD_CLOSE && error != 0) {
    TlsHandshakeEnded(error, true);  // a reset: its number says more than "closed"
    return;
  }
  const Outcome outcome = Tls->Handshake();
  if (outcome == Outcome::WouldBlock && event != FD_CLOSE) return;
  if (outcome == Outcome::Done) {
    TlsHandshakeEnded(0, false);
  } else {
    const std::uint16_t failure = outcome == Outcome::Failed ? Tls->Error() : std::uint16_t{TLSE_HANDSHAKE_CLOSED};
    TlsHandshakeEnded(failure, event == FD_CLOSE);
  }
}

void TVelaSocket::TlsHandshakeEnded(std::uint16_t error, bool peerClosed) {
  StopCountdown();
  const SOCKET socket = SockHandle;
  if (error == 0) {
    Tls->phase = Phase::Established;
    TlsInfo = Tls->Info();
  } else {
    Tls->phase = Phase::HandshakeFailed;
  }
  SockError = error;
  Raise(OnSockTlsDone, this);
  if (SockHandle != socket || !Tls) return;  // the handler closed it
  if (peerClosed) {
    // The close notification was spent on the handshake: nothing else will end the socket.
    CloseAfterNotification(socket);
  } else if (error == 0) {
    // Bytes that came with the end of the handshake have no network event of their own.
    TlsFollowUp();
  }
}

// A read notification, the library's or our own.
void TVelaSocket::TlsInput() {
  switch (Tls->Peek()) {
    case Outcome::Done:
      SockError = 0;
      Raise(OnSockRead, this);
      break;
    case Outcome::WouldBlock:
      if (Tls->CloseDeferred) TlsRaiseClose(0);
      break;
    case Outcome::Ended: TlsRaiseClose(0); break;
    case Outcome::Failed: TlsRaiseClose(Tls->Error()); break;
  }
}

// A close notification, the library's or our own. After a reset unread bytes no longer
// count, as for a plain socket; after a graceful close they are read first.
void TVelaSocket::TlsPeerClosed(std::uint16_t error) {
  if (Tls->CloseRaised) return;
  if (error != 0) {
    TlsRaiseClose(error);
    return;
  }
  switch (Tls->Peek()) {
    case Outcome::Done:
      Tls->CloseDeferred = true;
      SockError = 0;
      Raise(OnSockRead, this);
      break;
    case Outcome::WouldBlock:
    case Outcome::Ended: TlsRaiseClose(0); break;
    case Outcome::Failed: TlsRaiseClose(Tls->Error()); break;
  }
}

void TVelaSocket::TlsWritable() {
  if (!Tls->Flush()) return;  // still full, or failed: a reset comes as a close
  if (!TlsSeal() || !Tls->PlainOut.empty()) return;
  if (!Tls->WriteWanted) return;
  Tls->WriteWanted = false;
  SockError = 0;
  Raise(OnSockWrite, this);
}

void TVelaSocket::TlsRaiseClose(std::uint16_t error) {
  if (Tls->CloseRaised) return;
  Tls->CloseRaised = true;
  TlsInfo.PeerCloseNotify = Tls->CleanEnd();
  const SOCKET closing = SockHandle;
  SockError = error;
  Raise(OnSockClose, this);
  CloseAfterNotification(closing);
}

// After a read: announces what the session already holds, since no network event will.
void TVelaSocket::TlsFollowUp() {
  switch (Tls->Peek()) {
    case Outcome::Done:
      if (!Tls->ReadPosted) TlsPost(FD_READ, 0);
      Tls->ReadPosted = true;
      break;
    case Outcome::WouldBlock:
      if (Tls->CloseDeferred) TlsPost(FD_CLOSE, 0);
      break;
    case Outcome::Ended: TlsPost(FD_CLOSE, 0); break;
    case Outcome::Failed: TlsPost(FD_CLOSE, Tls->Error()); break;
  }
}

void TVelaSocket::TlsPost(std::uint16_t event, std::uint16_t error) {
  if (event == FD_CLOSE) {
    if (Tls->ClosePosted || Tls->CloseRaised) return;
    Tls->ClosePosted = true;
  }
  MessageLoop::Current().PostMessage(SockWindow, WM_SOCKET_SELECT, static_cast<WPARAM>(SockHandle),
                                     MakeSelectLParam(event, error));
}

// Ends the TLS session of a socket being closed. A sound session sends close_notify, and the
// socket goes to the linger, which sends what still waits and closes it once the peer has
// closed too (see TlsLinger.h). False when the caller closes the socket itself now.
bool TVelaSocket::TlsHandOverClose(bool peerClosed) {
  const std::unique_ptr<TTlsConnection> tls = std::move(Tls);
  if (!tls || tls->phase != Phase::Established || tls->SocketFailed()) return false;
  // What the application sent goes before close_notify.
  if (!tls->WriteAtClose(tls->PlainOut)) return false;
  tls->SendCloseNotify();
  tls->Flush();
  if (tls->SocketFailed() || (peerClosed && !tls->HasUnsent())) return false;
  MessageLoop::Current().RemovePostedMessages(SockWindow, WM_SOCKET_SELECT, static_cast<WPARAM>(SockHandle));
  transport::FinishCloseLater(SockHandle, tls->TakeUnsent(), peerClosed);
  return true;
}

// ---- plain bytes ----

int TVelaSocket::TlsSend(const char* Buffer, int Count) {
  if (Count <= 0) return 0;
  if (Tls->phase != Phase::Established) {
    SockError = Tls->phase == Phase::Handshaking ? std::uint16_t{WSAENOTCONN} : Tls->Error();
    return 0;
  }
  SockError = 0;
  std::string& plain = Tls->PlainOut;
  if (plain.size() >= static_cast<std::size_t>(kMaxPlainPerSend) && (!TlsSeal() || !plain.empty())) {
    if (SockError == 0) Tls->WriteWanted = true;  // the record waits for the socket
    return 0;
  }
  const int taken = std::min(Count, kMaxPlainPerSend - static_cast<int>(plain.size()));
  plain.append(Buffer, static_cast<std::size_t>(taken));
  if (plain.size() >= static_cast<std::size_t>(kMaxPlainPerSend)) {
    TlsSeal();
  } else if (!Tls->SealPosted) {
    Tls->SealPosted = true;
    TlsPost(kSealPlain, 0);
  }
  return SockError == 0 ? taken : 0;
}

// Plain bytes not yet in a record, and records the socket has not taken yet.
std::int64_t TVelaSocket::TlsHeldBytes() const {
  return static_cast<std::int64_t>(Tls->PlainOut.size() + Tls->UnsentBytes());
}

void TVelaSocket::SockFlush() {
  if (Tls && Tls->phase == Phase::Established) TlsSeal();
}

// Puts the gathered plain bytes in a record and hands it to the socket; false on a failure
// (then SockError is set and a close follows). Bytes stay gathered while earlier records
// still wait for the socket.
bool TVelaSocket::TlsSeal() {
  std::string& plain = Tls->PlainOut;
  if (plain.empty()) return true;
  int n = 0;
  switch (Tls->Write(plain.data(), static_cast<int>(plain.size()), n)) {
    case Outcome::Done:
      plain.erase(0, static_cast<std::size_t>(n));
      return true;
    case Outcome::WouldBlock:
      Tls->WriteWanted = true;
      return true;
    default:
      SockError = Tls->Error();
      TlsPost(FD_CLOSE, SockError);
      return false;
  }
}

int TVelaSocket::TlsReceive(char* Buffer, int Count) {
  if (Tls->phase != Phase::Established) {
    SockError = Tls->phase == Phase::Handshaking ? std::uint16_t{0} : Tls->Error();
    return 0;
  }
  int n = 0;
  switch (Tls->Read(Buffer, Count, n)) {
    case Outcome::Done:
      SockError = 0;
      TlsFollowUp();
      return n;
    case Outcome::WouldBlock:
      SockError = 0;
      if (Tls->CloseDeferred) TlsPost(FD_CLOSE, 0);
      return 0;
    case Outcome::Ended:
      TlsPost(FD_CLOSE, 0);  // after a graceful end SockError keeps its value
      return 0;
    case Outcome::Failed:
      SockError = Tls->Error();
      TlsPost(FD_CLOSE, SockError);
      return 0;
  }
  return 0;
}
