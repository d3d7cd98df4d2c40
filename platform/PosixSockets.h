// Internals of the POSIX socket library: the state kept for each SOCKET, the registry that
// maps SOCKET values to it, and the calling thread's last error.
#pragma once

#include <sys/socket.h>

#include <memory>

#include "platform/MessageLoop.h"
#include "platform/Winsock.h"

namespace platform::posix {

enum class Phase { Idle, Connecting, Connected, Listening, Failed };

struct SocketState {
  explicit SocketState(int descriptor) : fd(descriptor) {}

  const int fd;
  Phase phase = Phase::Idle;
  // Asynchronous selection: where notifications go, and which.
  MessageLoop* loop = nullptr;
  HWND window = 0;
  UINT msg = 0;
  long mask = 0;
  bool watched = false;
  // Notifications wait for their re-enabling call, as in the asynchronous-select model.
  bool readPending = false;     // FD_READ posted; recv re-enables it
  bool acceptPending = false;   // FD_ACCEPT posted; accept re-enables it
  bool writeWanted = false;     // a send fell short: FD_WRITE when space frees
  bool writeAnnounced = false;  // the FD_WRITE that follows connect or accept was posted
  bool peerClosed = false;      // the peer's end of stream (or a hang-up) was seen
  bool closePosted = false;     // FD_CLOSE posted: nothing follows it
};

using SocketPtr = std::shared_ptr<SocketState>;

// SOCKET values count up and are never reused, so that a late notification of a closed
// socket can never be taken for one of its successor.
SOCKET AddSocket(int fd, Phase phase = Phase::Idle);
// The state of a socket, or nullptr. The calling thread keeps it alive until its next
// FindSocket: a caller uses it within one socket call and keeps no pointer beyond it.
SocketState* FindSocket(SOCKET s);
SocketPtr TakeSocket(SOCKET s);

// Socket addresses between the interface's record and the system's, either family. False
// for another family.
bool ToPosix(const SOCKADDR_INET& address, sockaddr_storage& out, socklen_t& length);
bool FromPosix(const sockaddr* address, SOCKADDR_INET& out);
// The system's address family for the interface's number; -1 for one it does not know.
int PosixFamily(int family);

void SetLastError(int wsaError);
int LastError();

}  // namespace platform::posix
