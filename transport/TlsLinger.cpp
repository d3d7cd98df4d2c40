#include "transport/TlsLinger.h"

#include <map>

#include "platform/MessageLoop.h"
#include "platform/WinsockErrors.h"
#include "transport/SocketCalls.h"

using namespace platform;

namespace transport {

namespace {

constexpr UINT WM_SOCKET_SELECT = WM_USER + 1;
constexpr std::uintptr_t kTimerId = 1;
// Longer than any sound network needs for a few kilobytes.
constexpr int kLingerSeconds = 30;

class TlsLinger {
 public:
  TlsLinger() {
    window_ = MessageLoop::Current().CreateHiddenWindow([this](TMessage& m) { WndProc(m); });
  }
  ~TlsLinger() {
    for (auto& [socket, closing] : closing_) Lib().closesocket(socket);
    MessageLoop::Current().DestroyWindow(window_);
  }

  void Adopt(SOCKET socket, std::string unsent) {
    closing_[socket] = Closing{std::move(unsent), 0, kLingerSeconds};
    Lib().WSAAsyncSelect(socket, window_, WM_SOCKET_SELECT, FD_WRITE | FD_CLOSE);
    if (closing_.size() == 1) MessageLoop::Current().SetTimer(window_, kTimerId, 1000);
    Flush(socket);
  }

  int Count() const { return static_cast<int>(closing_.size()); }

 private:
  struct Closing {
    std::string unsent;
    std::size_t sent;
    int secondsLeft;
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
    if (LowWord(m.LParam) == FD_WRITE) {
      Flush(socket);
    } else if (LowWord(m.LParam) == FD_CLOSE) {
      Close(socket);
    }
  }

  void Flush(SOCKET socket) {
    Closing& c = closing_[socket];
    while (c.sent < c.unsent.size()) {
      const int n = Lib().send(socket, c.unsent.data() + c.sent, static_cast<int>(c.unsent.size() - c.sent), 0);
      if (n == SOCKET_ERROR) {
        if (LastError() != WSAEWOULDBLOCK) Close(socket);
        return;  // a write notification follows when there is room
      }
      c.sent += static_cast<std::size_t>(n);
    }
    Close(socket);
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

void FinishCloseLater(SOCKET socket, std::string unsent) { ThisThreadsLinger().Adopt(socket, std::move(unsent)); }

int ClosesFinishing() { return ThisThreadsLinger().Count(); }

}  // namespace transport
