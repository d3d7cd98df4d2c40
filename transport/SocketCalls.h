// The socket library as the transport's files call it: the shared bound table, or, before
// any object bound one, a table whose every call fails with "not initialised".
#pragma once

#include <cstdint>

#include "platform/Winsock.h"

namespace transport {

const platform::SocketLibraryTable& Lib();

// The library's last error, as SockError holds it.
inline std::uint16_t LastError() { return static_cast<std::uint16_t>(Lib().WSAGetLastError()); }

}  // namespace transport
