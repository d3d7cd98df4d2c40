// Asynchronous host-name lookup of the POSIX socket library: getaddrinfo on a helper
// thread, its end posted to the requesting window on the requesting thread's loop.
#pragma once

#include "platform/Winsock.h"

namespace platform::posix {

HANDLE AsyncGetAddrInfo(HWND window, UINT msg, const char* name, int family, ADDRESS_LIST* result);
int CancelAsyncRequest(HANDLE task);

}  // namespace platform::posix
