#include "transport/velasock.h"

#include <cstring>

#include "platform/AddressText.h"
#include "platform/WinsockErrors.h"
#include "transport/SocketCalls.h"
#include "transport/SocketMessages.h"
#include "transport/TlsConnection.h"

using namespace platform;
using transport::LastError;
using transport::Lib;
using transport::WM_SOCKET_LOOKUP;
using transport::WM_SOCKET_SELECT;

namespace {

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
  SockHandle = Lib().socket(SockAddr.sin_family, SOCK_STREAM_VALUE, 0);
  SockError = SockHandle == INVALID_SOCKET ? LastError() : 0;
  if (SockError == 0) SendAtOnce();
}

// Every write here is already a whole message (a command line, a TLS record, a block of a
// file), so Nagle's algorithm only holds back the last small one (the tail of a file,
// close_notify after the last record) until the peer acknowledges what went before, which
// a peer that delays its acknowledgements does 40 ms later, once per file. A socket that
// refuses the option works as before; SockError is not touched.
void TVelaSocket::SendAtOnce() {
  const int on = 1;
  Lib().setsockopt(SockHandle, IPPROTO_TCP_VALUE, TCP_NODELAY_VALUE, reinterpret_cast<const char*>(&on),
                   static_cast<int>(sizeof on));
}

// Text that is no address gives the IPv4 "no address" value (all 32 bits set).
void TVelaSocket::SockSetAddress(const std::string& Text) {
  SOCKADDR_INET address;
  if (!AddressFromText(Text, address)) address.sin_addr = INADDR_NONE_VALUE;
  address.sin_port = SockAddr.sin_port;
  SockAddr = address;
}

void TVelaSocket::SockSetPort(std::uint16_t Port) {
  SockAddr.sin_port = (Lib().htons)(Port);
}

std::string TVelaSocket::SockAddressText() {
  return AddressText(SockAddr);
}

void TVelaSocket::SockResolve(const std::string& Name) {
  if (LookupHandle != 0) return;
  if (Name.size() > static_cast<std::size_t>(MAX_HOST_NAME)) {
    // Longer than any host name can be: refused whole rather than truncated into another name.
    SockError = WSAHOST_NOT_FOUND;
    return;
  }
  std::memcpy(HostNameBuffer, Name.c_str(), Name.size() + 1);
  LookupHandle = Lib().WSAAsyncGetAddrInfo(SockWindow, WM_SOCKET_LOOKUP, HostNameBuffer, AddressFamily,
                                           &ResolvedAddresses);
  SockError = LookupHandle == 0 ? LastError() : 0;
  if (SockError == 0) SetTimeOut(TimeOutArp);
}

void TVelaSocket::SockUseResolved() {
  const std::uint16_t port = SockAddr.sin_port;
  SockAddr = ResolvedAddress;
  SockAddr.sin_port = port;
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

void TVelaSocket::SockConnectTo(const std::string& Address, std::uint16_t Port) {
  SockSetAddress(Address);
  SockSetPort(Port);
  SockError = 0;
  if (AddressFamily != AF_UNSPEC_VALUE && SockAddr.sin_family != AddressFamily) {
    SockError = WSAHOST_NOT_FOUND;
    return;
  }
  SockOpen();
  if (SockError == 0) SockConnect();
}

void TVelaSocket::SockConnectResolved() {
  NextAddress = 0;
  ConnectNextAddress();
}

// Starts the connect to the next resolved address, on a socket of its family; false when
// none is left whose connect could start (SockError holds the last failure).
bool TVelaSocket::ConnectNextAddress() {
  while (NextAddress >= 0 && NextAddress < ResolvedAddresses.Count) {
    if (NextAddress > 0 && SockHandle != INVALID_SOCKET) {
      Lib().closesocket(SockHandle);  // the try that failed
      SockHandle = INVALID_SOCKET;
      SockConnected = false;
    }
    const std::uint16_t port = SockAddr.sin_port;
    SockAddr = ResolvedAddresses.Addresses[NextAddress++];
    SockAddr.sin_port = port;
    SockOpen();
    if (SockError == 0) SockConnect();
    if (SockError == 0) return true;
  }
  NextAddress = -1;
  return false;
}

// A try of SockConnectResolved failed or timed out: true when the next address is being
// tried, or when the rest failed at once (raised as the connect notification).
bool TVelaSocket::TryNextAddress() {
  if (NextAddress < 0 || NextAddress >= ResolvedAddresses.Count) {
    NextAddress = -1;
    return false;
  }
  if (ConnectNextAddress()) return true;
  StopCountdown();
  SockConnected = true;
  Raise(OnSockConnect, this);
  return true;
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
  SendAtOnce();
  Lib().WSAAsyncSelect(SockHandle, SockWindow, WM_SOCKET_SELECT, FD_READ | FD_WRITE | FD_CLOSE);
}

void TVelaSocket::SockAcceptAgain() {
  MessageLoop::Current().PostMessage(SockWindow, WM_SOCKET_SELECT, static_cast<WPARAM>(SockHandle),
                                     MakeSelectLParam(FD_ACCEPT, 0));
}

void TVelaSocket::SockClose() {
  NextAddress = -1;
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

std::int64_t TVelaSocket::SockUnsentBytes() {
  if (SockHandle == INVALID_SOCKET) return 0;
  std::uint32_t queued = 0;
  if (Lib().ioctlsocket(SockHandle, SIOCOUTQ_VALUE, &queued) != 0) queued = 0;
  return static_cast<std::int64_t>(queued) + (Tls ? TlsHeldBytes() : 0);
}

std::string TVelaSocket::SockLocalAddress() {
  if (SockHandle == INVALID_SOCKET) return {};
  SOCKADDR_INET local{};
  int length = sizeof(local);
  if (Lib().getsockname(SockHandle, &local, &length) != 0) {
    SockError = LastError();
    return {};
  }
  SockError = 0;
  return AddressText(local);
}

std::uint16_t TVelaSocket::SockLocalPort() {
  if (SockHandle == INVALID_SOCKET) return 0;
  SOCKADDR_INET local{};
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

// Only text that is an address is taken as one (see AddressFromText), held in its
// canonical form; anything else, even beginning with a digit, is a name to look up.
void TVelaSocket::SetFtpServer(const std::string& Value) {
  FtpServer = Value;
  if (Value.empty()) return;
  if (std::string address = CanonicalAddressText(Value); !address.empty()) {
    ServerAddress = std::move(address);
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
        if (TryNextAddress()) return;
        SockClose();
        Raise(OnSockTimeOut, this);
      }
      return;
    case WM_SOCKET_LOOKUP: {
      StopCountdown();
      SockError = HighWord(Message.LParam);
      if (SockError == 0 && ResolvedAddresses.Count == 0) SockError = WSANO_DATA;
      if (SockError == 0) ResolvedAddress = ResolvedAddresses.Addresses[0];
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
          if (SockError != 0 && TryNextAddress()) break;
          NextAddress = -1;
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
