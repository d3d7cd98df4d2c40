#include "platform/PosixSockets.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace platform::posix {

namespace {

struct SocketRegistry {
  std::mutex mutex;
  SOCKET nextSocket = 1;
  std::unordered_map<SOCKET, SocketPtr> sockets;
};

std::atomic<std::uint64_t> removals{0};  // sockets taken out of the registry so far

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

// A transfer looks up the same socket for every chunk: the thread's last lookup is kept,
// and trusted for as long as no socket has been taken out since. The kept reference is what
// keeps the returned state alive, so the common case copies no shared pointer.
SocketState* FindSocket(SOCKET s) {
  thread_local SOCKET lastSocket = INVALID_SOCKET;
  thread_local SocketPtr lastState;
  thread_local std::uint64_t lastRemovals = 0;
  if (s == lastSocket && removals.load(std::memory_order_acquire) == lastRemovals) return lastState.get();
  SocketRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.sockets.find(s);
  if (it == r.sockets.end()) return nullptr;
  lastSocket = s;
  lastState = it->second;
  lastRemovals = removals.load(std::memory_order_relaxed);
  return lastState.get();
}

SocketPtr TakeSocket(SOCKET s) {
  SocketRegistry& r = Registry();
  std::lock_guard lock(r.mutex);
  const auto it = r.sockets.find(s);
  if (it == r.sockets.end()) return nullptr;
  SocketPtr taken = std::move(it->second);
  r.sockets.erase(it);
  removals.fetch_add(1, std::memory_order_release);
  return taken;
}

void SetLastError(int wsaError) { lastError = wsaError; }

int LastError() { return lastError; }

}  // namespace platform::posix
