#include "transport/velasock.h"

#include <netdb.h>

#include <cstring>

#include "platform/WinsockErrors.h"
#include "transport/SocketCalls.h"
#include "transport/TlsConnection.h"

using namespace platform;
using transport::LastError;
using transport::Lib;

namespace {

constexpr UINT WM_SOCKET_LOOKUP = WM_USER;
constexpr UINT WM_SOCKET_SELECT = WM_USER + 1;
constexpr std::uint16_t kWinsockVersion11 = 0x0101;

}  // namespace

TVelaSocket::TVelaSocket() {
  SockWindow = MessageLoop::Current().CreateHiddenWindow([this](TMessage& m) { WndProc(m); });
  SockAddr.sin_family = AF_INET_VALUE;
}

TVelaSocket::~TVelaSocket() {
  MessageLoop::Current().DestroyWindow(SockWindow);
  SockWindow = 0;
  if (WinsockStarted) CleanupWinsock();
  if (LibLoaded) StopWinsock();
}

bool TVelaSocket::LoadWinsock(const std::string& LibraryName) {
  LibLoaded = false;
  const SocketLibraryTable* library = FindSocketLibrary(LibraryName.substr(0, 255));
  if (library == nullptr) return false;
  LibHandle = library;
  for (int i = 0; i < kSocketEntryPoints; ++i) {
    if (SocketEntryPoint(*library, i) == nullptr) return false;
  }
  Winsock() = *library;
  LibLoaded = true;
  return true;
}

bool TVelaSocket::InitWinsock() {
  if (WinsockStarted) return true;
  if (!LibLoaded) LoadWinsock("");
  if (LibLoaded && Winsock().WSAStartup(kWinsockVersion11, &WinsockData) == 0) {
    WinsockStarted = true;
    Description = WinsockData.szDescription;
    SystemStatus = WinsockData.szSystemStatus;
    MaxSockets = static_cast<std::int16_t>(WinsockData.iMaxSockets);
  }
  return WinsockStarted;
}

void TVelaSocket::CleanupWinsock() {
  if (!WinsockStarted) return;
  WinsockStarted = false;
  Lib().WSACleanup();
}

void TVelaSocket::StopWinsock() {
  if (WinsockStarted) CleanupWinsock();
  if (LibLoaded) {
    LibHandle = nullptr;
    LibLoaded = false;
  }
}

void TVelaSocket::SockOpen() {
  if (SockHandle != INVALID_SOCKET) return;
  SockHandle = Lib().socket(AF_INET_VALUE, SOCK_STREAM_VALUE, 0);
  SockError = SockHandle == INVALID_SOCKET ? LastError() : 0;
}

void TVelaSocket::SockSetAddress(const std::string& Text) {
  SockAddr.sin_addr = Lib().inet_addr(Text.c_str());
}

void TVelaSocket::SockSetPort(std::uint16_t Port) {
  SockAddr.sin_port = (Lib().htons)(Port);
}

std::string TVelaSocket::SockAddressText() {
  return Lib().inet_ntoa(SockAddr.sin_addr);
}

void TVelaSocket::SockResolve(const std::string& Name) {
  if (LookupHandle != 0) return;
  if (Name.size() > static_cast<std::size_t>(MAX_HOST_NAME)) {
    // Longer than any host name can be: refused whole rather than truncated into another name.
    SockError = WSAHOST_NOT_FOUND;
    return;
  }
  std::memcpy(HostNameBuffer, Name.c_str(), Name.size() + 1);
  LookupHandle = Lib().WSAAsyncGetHostByName(SockWindow, WM_SOCKET_LOOKUP, HostNameBuffer,
                                             HostEntBuffer, MAXGETHOSTSTRUCT);
  SockError = LookupHandle == 0 ? LastError() : 0;
  if (SockError == 0) SetTimeOut(TimeOutArp);
}

void TVelaSocket::SockUseResolved() {
  SockAddr.sin_addr = ResolvedAddress;
}

void TVelaSocket::DoResolved() {
  Raise(OnSockResolved, this);
}

void TVelaSocket::SockConnect() {
  Lib().WSAAsyncSelect(SockHandle, SockWindow, WM_SOCKET_SELECT, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
  if (Lib().connect(SockHandle, &SockAddr, sizeof(SockAddr)) != 0) {
    SockError = LastError();
    if (SockError == WSAEWOULDBLOCK) SockError = 0;
  } else {
    SockError = 0;
  }
  if (SockError == 0) SetTimeOut(TimeOutConnect);
}

void TVelaSocket::SockListen() {
  if (Lib().bind(SockHandle, &SockAddr, sizeof(SockAddr)) != 0) {
    SockError = LastError();
    return;
  }
  Lib().WSAAsyncSelect(SockHandle, SockWindow, WM_SOCKET_SELECT, FD_ACCEPT);
  if (Lib().listen(SockHandle, 2) != 0) SockError = LastError();
}

void TVelaSocket::SockAccept(TVelaSocket& Listener) {
  int length = sizeof(SockAddr);
  SockHandle = Lib().accept(Listener.SockHandle, &SockAddr, &length);
  if (SockHandle == INVALID_SOCKET) {
    SockError = LastError();
    return;
  }
  SockError = 0;
  SockConnected = true;
  Lib().WSAAsyncSelect(SockHandle, SockWindow, WM_SOCKET_SELECT, FD_READ | FD_WRITE | FD_CLOSE);
}

void TVelaSocket::SockClose() {
  if (LookupHandle != 0) {
    Lib().WSACancelAsyncRequest(LookupHandle);
    LookupHandle = 0;
  }
  StopCountdown();
  if (SockHandle == INVALID_SOCKET) return;
  if (TlsHandOverClose(false)) {
    // The TLS session's last bytes go out after this, as a plain socket's unsent bytes do.
    SockError = 0;
    SockHandle = INVALID_SOCKET;
    SockConnected = false;
    return;
  }
  Lib().closesocket(SockHandle);
  SockError = LastError();
  SockHandle = INVALID_SOCKET;
  SockConnected = false;
}

namespace {

int TransferResult(int n, std::uint16_t& sockError) {
  if (n >= 1) {
    sockError = 0;
    return n;
  }
  if (n == SOCKET_ERROR) {
    sockError = LastError();
    if (sockError == WSAEWOULDBLOCK) sockError = 0;
  }
  return 0;
}

}  // namespace

int TVelaSocket::SockSend(const char* Buffer, int Count) {
  if (Tls) return TlsSend(Buffer, Count);
  return TransferResult(Lib().send(SockHandle, Buffer, Count, 0), SockError);
}

int TVelaSocket::SockSendUrgent(const char* Buffer, int Count) {
  if (Tls) return TlsSend(Buffer, Count);
  return TransferResult(Lib().send(SockHandle, Buffer, Count, MSG_OOB_VALUE), SockError);
}

int TVelaSocket::SockReceive(char* Buffer, int Count) {
  if (Tls) return TlsReceive(Buffer, Count);
  return TransferResult(Lib().recv(SockHandle, Buffer, Count, 0), SockError);
}

std::string TVelaSocket::SockLocalAddress() {
  if (SockHandle == INVALID_SOCKET) return {};
  SOCKADDR_IN local{};
  int length = sizeof(local);
  if (Lib().getsockname(SockHandle, &local, &length) != 0) {
    SockError = LastError();
    return {};
  }
  SockError = 0;
  return Lib().inet_ntoa(local.sin_addr);
}

std::uint16_t TVelaSocket::SockLocalPort() {
  if (SockHandle == INVALID_SOCKET) return 0;
  SOCKADDR_IN local{};
  int length = sizeof(local);
  if (Lib().getsockname(SockHandle, &local, &length) != 0) {
    SockError = LastError();
    return 0;
  }
  SockError = 0;
  return (Lib().ntohs)(local.sin_port);
}

void TVelaSocket::StopCountdown() {
  if (TimerId == 0) return;
  MessageLoop::Current().KillTimer(SockWindow, TimerId);
  TimerId = 0;
}

void TVelaSocket::SetTimeOut(int Seconds) {
  if (TimerId != 0) MessageLoop::Current().KillTimer(SockWindow, TimerId);
  if (Seconds == 0) {
    TimerId = 0;
    return;
  }
  TimeOutCount = Seconds;
  TimerId = MessageLoop::Current().SetTimer(SockWindow, 1, 1000);
}

void TVelaSocket::SetFtpServer(const std::string& Value) {
  FtpServer = Value;
  if (Value.empty()) return;
  if (Value[0] >= '0' && Value[0] <= '9') {
    ServerAddress = Value;
    ServerHostName.clear();
  } else {
    ServerHostName = Value;
    ServerAddress.clear();
  }
}

// After the close notification's handler. The handler may have closed the socket itself, or
// even opened another one: only the socket the notification was about is closed here.
void TVelaSocket::CloseAfterNotification(SOCKET closing) {
  if (SockHandle != closing) return;
  if (!TlsHandOverClose(true) && SockConnected) Lib().closesocket(SockHandle);
  SockConnected = false;
  SockHandle = INVALID_SOCKET;
}

void TVelaSocket::WndProc(TMessage& Message) {
  if (Message.Msg > WM_SOCKET_SELECT && OnSockMessage) {
    OnSockMessage(Message);
    return;
  }
  switch (Message.Msg) {
    case WM_QUERYENDSESSION:
      Message.Result = 1;
      return;
    case WM_TIMER:
      if (TimerId == 0) return;  // a tick that was already queued when the countdown stopped
      if (--TimeOutCount == 0) {
        SockClose();
        Raise(OnSockTimeOut, this);
      }
      return;
    case WM_SOCKET_LOOKUP: {
      StopCountdown();
      SockError = HighWord(Message.LParam);
      if (SockError == 0) {
        const auto* entry = reinterpret_cast<const hostent*>(HostEntBuffer);
        std::memcpy(&ResolvedAddress, entry->h_addr_list[0], sizeof(ResolvedAddress));
      }
      LookupHandle = 0;
      DoResolved();
      return;
    }
    case WM_SOCKET_SELECT: {
      if (Tls && static_cast<SOCKET>(Message.WParam) == SockHandle) {
        // The TLS session decides what the application sees (and when the countdown stops).
        TlsNotification(LowWord(Message.LParam), HighWord(Message.LParam));
        return;
      }
      StopCountdown();
      const std::uint16_t event = LowWord(Message.LParam);
      SockError = HighWord(Message.LParam);
      switch (event) {
        case FD_READ: Raise(OnSockRead, this); break;
        case FD_WRITE: Raise(OnSockWrite, this); break;
        case FD_ACCEPT: Raise(OnSockAccept, this); break;
        case FD_CONNECT:
          SockConnected = true;
          Raise(OnSockConnect, this);
          break;
        case FD_CLOSE: {
          const SOCKET closing = static_cast<SOCKET>(Message.WParam);
          Raise(OnSockClose, this);
          CloseAfterNotification(closing);
          break;
        }
        default: break;
      }
      return;
    }
    default:
      Message.Result = 0;  // the default window procedure
      return;
  }
}
