#include "platform/PosixSockets.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <cstring>
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

bool ToPosix(const SOCKADDR_INET& address, sockaddr_storage& out, socklen_t& length) {
  out = sockaddr_storage{};
  if (address.sin_family == AF_INET_VALUE) {
    auto& v4 = reinterpret_cast<sockaddr_in&>(out);
    v4.sin_family = AF_INET;
    v4.sin_port = address.sin_port;
    v4.sin_addr.s_addr = address.sin_addr;
    length = sizeof v4;
    return true;
  }
  if (address.sin_family != AF_INET6_VALUE) return false;
  auto& v6 = reinterpret_cast<sockaddr_in6&>(out);
  v6.sin6_family = AF_INET6;
  v6.sin6_port = address.sin_port;
  std::memcpy(&v6.sin6_addr, address.sin6_addr, sizeof address.sin6_addr);
  v6.sin6_scope_id = address.sin6_scope_id;
  length = sizeof v6;
  return true;
}

bool FromPosix(const sockaddr* address, SOCKADDR_INET& out) {
  out = SOCKADDR_INET{};
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    out.sin_port = v4->sin_port;
    out.sin_addr = v4->sin_addr.s_addr;
    return true;
  }
  if (address->sa_family != AF_INET6) return false;
  const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
  out.sin_family = AF_INET6_VALUE;
  out.sin_port = v6->sin6_port;
  std::memcpy(out.sin6_addr, &v6->sin6_addr, sizeof out.sin6_addr);
  out.sin6_scope_id = v6->sin6_scope_id;
  return true;
}

int PosixFamily(int family) {
  if (family == AF_INET_VALUE) return AF_INET;
  if (family == AF_INET6_VALUE) return AF_INET6;
  return family == AF_UNSPEC_VALUE ? AF_UNSPEC : -1;
}

void SetLastError(int wsaError) { lastError = wsaError; }

int LastError() { return lastError; }

}  // namespace platform::posix
