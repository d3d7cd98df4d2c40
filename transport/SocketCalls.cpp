#include "transport/SocketCalls.h"

#include "platform/WinsockErrors.h"

using namespace platform;

namespace transport {

namespace {

// Entry points used before any object bound the library: every call fails with "not
// initialised" instead of calling through an empty table.
int FailNotInitialised() {
  return SOCKET_ERROR;
}
const SocketLibraryTable& NotInitialisedTable() {
  static const SocketLibraryTable table = [] {
    SocketLibraryTable t;
    t.socket = [](int, int, int) -> SOCKET { return INVALID_SOCKET; };
    t.connect = [](SOCKET, const SOCKADDR_INET*, int) { return FailNotInitialised(); };
    t.bind = [](SOCKET, const SOCKADDR_INET*, int) { return FailNotInitialised(); };
    t.listen = [](SOCKET, int) { return FailNotInitialised(); };
    t.accept = [](SOCKET, SOCKADDR_INET*, int*) -> SOCKET { return INVALID_SOCKET; };
    t.closesocket = [](SOCKET) { return FailNotInitialised(); };
    t.send = [](SOCKET, const char*, int, int) { return FailNotInitialised(); };
    t.recv = [](SOCKET, char*, int, int) { return FailNotInitialised(); };
    t.getsockname = [](SOCKET, SOCKADDR_INET*, int*) { return FailNotInitialised(); };
    t.inet_addr = [](const char*) { return INADDR_NONE_VALUE; };
    t.inet_ntoa = [](std::uint32_t) { return ""; };
    t.htons = [](std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); };
    t.ntohs = [](std::uint16_t v) { return static_cast<std::uint16_t>((v >> 8) | (v << 8)); };
    t.WSAAsyncSelect = [](SOCKET, HWND, UINT, long) { return FailNotInitialised(); };
    t.WSAAsyncGetAddrInfo = [](HWND, UINT, const char*, int, ADDRESS_LIST*) -> HANDLE { return 0; };
    t.WSACancelAsyncRequest = [](HANDLE) { return FailNotInitialised(); };
    t.WSAGetLastError = []() -> int { return WSANOTINITIALISED; };
    t.WSAStartup = [](std::uint16_t, WSADATA*) -> int { return WSANOTINITIALISED; };
    t.WSACleanup = []() { return FailNotInitialised(); };
    t.ioctlsocket = [](SOCKET, long, std::uint32_t*) { return FailNotInitialised(); };
    t.setsockopt = [](SOCKET, int, int, const char*, int) { return FailNotInitialised(); };
    return t;
  }();
  return table;
}

}  // namespace

const SocketLibraryTable& Lib() {
  const SocketLibraryTable& bound = Winsock();
  return bound.socket ? bound : NotInitialisedTable();
}

}  // namespace transport
