#include "transport/TlsLinger.h"

#include <algorithm>
#include <map>

#include "platform/MessageLoop.h"
#include "platform/WinsockErrors.h"
#include "transport/SocketCalls.h"
#include "transport/SocketMessages.h"

using namespace platform;

namespace transport {

namespace {

constexpr std::uintptr_t kTimerId = 1;
// Longer than any sound network needs for the few kilobytes that can wait.
constexpr int kSendSeconds = 30;
// A peer answers close_notify with its own close at once.
constexpr int kPeerCloseSeconds = 5;
// Reads per read notification, so that a peer that keeps sending cannot hold the loop.
constexpr int kDiscardReads = 16;

class TlsLinger {
 public:
  TlsLinger() {
    window_ = MessageLoop::Current().CreateHiddenWindow([this](TMessage& m) { WndProc(m); });
  }
  ~TlsLinger() {
    for (auto& [socket, closing] : closing_) Lib().closesocket(socket);
    MessageLoop::Current().DestroyWindow(window_);
  }
  TlsLinger(const TlsLinger&) = delete;
  TlsLinger& operator=(const TlsLinger&) = delete;

  void Adopt(SOCKET socket, std::string unsent, bool peerClosed) {
    closing_[socket] = Closing{std::move(unsent), 0, kSendSeconds, peerClosed};
    Lib().WSAAsyncSelect(socket, window_, WM_SOCKET_SELECT, FD_READ | FD_WRITE | FD_CLOSE);
    if (closing_.size() == 1) MessageLoop::Current().SetTimer(window_, kTimerId, 1000);
    Discard(socket);
    if (closing_.count(socket) != 0) Send(socket);
  }

  int Count() const { return static_cast<int>(closing_.size()); }

 private:
  struct Closing {
    std::string unsent;
    std::size_t sent;
    int secondsLeft;
    bool peerClosed;
  };

  void WndProc(TMessage& m) {
    if (m.Msg == WM_TIMER) {
      for (auto it = closing_.begin(); it != closing_.end();) {
        const SOCKET socket = it->first;
        const bool expired = --it->second.secondsLeft <= 0;
        ++it;
        if (expired) Close(socket);
      }
      return;
    }
    if (m.Msg != WM_SOCKET_SELECT) return;
    const auto socket = static_cast<SOCKET>(m.WParam);
    if (closing_.count(socket) == 0) return;
    switch (LowWord(m.LParam)) {
      case FD_READ: Discard(socket); break;
      case FD_WRITE: Send(socket); break;
      case FD_CLOSE: Close(socket); break;
      default: break;
    }
  }

  void Send(SOCKET socket) {
    Closing& c = closing_[socket];
    while (c.sent < c.unsent.size()) {
      const int n = Lib().send(socket, c.unsent.data() + c.sent, static_cast<int>(c.unsent.size() - c.sent), 0);
      if (n == SOCKET_ERROR) {
        if (LastError() != WSAEWOULDBLOCK) Close(socket);
        return;  // a write notification follows when there is room
      }
      c.sent += static_cast<std::size_t>(n);
    }
    if (c.peerClosed) {
      Close(socket);
      return;
    }
    std::string().swap(c.unsent);
    c.sent = 0;
    c.secondsLeft = std::min(c.secondsLeft, kPeerCloseSeconds);
  }

  void Discard(SOCKET socket) {
    char scratch[16384];
    for (int i = 0; i < kDiscardReads; ++i) {
      const int n = Lib().recv(socket, scratch, sizeof scratch, 0);
      if (n > 0) continue;
      if (n == 0) {
        Closing& c = closing_[socket];
        c.peerClosed = true;
        if (c.sent == c.unsent.size()) Close(socket);
      } else if (LastError() != WSAEWOULDBLOCK) {
        Close(socket);
      }
      return;
    }
  }

  void Close(SOCKET socket) {
    Lib().closesocket(socket);
    closing_.erase(socket);
    if (closing_.empty()) MessageLoop::Current().KillTimer(window_, kTimerId);
  }

  HWND window_ = 0;
  std::map<SOCKET, Closing> closing_;
};

TlsLinger& ThisThreadsLinger() {
  thread_local TlsLinger linger;
  return linger;
}

}  // namespace

void FinishCloseLater(SOCKET socket, std::string unsent, bool peerClosed) {
  ThisThreadsLinger().Adopt(socket, std::move(unsent), peerClosed);
}

int ClosesFinishing() { return ThisThreadsLinger().Count(); }

}  // namespace transport
