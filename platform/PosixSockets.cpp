#include "platform/PosixSockets.h"

#include <mutex>
#include <unordered_map>

namespace platform::posix {

namespace {

struct SocketRegistry {
  std::mutex mutex;
  SOCKET nextSocket = 1;
  std::unordered_map<SOCKET, SocketPtr> sockets;
};

SocketRegistry& Registry() {
  static SocketRegistry registry;
  return registry;
}

thread_local int lastError = 0;

}  // namespace

SOCKET AddSocket(int fd, Phase phase) {
  SocketRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  const SOCKET s = r.nextSocket++;
  auto st = std::make_shared<SocketState>(fd);
  st->phase = phase;
  r.sockets.emplace(s, std::move(st));
  return s;
}

SocketPtr FindSocket(SOCKET s) {
  SocketRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.sockets.find(s);
  return it == r.sockets.end() ? nullptr : it->second;
}

SocketPtr TakeSocket(SOCKET s) {
  SocketRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.sockets.find(s);
  if (it == r.sockets.end()) return nullptr;
  SocketPtr taken = std::move(it->second);
  r.sockets.erase(it);
  return taken;
}

void SetLastError(int wsaError) { lastError = wsaError; }

int LastError() { return lastError; }

}  // namespace platform::posix
