#include "platform/SelectNotifier.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/WinsockErrors.h"

namespace platform::posix {

namespace {

constexpr std::uint32_t kWatchedEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLERR | EPOLLHUP;

bool Notify(SOCKET s, const SocketState& st, long event, int wsaError = 0) {
  if ((st.mask & event) == 0 || st.loop == nullptr) return false;
  return st.loop->PostMessage(st.window, st.msg, static_cast<WPARAM>(s),
                              MakeSelectLParam(static_cast<std::uint16_t>(event),
                                               static_cast<std::uint16_t>(wsaError)));
}

int PendingSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

bool HasUnreadBytes(int fd) {
  int available = 0;
  return ::ioctl(fd, FIONREAD, &available) == 0 && available > 0;
}

bool ConnectionWaiting(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

void PostClose(SOCKET s, SocketState& st, int wsaError) {
  if (st.closePosted) return;
  st.closePosted = true;
  Notify(s, st, FD_CLOSE, wsaError);
}

// Data waiting: FD_READ unless one is outstanding. After the peer's end of stream, FD_CLOSE
// comes only once every byte before it has been read.
void OfferInput(SOCKET s, SocketState& st) {
  if (st.closePosted || st.readPending || st.phase != Phase::Connected) return;
  if (st.peerClosed && !HasUnreadBytes(st.fd)) {
    PostClose(s, st, 0);
    return;
  }
  if (Notify(s, st, FD_READ)) st.readPending = true;
}

void OfferAccept(SOCKET s, SocketState& st) {
  if (!st.acceptPending && Notify(s, st, FD_ACCEPT)) st.acceptPending = true;
}

void AnnounceWrite(SOCKET s, SocketState& st) {
  if (st.writeAnnounced) return;
  st.writeAnnounced = Notify(s, st, FD_WRITE);
}

void CompleteConnect(SOCKET s, SocketState& st, int err) {
  if (err != 0) {
    st.phase = Phase::Failed;  // nothing more is reported for this socket
    Notify(s, st, FD_CONNECT, WinsockErrorFromErrno(err));
    return;
  }
  st.phase = Phase::Connected;
  Notify(s, st, FD_CONNECT);
  AnnounceWrite(s, st);
}

bool ConnectSettled(int fd, std::uint32_t events, int& err) {
  if ((events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) == 0) return false;
  err = PendingSocketError(fd);
  if (err == 0) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    // A hang-up without a pending error still means the attempt did not connect.
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) err = ECONNREFUSED;
  }
  return true;
}

void OnReadiness(SOCKET s, std::uint32_t events) {
  SocketState* const sp = FindSocket(s);
  if (!sp) return;
  SocketState& st = *sp;
  switch (st.phase) {
    case Phase::Idle:
    case Phase::Failed:
      return;
    case Phase::Listening:
      if (events & EPOLLIN) OfferAccept(s, st);
      return;
    case Phase::Connecting: {
      int err = 0;
      if (!ConnectSettled(st.fd, events, err)) return;
      CompleteConnect(s, st, err);
      if (st.phase != Phase::Connected) return;
      break;
    }
    case Phase::Connected:
      break;
  }
  if (st.closePosted) return;
  if (events & EPOLLERR) {
    // An abortive close (a reset) ends the connection at once; unread data no longer count.
    if (const int err = PendingSocketError(st.fd); err != 0) {
      PostClose(s, st, WinsockErrorFromErrno(err));
      return;
    }
  }
  if (events & (EPOLLRDHUP | EPOLLHUP)) st.peerClosed = true;
  if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP)) OfferInput(s, st);
  if ((events & EPOLLOUT) && st.writeWanted && !st.closePosted) {
    st.writeWanted = false;
    Notify(s, st, FD_WRITE);
  }
}

}  // namespace

int Select(SOCKET s, SocketState& st, HWND window, UINT msg, long mask) {
  MessageLoop& loop = MessageLoop::Current();
  if (st.watched && st.loop != &loop) {
    st.loop->UnwatchFd(st.fd);
    st.watched = false;
  }
  st.loop = &loop;
  st.window = window;
  st.msg = msg;
  st.mask = mask;
  if (mask == 0) {
    if (st.watched) loop.UnwatchFd(st.fd);
    st.watched = false;
    return 0;
  }
  // Watching again re-reports the present readiness, so what the new selection asks for is
  // offered afresh.
  st.readPending = false;
  st.acceptPending = false;
  if (!loop.WatchFd(st.fd, kWatchedEvents, [s](std::uint32_t events) { OnReadiness(s, events); }))
    return errno;
  st.watched = true;
  if (st.phase == Phase::Connected) AnnounceWrite(s, st);
  return 0;
}

void Unselect(SOCKET s, SocketState& st) {
  if (st.loop == nullptr) return;
  if (st.watched) st.loop->UnwatchFd(st.fd);
  st.watched = false;
  st.loop->RemovePostedMessages(st.window, st.msg, static_cast<WPARAM>(s));
}

void ConnectFinished(SOCKET s, SocketState& st, int err) { CompleteConnect(s, st, err); }

void ListenStarted(SocketState& st) { st.phase = Phase::Listening; }

void Accepted(SOCKET s, SocketState& st) {
  st.acceptPending = false;
  if (ConnectionWaiting(st.fd)) OfferAccept(s, st);
}

void Received(SOCKET s, SocketState& st, ssize_t n, int len, int err) {
  if (n < 0 && err != EAGAIN) {
    if (err == ECONNRESET || err == EPIPE) PostClose(s, st, WSAECONNRESET);
    return;
  }
  st.readPending = false;
  if (n == 0) st.peerClosed = true;
  // A read that filled the buffer leaves more data behind, probably: offer them at once
  // rather than wait for a readiness report. A shorter read (or none) drained the socket,
  // and epoll reports the next arrival; after the peer's end of stream no report comes,
  // so the close is decided here.
  if (n == len || st.peerClosed) OfferInput(s, st);
}

void Sent(SOCKET s, SocketState& st, ssize_t n, int len, int err) {
  if (n >= 0) {
    if (n < len) st.writeWanted = true;
    return;
  }
  if (err == EAGAIN) {
    st.writeWanted = true;
  } else if ((err == ECONNRESET || err == EPIPE) && st.phase == Phase::Connected) {
    PostClose(s, st, WSAECONNRESET);
  }
}

}  // namespace platform::posix
