// The notification rules of asynchronous selection over edge-triggered epoll: which
// network event is posted to the selecting window, when, and how often. The socket calls
// report their outcome here so that each notification is re-enabled by the right call.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "platform/PosixSockets.h"

namespace platform::posix {

// WSAAsyncSelect: remembers the target, watches the descriptor on the calling thread's
// loop and re-evaluates the current readiness. Returns 0 or an errno.
int Select(SOCKET s, SocketState& st, HWND window, UINT msg, long mask);
// closesocket: stops watching and drops the notifications still queued.
void Unselect(SOCKET s, SocketState& st);

// connect: the attempt completed at once (err 0) or failed with an error that the
// asynchronous model reports later, through FD_CONNECT.
void ConnectFinished(SOCKET s, SocketState& st, int err);
// listen succeeded.
void ListenStarted(SocketState& st);
// accept took a connection from the listening socket.
void Accepted(SOCKET s, SocketState& st);
// recv returned n (or -1 with err) for a request of len bytes.
void Received(SOCKET s, SocketState& st, ssize_t n, int len, int err);
// send returned n (or -1 with err) for a request of len bytes.
void Sent(SOCKET s, SocketState& st, ssize_t n, int len, int err);

}  // namespace platform::posix
