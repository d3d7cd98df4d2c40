#include "platform/HostLookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/MessageLoop.h"
#include "platform/PosixSockets.h"
#include "platform/WinsockErrors.h"

namespace platform::posix {

namespace {

struct LookupRequest {
  HANDLE handle = 0;
  HWND window = 0;
  UINT msg = 0;
  std::string name;
  char* buf = nullptr;
  int buflen = 0;
  std::atomic<bool> cancelled{false};
  bool posted = false;  // the end is queued on the window
  // Written by the helper thread before it hands the request back to the loop.
  std::uint16_t error = 0;
  std::uint32_t address = 0;  // network order
  std::string officialName;
};

using RequestPtr = std::shared_ptr<LookupRequest>;

std::atomic<HANDLE> nextHandle{1};

// Requests of this thread's loop, from start until their end has been dispatched; the loop
// thread alone touches them, which is what lets a cancel withdraw a queued end.
thread_local std::unordered_map<HANDLE, RequestPtr> requests;

// Forgets requests whose end has left the queue.
void ForgetDispatched() {
  const MessageLoop& loop = MessageLoop::Current();
  std::erase_if(requests, [&loop](const auto& entry) {
    const LookupRequest& r = *entry.second;
    return r.posted && !loop.HasPostedMessage(r.window, r.msg, r.handle);
  });
}

void Resolve(LookupRequest& r) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(r.name.c_str(), nullptr, &hints, &found);
  r.error = WinsockErrorFromLookup(rc);
  if (rc == 0) {
    r.error = WSANO_DATA;
    for (const addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
      if (ai->ai_family != AF_INET || ai->ai_addr == nullptr) continue;
      r.address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      r.officialName = found->ai_canonname != nullptr ? found->ai_canonname : r.name;
      r.error = 0;
      break;
    }
    ::freeaddrinfo(found);
  }
}

// Lays out a struct hostent and its data inside buf; every pointer points into buf.
// Written byte-wise because the caller's buffer need not be aligned for pointers.
bool WriteHostEntry(const LookupRequest& r) {
  const std::size_t entry = 0;
  const std::size_t aliases = sizeof(hostent);         // { NULL }
  const std::size_t addrList = aliases + sizeof(char*);  // { &address, NULL }
  const std::size_t address = addrList + 2 * sizeof(char*);
  const std::size_t name = address + sizeof r.address;
  const std::size_t size = name + r.officialName.size() + 1;
  if (r.buf == nullptr || r.buflen < 0 || static_cast<std::size_t>(r.buflen) < size) return false;

  char* const base = r.buf;
  auto put = [base](std::size_t offset, const void* value, std::size_t n) {
    std::memcpy(base + offset, value, n);
  };
  char* const nullPointer = nullptr;
  char* const addressPointer = base + address;
  put(aliases, &nullPointer, sizeof nullPointer);
  put(addrList, &addressPointer, sizeof addressPointer);
  put(addrList + sizeof(char*), &nullPointer, sizeof nullPointer);
  put(address, &r.address, sizeof r.address);
  put(name, r.officialName.c_str(), r.officialName.size() + 1);

  hostent h{};
  h.h_name = base + name;
  h.h_aliases = reinterpret_cast<char**>(base + aliases);
  h.h_addrtype = AF_INET;
  h.h_length = sizeof r.address;
  h.h_addr_list = reinterpret_cast<char**>(base + addrList);
  put(entry, &h, sizeof h);
  return true;
}

// Runs on the loop thread that started the lookup.
void Deliver(const RequestPtr& r) {
  if (r->cancelled.load()) return;
  MessageLoop& loop = MessageLoop::Current();
  if (!loop.IsWindow(r->window)) {
    requests.erase(r->handle);
    return;
  }
  std::uint16_t error = r->error;
  if (error == 0 && !WriteHostEntry(*r)) error = WSAENOBUFS;
  r->posted = loop.PostMessage(r->window, r->msg, r->handle, MakeSelectLParam(0, error));
  if (!r->posted) requests.erase(r->handle);
}

}  // namespace

HANDLE AsyncGetHostByName(HWND window, UINT msg, const char* name, char* buf, int buflen) {
  if (name == nullptr || buf == nullptr) {
    SetLastError(WSAEFAULT);
    return 0;
  }
  // Never shortened: a shortened name could resolve to some other host.
  if (std::strlen(name) > static_cast<std::size_t>(MAX_HOST_NAME)) {
    SetLastError(WSAHOST_NOT_FOUND);
    return 0;
  }
  ForgetDispatched();
  auto r = std::make_shared<LookupRequest>();
  r->handle = nextHandle.fetch_add(1);
  r->window = window;
  r->msg = msg;
  r->name = name;
  r->buf = buf;
  r->buflen = buflen;
  requests.emplace(r->handle, r);

  std::shared_ptr<MessageLoop::TaskInbox> inbox = MessageLoop::Current().Inbox();
  try {
    std::thread([r, inbox = std::move(inbox)] {
      Resolve(*r);
      if (!r->cancelled.load()) inbox->Post([r] { Deliver(r); });
    }).detach();
  } catch (const std::system_error&) {
    requests.erase(r->handle);
    SetLastError(WSAENOBUFS);
    return 0;
  }
  SetLastError(0);
  return r->handle;
}

int CancelAsyncRequest(HANDLE task) {
  ForgetDispatched();
  const auto it = requests.find(task);
  if (it == requests.end()) {
    SetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  LookupRequest& r = *it->second;
  r.cancelled.store(true);
  // An end already queued is withdrawn too: a cancelled lookup never delivers.
  if (r.posted) MessageLoop::Current().RemovePostedMessages(r.window, r.msg, r.handle);
  requests.erase(it);
  SetLastError(0);
  return 0;
}

}  // namespace platform::posix
