// TVelaSocket: one IPv4 TCP socket driven without ever blocking. Every network event and
// the end of every host-name lookup arrives as a message on the object's hidden window and
// becomes one of its events, on the loop's thread. Outcomes are left in SockError (Windows
// Sockets numbers, 0 = none); nothing throws. A one-second countdown bounds a lookup or a
// connect.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "transport/Component.h"
#include "platform/MessageLoop.h"
#include "platform/Winsock.h"

class TVelaSocket : public TObject {
 public:
  TVelaSocket();
  ~TVelaSocket() override;
  TVelaSocket(const TVelaSocket&) = delete;
  TVelaSocket& operator=(const TVelaSocket&) = delete;

  // Library binding and initialisation.
  bool LoadWinsock(const std::string& LibraryName);
  bool InitWinsock();
  void CleanupWinsock();
  void StopWinsock();

  // Socket operations; each leaves its outcome in SockError.
  void SockOpen();
  void SockSetAddress(const std::string& Text);
  void SockSetPort(std::uint16_t Port);
  std::string SockAddressText();
  void SockResolve(const std::string& Name);
  void SockUseResolved();
  virtual void DoResolved();
  void SockConnect();
  void SockListen();
  void SockAccept(TVelaSocket& Listener);
  void SockClose();
  int SockSend(const char* Buffer, int Count);
  int SockSendUrgent(const char* Buffer, int Count);
  int SockReceive(char* Buffer, int Count);
  std::string SockLocalAddress();
  std::uint16_t SockLocalPort();
  void SetTimeOut(int Seconds);
  void SetFtpServer(const std::string& Value);
  void WndProc(platform::TMessage& Message);

  // Fields (public, as the component's owner and the FTP component read them).
  platform::HWND SockWindow = 0;
  platform::SOCKET SockHandle = platform::INVALID_SOCKET;
  platform::SOCKADDR_IN SockAddr{};
  bool SockConnected = false;
  const platform::SocketLibraryTable* LibHandle = nullptr;
  bool LibLoaded = false;
  bool WinsockStarted = false;
  std::string Description;
  std::string SystemStatus;
  int MaxSockets = 0;
  std::function<void(platform::TMessage&)> OnSockMessage;
  platform::WSADATA WinsockData{};
  TNotifyEvent OnSockResolved;
  TNotifyEvent OnSockConnect;
  TNotifyEvent OnSockClose;
  TNotifyEvent OnSockTimeOut;
  TNotifyEvent OnSockRead;
  TNotifyEvent OnSockWrite;
  TNotifyEvent OnSockAccept;
  alignas(8) char HostEntBuffer[platform::MAXGETHOSTSTRUCT] = {};
  std::uint32_t ResolvedAddress = 0;  // network order
  platform::HANDLE LookupHandle = 0;
  int TimeOutConnect = 0;
  int TimeOutArp = 0;
  int TimeOutCount = 0;
  std::uintptr_t TimerId = 0;
  // Holds any name up to the DNS limit whole: a truncated name would be another host.
  char HostNameBuffer[platform::MAX_HOST_NAME + 1] = {};
  std::string ServerAddress;
  std::string ServerHostName;
  std::string FtpServer;
  std::uint16_t FtpPort = 0;
  std::uint16_t SockError = 0;

  // The peer's (or the bound) IPv4 address, network order.
  std::uint32_t SockAddressValue() const { return SockAddr.sin_addr; }

 protected:
  static void Raise(const TNotifyEvent& event, TObject* sender) {
    if (event) event(sender);
  }
};
