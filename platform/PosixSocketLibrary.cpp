// The socket library over non-blocking POSIX sockets (TCP over IPv4 and IPv6). Each entry point does the
// system call, translates errno into the calling thread's last error, and tells the
// notifier what happened so that the network events follow the asynchronous-select rules.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/HostLookup.h"
#include "platform/PosixSockets.h"
#include "platform/SelectNotifier.h"
#include "platform/Winsock.h"
#include "platform/WinsockErrors.h"

namespace platform {

namespace {

using posix::FindSocket;
using posix::SetLastError;

constexpr int kAddressLength = sizeof(SOCKADDR_INET);
constexpr int kMsgPeek = 2;  // recv flag of the socket interface

// A connect that fails with one of these is reported later through FD_CONNECT, as the
// asynchronous model always does, rather than by the call.
bool ReportedLater(int err) {
  return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT;
}

int FailWith(int wsaError) {
  SetLastError(wsaError);
  return SOCKET_ERROR;
}

int FailErrno(int err) { return FailWith(WinsockErrorFromErrno(err)); }

int Succeed(int result) {
  SetLastError(0);
  return result;
}

// The system's form of `addr`; false, with the last error set, when there is none.
bool PosixAddress(const SOCKADDR_INET* addr, int len, sockaddr_storage& sa, socklen_t& saLen) {
  if (addr == nullptr || len < kAddressLength) {
    SetLastError(WSAEFAULT);
    return false;
  }
  if (!posix::ToPosix(*addr, sa, saLen)) {
    SetLastError(WSAEAFNOSUPPORT);
    return false;
  }
  return true;
}

bool ResultUsable(const SOCKADDR_INET* addr, const int* len) {
  return addr != nullptr && len != nullptr && *len >= kAddressLength;
}

SOCKET Socket(int af, int type, int protocol) {
  const int family = posix::PosixFamily(af);
  if (family != AF_INET && family != AF_INET6) return FailWith(WSAEAFNOSUPPORT);
  if (type != SOCK_STREAM_VALUE) return FailWith(WSAESOCKTNOSUPPORT);
  if (protocol != 0 && protocol != IPPROTO_TCP) return FailWith(WSAEPROTONOSUPPORT);
  const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return FailErrno(errno);
  SetLastError(0);
  return posix::AddSocket(fd);
}

int Connect(SOCKET s, const SOCKADDR_INET* addr, int len) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  sockaddr_storage sa{};
  socklen_t saLen = 0;
  if (!PosixAddress(addr, len, sa, saLen)) return SOCKET_ERROR;
  if (::connect(st->fd, reinterpret_cast<const sockaddr*>(&sa), saLen) == 0) {
    posix::ConnectFinished(s, *st, 0);
    return Succeed(0);
  }
  const int err = errno;
  if (err == EINPROGRESS || err == EINTR) {
    st->phase = posix::Phase::Connecting;
    return FailWith(WSAEWOULDBLOCK);
  }
  if (ReportedLater(err)) {
    posix::ConnectFinished(s, *st, err);
    return FailWith(WSAEWOULDBLOCK);
  }
  return FailErrno(err);
}

int Bind(SOCKET s, const SOCKADDR_INET* addr, int len) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  sockaddr_storage sa{};
  socklen_t saLen = 0;
  if (!PosixAddress(addr, len, sa, saLen)) return SOCKET_ERROR;
  if (::bind(st->fd, reinterpret_cast<const sockaddr*>(&sa), saLen) != 0) return FailErrno(errno);
  return Succeed(0);
}

int Listen(SOCKET s, int backlog) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (::listen(st->fd, backlog) != 0) return FailErrno(errno);
  posix::ListenStarted(*st);
  return Succeed(0);
}

SOCKET Accept(SOCKET s, SOCKADDR_INET* addr, int* len) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  // Checked first: a connection taken and then refused for want of room would be lost.
  if (addr != nullptr && !ResultUsable(addr, len)) return FailWith(WSAEFAULT);
  sockaddr_storage peer{};
  socklen_t peerLen = sizeof peer;
  const int fd = ::accept4(st->fd, reinterpret_cast<sockaddr*>(&peer), &peerLen,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
  const int err = errno;
  posix::Accepted(s, *st);
  if (fd < 0) return FailErrno(err);
  const SOCKET accepted = posix::AddSocket(fd, posix::Phase::Connected);
  if (addr != nullptr) {
    posix::FromPosix(reinterpret_cast<const sockaddr*>(&peer), *addr);
    *len = kAddressLength;
  }
  SetLastError(0);
  return accepted;
}

int CloseSocket(SOCKET s) {
  const auto st = posix::TakeSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  posix::Unselect(s, *st);
  ::close(st->fd);
  return Succeed(0);
}

int Send(SOCKET s, const char* buf, int len, int flags) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (len < 0 || (buf == nullptr && len > 0)) return FailWith(WSAEFAULT);
  const int sendFlags = MSG_NOSIGNAL | ((flags & MSG_OOB_VALUE) ? MSG_OOB : 0);
  const ssize_t n = ::send(st->fd, buf, static_cast<std::size_t>(len), sendFlags);
  const int err = errno;
  posix::Sent(s, *st, n, len, err);
  if (n < 0) return FailErrno(err);
  return Succeed(static_cast<int>(n));
}

int Recv(SOCKET s, char* buf, int len, int flags) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (len < 0 || (buf == nullptr && len > 0)) return FailWith(WSAEFAULT);
  if (len == 0) return Succeed(0);  // asks for nothing; says nothing about end of stream
  const int recvFlags = ((flags & MSG_OOB_VALUE) ? MSG_OOB : 0) | ((flags & kMsgPeek) ? MSG_PEEK : 0);
  const ssize_t n = ::recv(st->fd, buf, static_cast<std::size_t>(len), recvFlags);
  const int err = errno;
  if ((flags & kMsgPeek) == 0) posix::Received(s, *st, n, len, err);
  if (n < 0) return FailErrno(err);
  return Succeed(static_cast<int>(n));
}

int GetSockName(SOCKET s, SOCKADDR_INET* addr, int* len) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (!ResultUsable(addr, len)) return FailWith(WSAEFAULT);
  sockaddr_storage sa{};
  socklen_t saLen = sizeof sa;
  if (::getsockname(st->fd, reinterpret_cast<sockaddr*>(&sa), &saLen) != 0) return FailErrno(errno);
  posix::FromPosix(reinterpret_cast<const sockaddr*>(&sa), *addr);
  *len = kAddressLength;
  return Succeed(0);
}

std::uint32_t InetAddr(const char* text) {
  if (text == nullptr) return INADDR_NONE_VALUE;
  in_addr a{};
  if (::inet_aton(text, &a) == 0) return INADDR_NONE_VALUE;
  return a.s_addr;
}

const char* InetNtoa(std::uint32_t addr) {
  thread_local char text[16];
  const auto* b = reinterpret_cast<const unsigned char*>(&addr);
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

std::uint16_t HostToNet16(std::uint16_t v) { return ::htons(v); }
std::uint16_t NetToHost16(std::uint16_t v) { return ::ntohs(v); }

int AsyncSelect(SOCKET s, HWND window, UINT msg, long events) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (const int err = posix::Select(s, *st, window, msg, events); err != 0) return FailErrno(err);
  return Succeed(0);
}

// Only the option the component sets is mapped; any other is refused as unknown.
int SetSockOpt(SOCKET s, int level, int name, const char* value, int length) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (level != IPPROTO_TCP_VALUE || name != TCP_NODELAY_VALUE) return FailWith(WSAENOPROTOOPT);
  if (value == nullptr || length < static_cast<int>(sizeof(int))) return FailWith(WSAEFAULT);
  int on = 0;
  std::memcpy(&on, value, sizeof on);
  on = on != 0 ? 1 : 0;
  if (::setsockopt(st->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return FailErrno(errno);
  return Succeed(0);
}

int GetLastErrorEntry() { return posix::LastError(); }

int Startup(std::uint16_t version, WSADATA* data) {
  (void)version;  // 1.1 is granted whatever is asked for
  if (data == nullptr) return WSAEFAULT;
  *data = WSADATA{};
  data->wVersion = 0x0101;
  data->wHighVersion = 0x0101;
  std::snprintf(data->szDescription, sizeof data->szDescription, "%s", "POSIX sockets");
  std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "%s", "Running");
  data->iMaxSockets = 1024;
  data->iMaxUdpDg = 0;
  return 0;
}

int Cleanup() { return 0; }

int IoctlSocket(SOCKET s, long cmd, std::uint32_t* argp) {
  const auto st = FindSocket(s);
  if (!st) return FailWith(WSAENOTSOCK);
  if (argp == nullptr) return FailWith(WSAEFAULT);
  if (cmd != SIOCOUTQ_VALUE) return FailWith(WSAEINVAL);
  int queued = 0;
  if (::ioctl(st->fd, SIOCOUTQ, &queued) != 0) return FailErrno(errno);
  *argp = static_cast<std::uint32_t>(queued < 0 ? 0 : queued);
  return Succeed(0);
}

SocketLibraryTable MakeTable() {
  SocketLibraryTable t;
  t.socket = &Socket;
  t.connect = &Connect;
  t.bind = &Bind;
  t.listen = &Listen;
  t.accept = &Accept;
  t.closesocket = &CloseSocket;
  t.send = &Send;
  t.recv = &Recv;
  t.getsockname = &GetSockName;
  t.inet_addr = &InetAddr;
  t.inet_ntoa = &InetNtoa;
  t.htons = &HostToNet16;
  t.ntohs = &NetToHost16;
  t.WSAAsyncSelect = &AsyncSelect;
  t.WSAAsyncGetAddrInfo = &posix::AsyncGetAddrInfo;
  t.WSACancelAsyncRequest = &posix::CancelAsyncRequest;
  t.WSAGetLastError = &GetLastErrorEntry;
  t.WSAStartup = &Startup;
  t.WSACleanup = &Cleanup;
  t.ioctlsocket = &IoctlSocket;
  t.setsockopt = &SetSockOpt;
  return t;
}

}  // namespace

const SocketLibraryTable& PosixSocketLibrary() {
  static const SocketLibraryTable table = MakeTable();
  return table;
}

}  // namespace platform
