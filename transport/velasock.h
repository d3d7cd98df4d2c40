// TVelaSocket: one TCP socket, IPv4 or IPv6, driven without ever blocking. Every network event and
// the end of every host-name lookup arrives as a message on the object's hidden window and
// becomes one of its events, on the loop's thread. Outcomes are left in SockError (Windows
// Sockets numbers, 0 = none); nothing throws. A one-second countdown bounds a lookup, a
// connect or a TLS handshake.
//
// A connected (or accepted) socket can become a TLS client session (SockStartTls): the
// handshake ends with OnSockTlsDone, and from then on SockSend and SockReceive move plain
// bytes with the events of a plain socket. The encrypted bytes still go through the socket
// library's send and recv, so a fake library sees them too (velasockTls.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "transport/Component.h"
#include "transport/TlsTypes.h"
#include "platform/MessageLoop.h"
#include "platform/Winsock.h"

class TTlsConnection;

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
  // Connects to each address of the last lookup in turn, from the first, on SockAddr's
  // port: a try that fails, or has no answer within TimeOutConnect, gives way to the next
  // one. Only the last try's outcome is raised (the connect notification, or the time-out);
  // SockAddr holds the address of the try under way.
  void SockConnectResolved();
  // Opens a socket of the address's family and connects it to address:Port, unless the
  // address is of the other family than AddressFamily asks for (WSAHOST_NOT_FOUND).
  void SockConnectTo(const std::string& Address, std::uint16_t Port);
  void SockListen();
  void SockAccept(TVelaSocket& Listener);
  // A listening socket raises OnSockAccept once more, from the loop: for a connection whose
  // notification came while nobody was ready to take it.
  void SockAcceptAgain();
  void SockClose();
  int SockSend(const char* Buffer, int Count);
  int SockSendUrgent(const char* Buffer, int Count);
  int SockReceive(char* Buffer, int Count);
  // The bytes SockSend took that the peer has not acknowledged yet: the socket's send
  // queue and, under TLS, what the session still holds. 0 when the library cannot tell.
  std::int64_t SockUnsentBytes();
  std::string SockLocalAddress();
  std::uint16_t SockLocalPort();
  void SetTimeOut(int Seconds);
  void SetFtpServer(const std::string& Value);
  void WndProc(platform::TMessage& Message);

  // TLS client session over the connected socket. With SockError = 0 afterwards the
  // handshake is under way, bounded by TimeOutConnect: OnSockTlsDone follows (SockError 0,
  // or a Windows Sockets or TLSE_ number) unless the countdown ends it with OnSockTimeOut.
  // Until then the socket raises no read, write or close event, and after a failed
  // handshake none at all (a peer's close ends the socket quietly); after a good one
  // SockSend and SockReceive move plain bytes (SockSendUrgent too, in band: TLS has no
  // urgent data). Refused at once with WSAENOTCONN (not connected), WSAEISCONN (a session
  // exists until SockClose) or TLSE_SETUP.
  void SockStartTls(const TTlsClientOptions& Options);
  bool SockTlsActive() const { return Tls != nullptr; }
  // Under TLS, puts what SockSend has gathered in a record and hands it to the socket now
  // rather than at the next dispatch (a command that must be on its way before anything
  // else is sent). Nothing to do on a plain socket; a failure is left in SockError.
  void SockFlush();
  // The newest session of the last TLS session started here, for another socket's
  // options; it outlives the connection.
  TTlsSession SockTlsSession() const { return TlsSession; }

  // Fields (public, as the component's owner and the FTP component read them).
  platform::HWND SockWindow = 0;
  platform::SOCKET SockHandle = platform::INVALID_SOCKET;
  platform::SOCKADDR_INET SockAddr{};
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
  TNotifyEvent OnSockTlsDone;
  TTlsInfo TlsInfo;  // what the last handshake established
  platform::ADDRESS_LIST ResolvedAddresses;  // what the last successful lookup found
  platform::SOCKADDR_INET ResolvedAddress;    // the first of them
  // Names are looked up in both families (AF_UNSPEC_VALUE) or in this one only.
  int AddressFamily = platform::AF_UNSPEC_VALUE;
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

 protected:
  static void Raise(const TNotifyEvent& event, TObject* sender) {
    if (event) event(sender);
  }

 private:
  void StopCountdown();
  void SendAtOnce();
  void CloseAfterNotification(platform::SOCKET closing);
  bool ConnectNextAddress();
  bool TryNextAddress();
  // TLS (velasockTls.cpp).
  void TlsNotification(std::uint16_t event, std::uint16_t error);
  void TlsHandshakeStep(std::uint16_t event, std::uint16_t error);
  void TlsHandshakeEnded(std::uint16_t error, bool peerClosed);
  void TlsInput();
  void TlsPeerClosed(std::uint16_t error);
  void TlsWritable();
  void TlsFollowUp();
  void TlsPost(std::uint16_t event, std::uint16_t error);
  void TlsRaiseClose(std::uint16_t error);
  bool TlsHandOverClose(bool peerClosed);
  int TlsSend(const char* Buffer, int Count);
  bool TlsSeal();
  int TlsReceive(char* Buffer, int Count);
  std::int64_t TlsHeldBytes() const;

  std::unique_ptr<TTlsConnection> Tls;
  TTlsSession TlsSession;
  int NextAddress = -1;  // the next resolved address to try; -1 when not connecting in turn
};
