// The end of a TLS socket's close. The system sends a plain socket's unsent bytes after
// closesocket; the bytes of a TLS session that wait in user space (the tail of the data and
// close_notify) need the same. And a TLS peer may still send (a TLS 1.3 ticket, its own
// close_notify): a socket closed with unread bytes is reset, and a reset can cost the peer
// the last data it had not read yet. So SockClose hands the socket over here: the waiting
// bytes go out as the socket takes them, whatever arrives is read and dropped, and the socket
// is closed once the peer has closed too (at once, when it already had), at an error, or
// after a bounded wait. Runs on the calling thread's loop. Internal to transport/.
#pragma once

#include <string>

#include "platform/Winsock.h"

namespace transport {

void FinishCloseLater(platform::SOCKET socket, std::string unsent, bool peerClosed);

// Sockets whose close is still being finished on this thread.
int ClosesFinishing();

}  // namespace transport
