// The socket library as the socket component sees it: the Windows Sockets 1.1 operations
// it calls, gathered in a table of entry points that is bound at run time from a named
// library. The default library maps them onto non-blocking POSIX sockets (IPv4 and IPv6);
// tests register fake libraries that simulate a network, or lack an entry point.
#pragma once

#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

namespace platform {

using SOCKET = std::intptr_t;
using HANDLE = std::uintptr_t;  // task handle of an asynchronous lookup; 0 = none
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
constexpr std::uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;

constexpr int AF_UNSPEC_VALUE = 0;
constexpr int AF_INET_VALUE = 2;
constexpr int AF_INET6_VALUE = 23;
constexpr int SOCK_STREAM_VALUE = 1;
constexpr int MSG_OOB_VALUE = 1;
// ioctlsocket command: the bytes handed to the socket that the peer has not acknowledged
// yet (still queued, or sent and unanswered).
constexpr long SIOCOUTQ_VALUE = 0x5411;
// The one socket option the component sets: TCP_NODELAY, at the IPPROTO_TCP level.
constexpr int IPPROTO_TCP_VALUE = 6;
constexpr int TCP_NODELAY_VALUE = 1;

// Network events of WSAAsyncSelect.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

// Longest host name that is looked up (the DNS limit); longer ones fail at once.
constexpr int MAX_HOST_NAME = 253;

// A socket address of either family, as the interface's SOCKADDR_INET, laid out as one
// record: the family tells which address holds. Port and addresses in network byte order.
struct SOCKADDR_INET {
  std::int16_t sin_family = AF_INET_VALUE;
  std::uint16_t sin_port = 0;
  std::uint32_t sin_addr = 0;        // IPv4
  std::uint8_t sin6_addr[16] = {};   // IPv6
  std::uint32_t sin6_scope_id = 0;   // IPv6: the interface of a link-local address
};

// What a lookup found: the addresses of both families in the resolver's order (the
// first kMaxAddresses of them).
struct ADDRESS_LIST {
  static constexpr int kMaxAddresses = 16;
  int Count = 0;
  SOCKADDR_INET Addresses[kMaxAddresses];
};

struct WSADATA {
  std::uint16_t wVersion = 0;
  std::uint16_t wHighVersion = 0;
  char szDescription[257] = {};
  char szSystemStatus[129] = {};
  std::uint16_t iMaxSockets = 0;
  std::uint16_t iMaxUdpDg = 0;
};

// The bound entry points. A library lacking one of them cannot be bound.
struct SocketLibraryTable {
  SOCKET (*socket)(int af, int type, int protocol) = nullptr;
  int (*connect)(SOCKET s, const SOCKADDR_INET* addr, int len) = nullptr;
  int (*bind)(SOCKET s, const SOCKADDR_INET* addr, int len) = nullptr;
  int (*listen)(SOCKET s, int backlog) = nullptr;
  SOCKET (*accept)(SOCKET s, SOCKADDR_INET* addr, int* len) = nullptr;
  int (*closesocket)(SOCKET s) = nullptr;
  int (*send)(SOCKET s, const char* buf, int len, int flags) = nullptr;
  int (*recv)(SOCKET s, char* buf, int len, int flags) = nullptr;
  int (*getsockname)(SOCKET s, SOCKADDR_INET* addr, int* len) = nullptr;
  std::uint32_t (*inet_addr)(const char* text) = nullptr;
  // Dotted text of an address in network order; the text lives until the next call.
  const char* (*inet_ntoa)(std::uint32_t addr) = nullptr;
  std::uint16_t (*htons)(std::uint16_t v) = nullptr;
  std::uint16_t (*ntohs)(std::uint16_t v) = nullptr;
  int (*WSAAsyncSelect)(SOCKET s, HWND window, UINT msg, long events) = nullptr;
  // Looks `name` up in `family` (AF_UNSPEC_VALUE: both) and, at a successful end, writes
  // what it found into `result` before the end is posted.
  HANDLE (*WSAAsyncGetAddrInfo)(HWND window, UINT msg, const char* name, int family, ADDRESS_LIST* result) = nullptr;
  int (*WSACancelAsyncRequest)(HANDLE task) = nullptr;
  int (*WSAGetLastError)() = nullptr;
  int (*WSAStartup)(std::uint16_t version, WSADATA* data) = nullptr;
  int (*WSACleanup)() = nullptr;
  // SIOCOUTQ_VALUE writes its count into *argp; any other command fails with WSAEINVAL.
  int (*ioctlsocket)(SOCKET s, long cmd, std::uint32_t* argp) = nullptr;
  // Sets a socket option from `length` bytes at `value` (an int for TCP_NODELAY).
  int (*setsockopt)(SOCKET s, int level, int name, const char* value, int length) = nullptr;
};

// Number of entry points in the table, in declaration order.
constexpr int kSocketEntryPoints = sizeof(SocketLibraryTable) / sizeof(void*);

// Looks up a library's entry point number `index` (declaration order); nullptr if missing.
const void* SocketEntryPoint(const SocketLibraryTable& table, int index);

// Library registry. The name "" stands for the default library, "posix" unless a test
// chose another with SetDefaultSocketLibrary.
void RegisterSocketLibrary(const std::string& name, const SocketLibraryTable& table);
void UnregisterSocketLibrary(const std::string& name);
void SetDefaultSocketLibrary(const std::string& name);  // "" restores "posix"
const SocketLibraryTable* FindSocketLibrary(const std::string& name);

// The POSIX mapping, registered as "posix".
const SocketLibraryTable& PosixSocketLibrary();

// The table shared by every socket object, written by each successful binding.
SocketLibraryTable& Winsock();

}  // namespace platform
