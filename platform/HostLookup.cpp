#include "platform/HostLookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "platform/AddressText.h"
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
  int family = AF_UNSPEC_VALUE;
  ADDRESS_LIST* result = nullptr;
  std::atomic<bool> cancelled{false};
  bool posted = false;  // the end is queued on the window
  // Written by the helper thread before it hands the request back to the loop.
  std::uint16_t error = 0;
  ADDRESS_LIST found;
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

// Both families unless one is asked for, in the order the resolver gives (its preference
// of one family over the other included).
void Resolve(LookupRequest& r) {
  // getaddrinfo reads such text as an IPv4 address ("127.0.0.010" as 127.0.0.8): it names
  // no host, and must not reach one the user never meant.
  if (LooseIpv4Text(r.name)) {
    r.error = WSAHOST_NOT_FOUND;
    return;
  }
  addrinfo hints{};
  hints.ai_family = PosixFamily(r.family);
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = hints.ai_family < 0 ? EAI_FAMILY : ::getaddrinfo(r.name.c_str(), nullptr, &hints, &found);
  r.error = WinsockErrorFromLookup(rc);
  if (rc != 0) return;
  for (const addrinfo* ai = found; ai != nullptr && r.found.Count < ADDRESS_LIST::kMaxAddresses; ai = ai->ai_next) {
    if (ai->ai_addr != nullptr && FromPosix(ai->ai_addr, r.found.Addresses[r.found.Count])) ++r.found.Count;
  }
  ::freeaddrinfo(found);
  if (r.found.Count == 0) r.error = WSANO_DATA;
}

// Runs on the loop thread that started the lookup.
void Deliver(const RequestPtr& r) {
  if (r->cancelled.load()) return;
  MessageLoop& loop = MessageLoop::Current();
  if (!loop.IsWindow(r->window)) {
    requests.erase(r->handle);
    return;
  }
  if (r->error == 0) *r->result = r->found;
  r->posted = loop.PostMessage(r->window, r->msg, r->handle, MakeSelectLParam(0, r->error));
  if (!r->posted) requests.erase(r->handle);
}

}  // namespace

HANDLE AsyncGetAddrInfo(HWND window, UINT msg, const char* name, int family, ADDRESS_LIST* result) {
  if (name == nullptr || result == nullptr) {
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
  r->family = family;
  r->result = result;
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
