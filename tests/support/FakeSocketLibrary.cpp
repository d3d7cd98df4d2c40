#include "tests/support/FakeSocketLibrary.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "platform/AddressText.h"
#include "platform/MessageLoop.h"
#include "platform/PosixSockets.h"
#include "platform/WinsockErrors.h"

namespace talvo::test {

namespace {

using namespace platform;

enum class LookupMode { Real, NeverEnds, FailsLater, Resolves };

struct FakeState {
  LookupMode lookup = LookupMode::Real;
  std::uint16_t lookupError = 0;
  ADDRESS_LIST lookupAddresses;
  bool connectSilent = false;
  std::optional<SOCKADDR_INET> silentTo;  // only connects there are silent
  bool sendLimited = false;
  std::uint64_t sendBudget = 0;
  std::uint16_t sendError = 0;
  SOCKET sendSocket = INVALID_SOCKET;
  int startupError = 0;

  int lookupsStarted = 0;
  int lookupCancels = 0;
  std::string lastLookupName;
  int connects = 0;
  int closes = 0;
  int startups = 0;
  int cleanups = 0;

  // Lookups that the fake answers itself: where their end goes.
  std::map<HANDLE, std::pair<HWND, UINT>> lookups;
  HANDLE nextHandle = 0x40000000;  // far from the POSIX library's handles
};

FakeState state;
bool alive = false;

const SocketLibraryTable& Posix() { return PosixSocketLibrary(); }

int Fail(int error) {
  posix::SetLastError(error);
  return SOCKET_ERROR;
}

HANDLE FakeGetAddrInfo(HWND window, UINT msg, const char* name, int family, ADDRESS_LIST* result) {
  ++state.lookupsStarted;
  state.lastLookupName = name != nullptr ? name : "";
  if (state.lookup == LookupMode::Real) return Posix().WSAAsyncGetAddrInfo(window, msg, name, family, result);
  const HANDLE handle = state.nextHandle++;
  state.lookups[handle] = {window, msg};
  if (state.lookup == LookupMode::Resolves) *result = state.lookupAddresses;
  if (state.lookup != LookupMode::NeverEnds) {
    MessageLoop::Current().PostMessage(window, msg, handle, MakeSelectLParam(0, state.lookupError));
  }
  posix::SetLastError(0);
  return handle;
}

int FakeCancelAsyncRequest(HANDLE task) {
  ++state.lookupCancels;
  const auto it = state.lookups.find(task);
  if (it == state.lookups.end()) return Posix().WSACancelAsyncRequest(task);
  // A cancelled lookup never delivers, even when its end is already queued.
  MessageLoop::Current().RemovePostedMessages(it->second.first, it->second.second, task);
  state.lookups.erase(it);
  posix::SetLastError(0);
  return 0;
}

int FakeConnect(SOCKET s, const SOCKADDR_INET* addr, int len) {
  ++state.connects;
  // The socket stays idle, so the POSIX notifier never reports anything for it.
  if (state.connectSilent && (!state.silentTo || (addr != nullptr && SameHost(*addr, *state.silentTo)))) {
    return Fail(WSAEWOULDBLOCK);
  }
  return Posix().connect(s, addr, len);
}

int FakeSend(SOCKET s, const char* buf, int len, int flags) {
  const bool counted = state.sendLimited && (state.sendSocket == INVALID_SOCKET || state.sendSocket == s);
  if (!counted) return Posix().send(s, buf, len, flags);
  if (state.sendBudget == 0) return Fail(state.sendError);
  const int allowed = static_cast<int>(std::min<std::uint64_t>(state.sendBudget, static_cast<std::uint64_t>(std::max(len, 0))));
  const int n = Posix().send(s, buf, allowed, flags);
  if (n > 0) state.sendBudget -= static_cast<std::uint64_t>(n);
  return n;
}

int FakeCloseSocket(SOCKET s) {
  ++state.closes;
  return Posix().closesocket(s);
}

int FakeStartup(std::uint16_t version, WSADATA* data) {
  if (state.startupError != 0) return state.startupError;
  const int result = Posix().WSAStartup(version, data);
  if (result == 0) ++state.startups;
  return result;
}

int FakeCleanup() {
  ++state.cleanups;
  return Posix().WSACleanup();
}

SocketLibraryTable FakeTable() {
  SocketLibraryTable table = Posix();
  table.WSAAsyncGetAddrInfo = &FakeGetAddrInfo;
  table.WSACancelAsyncRequest = &FakeCancelAsyncRequest;
  table.connect = &FakeConnect;
  table.send = &FakeSend;
  table.closesocket = &FakeCloseSocket;
  table.WSAStartup = &FakeStartup;
  table.WSACleanup = &FakeCleanup;
  return table;
}

}  // namespace

FakeSocketLibrary::FakeSocketLibrary() {
  assert(!alive && "one FakeSocketLibrary at a time");
  alive = true;
  state = FakeState{};
  RegisterSocketLibrary(kName, FakeTable());
  SetDefaultSocketLibrary(kName);
}

FakeSocketLibrary::~FakeSocketLibrary() {
  // Sockets that outlive the fake (or still hold its table) behave as POSIX from now on.
  Reset();
  SetDefaultSocketLibrary("");
  BindPosix();
  alive = false;
}

void FakeSocketLibrary::LookupNeverEnds() { state.lookup = LookupMode::NeverEnds; }

void FakeSocketLibrary::LookupFailsLater(std::uint16_t error) {
  state.lookup = LookupMode::FailsLater;
  state.lookupError = error;
}

void FakeSocketLibrary::LookupResolvesTo(const std::vector<std::string>& addresses) {
  state.lookup = LookupMode::Resolves;
  state.lookupError = 0;
  state.lookupAddresses = ADDRESS_LIST{};
  for (const std::string& text : addresses) {
    assert(state.lookupAddresses.Count < ADDRESS_LIST::kMaxAddresses);
    AddressFromText(text, state.lookupAddresses.Addresses[state.lookupAddresses.Count++]);
  }
}

void FakeSocketLibrary::ConnectNeverAnswers(const std::string& onlyTo) {
  state.connectSilent = true;
  state.silentTo.reset();
  if (SOCKADDR_INET address; AddressFromText(onlyTo, address)) state.silentTo = address;
}

void FakeSocketLibrary::SendFailsAfter(std::uint64_t bytes, std::uint16_t error, SOCKET socket) {
  state.sendLimited = true;
  state.sendBudget = bytes;
  state.sendError = error;
  state.sendSocket = socket;
}

void FakeSocketLibrary::StartupFails(int error) { state.startupError = error; }

void FakeSocketLibrary::Reset() {
  state.lookup = LookupMode::Real;
  state.connectSilent = false;
  state.sendLimited = false;
  state.startupError = 0;
}

int FakeSocketLibrary::LookupsStarted() const { return state.lookupsStarted; }
int FakeSocketLibrary::LookupCancels() const { return state.lookupCancels; }
std::string FakeSocketLibrary::LastLookupName() const { return state.lastLookupName; }
int FakeSocketLibrary::Connects() const { return state.connects; }
int FakeSocketLibrary::Closes() const { return state.closes; }
int FakeSocketLibrary::Startups() const { return state.startups; }
int FakeSocketLibrary::Cleanups() const { return state.cleanups; }

void FakeSocketLibrary::RegisterLacking(const std::string& name, int index) {
  SocketLibraryTable table = Posix();
  assert(index >= 0 && index < kSocketEntryPoints);
  // Every entry is one function pointer (Winsock.cpp checks this), so entry `index` sits
  // at offset `index` pointers.
  void (*const missing)() = nullptr;
  std::memcpy(reinterpret_cast<char*>(&table) + index * sizeof missing, &missing, sizeof missing);
  RegisterSocketLibrary(name, table);
}

void FakeSocketLibrary::BindPosix() { Winsock() = Posix(); }

}  // namespace talvo::test
