// The socket library as the socket component sees it: the Windows Sockets 1.1 operations
// it calls, gathered in a table of entry points that is bound at run time from a named
// library. The default library maps them onto non-blocking POSIX sockets (IPv4); tests
// register fake libraries that simulate a network, or lack an entry point.
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

constexpr int AF_INET_VALUE = 2;
constexpr int SOCK_STREAM_VALUE = 1;
constexpr int MSG_OOB_VALUE = 1;

// Network events of WSAAsyncSelect.
constexpr long FD_READ = 1;
constexpr long FD_WRITE = 2;
constexpr long FD_OOB = 4;
constexpr long FD_ACCEPT = 8;
constexpr long FD_CONNECT = 16;
constexpr long FD_CLOSE = 32;

// MAXGETHOSTSTRUCT: size of the host entry buffer of an asynchronous lookup.
constexpr int MAXGETHOSTSTRUCT = 1024;
// Longest host name that is looked up (the DNS limit); longer ones fail at once.
constexpr int MAX_HOST_NAME = 253;

// IPv4 socket address, 16 bytes; port and address in network byte order.
struct SOCKADDR_IN {
  std::int16_t sin_family = AF_INET_VALUE;
  std::uint16_t sin_port = 0;
  std::uint32_t sin_addr = 0;
  char sin_zero[8] = {};
};
static_assert(sizeof(SOCKADDR_IN) == 16);

struct WSADATA {
  std::uint16_t wVersion = 0;
  std::uint16_t wHighVersion = 0;
  char szDescription[257] = {};
  char szSystemStatus[129] = {};
  std::uint16_t iMaxSockets = 0;
  std::uint16_t iMaxUdpDg = 0;
};

// The host entry written at the end of a lookup is a `struct hostent` (netdb.h layout)
// followed by its data, all inside the caller's buffer.

// The bound entry points. A library lacking one of them cannot be bound.
struct SocketLibraryTable {
  SOCKET (*socket)(int af, int type, int protocol) = nullptr;
  int (*connect)(SOCKET s, const SOCKADDR_IN* addr, int len) = nullptr;
  int (*bind)(SOCKET s, const SOCKADDR_IN* addr, int len) = nullptr;
  int (*listen)(SOCKET s, int backlog) = nullptr;
  SOCKET (*accept)(SOCKET s, SOCKADDR_IN* addr, int* len) = nullptr;
  int (*closesocket)(SOCKET s) = nullptr;
  int (*send)(SOCKET s, const char* buf, int len, int flags) = nullptr;
  int (*recv)(SOCKET s, char* buf, int len, int flags) = nullptr;
  int (*getsockname)(SOCKET s, SOCKADDR_IN* addr, int* len) = nullptr;
  std::uint32_t (*inet_addr)(const char* text) = nullptr;
  // Dotted text of an address in network order; the text lives until the next call.
  const char* (*inet_ntoa)(std::uint32_t addr) = nullptr;
  std::uint16_t (*htons)(std::uint16_t v) = nullptr;
  std::uint16_t (*ntohs)(std::uint16_t v) = nullptr;
  int (*WSAAsyncSelect)(SOCKET s, HWND window, UINT msg, long events) = nullptr;
  HANDLE (*WSAAsyncGetHostByName)(HWND window, UINT msg, const char* name, char* buf, int buflen) = nullptr;
  int (*WSACancelAsyncRequest)(HANDLE task) = nullptr;
  int (*WSAGetLastError)() = nullptr;
  int (*WSAStartup)(std::uint16_t version, WSADATA* data) = nullptr;
  int (*WSACleanup)() = nullptr;
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
