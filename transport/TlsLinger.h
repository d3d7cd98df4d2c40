// The end of a TLS socket's close. The system sends a plain socket's unsent bytes after
// closesocket; the bytes of a TLS session that wait in user space (the tail of the data
// and close_notify) need the same. SockClose hands such a socket over here: the bytes go
// out as the socket takes them, and the socket is closed once they are gone, at a send
// error, at the peer's close, or after a bounded wait. Runs on the calling thread's loop.
// Internal to transport/.
#pragma once

#include <string>

#include "platform/Winsock.h"

namespace transport {

void FinishCloseLater(platform::SOCKET socket, std::string unsent);

// Sockets whose close is still being finished on this thread.
int ClosesFinishing();

}  // namespace transport
