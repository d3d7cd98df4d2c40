// The POSIX socket library, called through its table as the socket component does, with
// real loopback peers: connect, read to the end, accept, flow control, resets, close, and
// the asynchronous host-name lookup. Also the library registry.
#include <gtest/gtest.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/AddressText.h"
#include "platform/MessageLoop.h"
#include "platform/Winsock.h"
#include "platform/WinsockErrors.h"
#include "tests/support/LoopRuns.h"
#include "tests/support/LoopbackSockets.h"

namespace platform {
namespace {

using talvo::test::RunFor;
using talvo::test::UniqueFd;

constexpr UINT kLookupMsg = WM_USER;
constexpr UINT kSelectMsg = WM_USER + 1;
constexpr long kClientEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;
constexpr long kAcceptedEvents = FD_READ | FD_WRITE | FD_CLOSE;
constexpr int kWaitMs = 5000;
constexpr std::uint32_t kLoopbackAddress = 0x0100007F;  // 127.0.0.1 in network order

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return bytes;
}

class PosixSocketsTest : public ::testing::Test {
 protected:
  struct Note {
    SOCKET socket;
    long event;
    int error;
    std::size_t bytesReadBefore;  // bytes read from that socket when the note arrived
  };

  void SetUp() override {
    window = loop.CreateHiddenWindow([this](TMessage& m) { Receive(m); });
  }
  void TearDown() override {
    for (SOCKET s : opened) lib.closesocket(s);
    loop.DestroyWindow(window);
  }

  void Receive(TMessage& m) {
    if (m.Msg == kLookupMsg) {
      lookups.push_back({static_cast<HANDLE>(m.WParam), HighWord(m.LParam)});
      return;
    }
    const auto s = static_cast<SOCKET>(m.WParam);
    const long event = LowWord(m.LParam);
    // Like the socket component: one recv per read notification.
    if (event == FD_READ && readOnNotice) {
      char buf[2048];
      const int n = lib.recv(s, buf, sizeof buf, 0);
      if (n > 0) received[s].append(buf, static_cast<std::size_t>(n));
    }
    notes.push_back({s, event, HighWord(m.LParam), received[s].size()});
    if (onNote) onNote(notes.back());
  }

  // ---- verbs ----

  SOCKET Open() {
    const SOCKET s = lib.socket(AF_INET_VALUE, SOCK_STREAM_VALUE, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    opened.push_back(s);
    return s;
  }
  void Close(SOCKET s) {
    EXPECT_EQ(lib.closesocket(s), 0);
    std::erase(opened, s);
  }
  static SOCKADDR_INET Loopback(std::uint16_t port) {
    SOCKADDR_INET a;
    a.sin_port = static_cast<std::uint16_t>((port >> 8) | (port << 8));
    a.sin_addr = kLoopbackAddress;
    return a;
  }
  static std::uint16_t PortOf(const SOCKADDR_INET& a) {
    return static_cast<std::uint16_t>((a.sin_port >> 8) | (a.sin_port << 8));
  }
  // Starts a connect the way the socket component does: select first, then connect.
  SOCKET StartConnect(std::uint16_t port) {
    const SOCKET s = Open();
    EXPECT_EQ(lib.WSAAsyncSelect(s, window, kSelectMsg, kClientEvents), 0);
    const SOCKADDR_INET to = Loopback(port);
    if (lib.connect(s, &to, sizeof to) != 0) {
      EXPECT_EQ(lib.WSAGetLastError(), WSAEWOULDBLOCK);
    }
    return s;
  }
  SOCKET Listen() {
    const SOCKET s = Open();
    const SOCKADDR_INET any = Loopback(0);
    EXPECT_EQ(lib.bind(s, &any, sizeof any), 0);
    EXPECT_EQ(lib.WSAAsyncSelect(s, window, kSelectMsg, FD_ACCEPT), 0);
    EXPECT_EQ(lib.listen(s, 2), 0);
    return s;
  }
  std::uint16_t LocalPort(SOCKET s) {
    SOCKADDR_INET a{};
    int len = sizeof a;
    EXPECT_EQ(lib.getsockname(s, &a, &len), 0);
    return PortOf(a);
  }
  // A blocking peer listening on loopback, and the connection it accepts.
  UniqueFd PeerListener(std::uint16_t& port) {
    std::string error;
    UniqueFd fd = talvo::test::ListenLoopback(0, error);
    EXPECT_TRUE(fd.Valid()) << error;
    port = talvo::test::LocalPort(fd.Get());
    return fd;
  }
  static UniqueFd PeerAccept(const UniqueFd& listener) {
    return talvo::test::AcceptWithin(listener, std::chrono::milliseconds(kWaitMs));
  }
  UniqueFd PeerConnect(std::uint16_t port) {
    std::string error;
    UniqueFd fd = talvo::test::ConnectTo("127.0.0.1", port, "", std::chrono::milliseconds(kWaitMs), error);
    EXPECT_TRUE(fd.Valid()) << error;
    return fd;
  }

  int Count(SOCKET s, long event) const {
    return static_cast<int>(std::count_if(notes.begin(), notes.end(), [&](const Note& n) {
      return n.socket == s && n.event == event;
    }));
  }
  const Note* Find(SOCKET s, long event) const {
    for (const Note& n : notes) {
      if (n.socket == s && n.event == event) return &n;
    }
    return nullptr;
  }
  bool WaitFor(SOCKET s, long event) {
    return loop.RunUntil([&] { return Find(s, event) != nullptr; }, kWaitMs);
  }
  bool WaitFor(const std::function<bool()>& done) { return loop.RunUntil(done, kWaitMs); }

  const SocketLibraryTable& lib = PosixSocketLibrary();
  MessageLoop& loop = MessageLoop::Current();
  HWND window = 0;
  bool readOnNotice = true;
  std::vector<Note> notes;
  std::map<SOCKET, std::string> received;
  std::function<void(const Note&)> onNote;
  std::vector<std::pair<HANDLE, int>> lookups;  // (task handle, error)
  std::vector<SOCKET> opened;
};

TEST_F(PosixSocketsTest, ConnectToClosedPortReportsRefusedOnce) {
  const SOCKET s = StartConnect(talvo::test::PickFreePort());
  ASSERT_TRUE(WaitFor(s, FD_CONNECT));
  EXPECT_EQ(Find(s, FD_CONNECT)->error, WSAECONNREFUSED);
  RunFor(200);
  EXPECT_EQ(notes.size(), 1u) << "nothing follows a failed connect";
}

TEST_F(PosixSocketsTest, PeerDataIsReadToTheLastByteBeforeClose) {
  std::uint16_t port = 0;
  const UniqueFd listener = PeerListener(port);
  const std::string sent = Pattern(100000);
  std::thread peer([&] {
    UniqueFd conn = PeerAccept(listener);
    ASSERT_TRUE(conn.Valid());
    ASSERT_EQ(::send(conn.Get(), sent.data(), sent.size(), MSG_NOSIGNAL), static_cast<ssize_t>(sent.size()));
  });
  const SOCKET s = StartConnect(port);
  const bool closed = WaitFor(s, FD_CLOSE);
  peer.join();
  ASSERT_TRUE(closed);
  EXPECT_EQ(Find(s, FD_CONNECT)->error, 0);
  EXPECT_EQ(Count(s, FD_WRITE), 1);
  EXPECT_EQ(Find(s, FD_CLOSE)->error, 0);
  EXPECT_EQ(Find(s, FD_CLOSE)->bytesReadBefore, sent.size());
  EXPECT_TRUE(received[s] == sent);
  RunFor(200);
  EXPECT_EQ(Count(s, FD_CLOSE), 1);
  char byte;
  EXPECT_EQ(lib.recv(s, &byte, 1, 0), 0) << "end of stream reads as 0, not an error";
  EXPECT_EQ(lib.WSAGetLastError(), 0);
}

TEST_F(PosixSocketsTest, CloseWaitsForUnreadDataToBeRead) {
  std::uint16_t port = 0;
  const UniqueFd listener = PeerListener(port);
  const SOCKET s = StartConnect(port);
  UniqueFd conn = PeerAccept(listener);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));
  readOnNotice = false;
  ASSERT_EQ(::send(conn.Get(), "abc", 3, 0), 3);
  conn.Reset();
  ASSERT_TRUE(WaitFor(s, FD_READ));
  RunFor(200);
  EXPECT_EQ(Count(s, FD_CLOSE), 0) << "the data are not read yet";
  char buf[16];
  EXPECT_EQ(lib.recv(s, buf, sizeof buf, 0), 3);
  ASSERT_TRUE(WaitFor(s, FD_CLOSE));
  EXPECT_EQ(Count(s, FD_READ), 1);
}

TEST_F(PosixSocketsTest, AcceptFillsPeerAddressAndReEnablesForTheNextConnection) {
  const SOCKET listener = Listen();
  const std::uint16_t port = LocalPort(listener);
  UniqueFd first = PeerConnect(port);
  ASSERT_TRUE(WaitFor(listener, FD_ACCEPT));
  UniqueFd second = PeerConnect(port);
  RunFor(200);
  EXPECT_EQ(Count(listener, FD_ACCEPT), 1) << "one notification until accept is called";

  SOCKADDR_INET peer{};
  int len = sizeof peer;
  const SOCKET a = lib.accept(listener, &peer, &len);
  ASSERT_NE(a, INVALID_SOCKET);
  opened.push_back(a);
  EXPECT_EQ(len, static_cast<int>(sizeof peer));
  EXPECT_EQ(peer.sin_family, AF_INET_VALUE);
  EXPECT_EQ(peer.sin_addr, kLoopbackAddress);
  EXPECT_EQ(PortOf(peer), talvo::test::LocalPort(first.Get()));
  ASSERT_TRUE(WaitFor([&] { return Count(listener, FD_ACCEPT) == 2; })) << "another one waits";
  const SOCKET b = lib.accept(listener, nullptr, nullptr);
  ASSERT_NE(b, INVALID_SOCKET);
  opened.push_back(b);
  EXPECT_EQ(lib.accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(lib.WSAGetLastError(), WSAEWOULDBLOCK);

  RunFor(200);
  EXPECT_EQ(Find(a, FD_READ), nullptr) << "nothing before the accepted socket is selected";
  ASSERT_EQ(lib.WSAAsyncSelect(a, window, kSelectMsg, kAcceptedEvents), 0);
  ASSERT_EQ(::send(first.Get(), "hello", 5, 0), 5);
  ASSERT_TRUE(WaitFor(a, FD_READ));
  EXPECT_EQ(Count(a, FD_WRITE), 1);
  EXPECT_EQ(received[a], "hello");
}

TEST_F(PosixSocketsTest, FullSendBufferWouldBlockThenWriteNoticeAfterDrain) {
  std::uint16_t port = 0;
  const UniqueFd listener = PeerListener(port);
  const SOCKET s = StartConnect(port);
  const UniqueFd conn = PeerAccept(listener);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));

  const std::string chunk(65536, 'x');
  int result = 0;
  for (int i = 0; i < 4096 && result != SOCKET_ERROR; ++i) result = lib.send(s, chunk.data(), 65536, 0);
  ASSERT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(lib.WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(Count(s, FD_WRITE), 1);

  char sink[65536];
  EXPECT_TRUE(WaitFor([&] {
    while (::recv(conn.Get(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    return Count(s, FD_WRITE) == 2;
  }));
}

TEST_F(PosixSocketsTest, AbortiveCloseByPeerReportsReset) {
  std::uint16_t port = 0;
  const UniqueFd listener = PeerListener(port);
  const SOCKET s = StartConnect(port);
  UniqueFd conn = PeerAccept(listener);
  ASSERT_TRUE(WaitFor(s, FD_WRITE));
  talvo::test::ResetConnection(conn);
  ASSERT_TRUE(WaitFor(s, FD_CLOSE));
  EXPECT_EQ(Find(s, FD_CLOSE)->error, WSAECONNRESET);
  RunFor(200);
  EXPECT_EQ(Count(s, FD_CLOSE), 1);
}

TEST_F(PosixSocketsTest, CloseSocketDropsItsQueuedNotifications) {
  std::uint16_t port = 0;
  const UniqueFd listener = PeerListener(port);
  // FD_CONNECT and FD_WRITE are queued together; closing in the first handler must
  // withdraw the second.
  onNote = [&](const Note& n) {
    if (n.event == FD_CONNECT) Close(n.socket);
  };
  const SOCKET s = StartConnect(port);
  ASSERT_TRUE(WaitFor(s, FD_CONNECT));
  RunFor(200);
  EXPECT_EQ(Count(s, FD_WRITE), 0);
  EXPECT_EQ(lib.recv(s, nullptr, 0, 0), SOCKET_ERROR) << "the closed SOCKET is unknown now";
  EXPECT_EQ(lib.WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(PosixSocketsTest, SocketValuesAreNeverReused) {
  const SOCKET first = Open();
  Close(first);
  const SOCKET second = Open();
  EXPECT_NE(second, first);
}

TEST_F(PosixSocketsTest, UnknownSocketIsNotASocket) {
  char buf[4];
  const SOCKET unknown = 1 << 30;
  EXPECT_EQ(lib.recv(unknown, buf, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(lib.WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(lib.send(unknown, buf, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(lib.WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(lib.closesocket(unknown), SOCKET_ERROR);
  EXPECT_EQ(lib.WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(lib.WSAAsyncSelect(unknown, window, kSelectMsg, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(lib.WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(PosixSocketsTest, AddressTextConversions) {
  EXPECT_EQ(lib.inet_addr("127.0.0.1"), kLoopbackAddress);
  EXPECT_EQ(lib.inet_addr("not an address"), INADDR_NONE_VALUE);
  EXPECT_STREQ(lib.inet_ntoa(kLoopbackAddress), "127.0.0.1");
  EXPECT_STREQ(lib.inet_ntoa(lib.inet_addr("10.20.30.40")), "10.20.30.40");
}

// ---- host-name lookup ----

class HostLookupTest : public PosixSocketsTest {
 protected:
  HANDLE StartLookup(const std::string& name) {
    return lib.WSAAsyncGetAddrInfo(window, kLookupMsg, name.c_str(), AF_UNSPEC_VALUE, &found);
  }
  bool WaitForLookup(HANDLE h) {
    return loop.RunUntil([&] { return Delivered(h); }, kWaitMs);
  }
  bool Delivered(HANDLE h) const {
    return std::any_of(lookups.begin(), lookups.end(), [h](const auto& l) { return l.first == h; });
  }
  // A name of `length` characters that no resolver can find: its first label is far over
  // the DNS limit of 63 characters, so it is refused without any network traffic.
  static std::string UnresolvableName(std::size_t length) {
    return std::string(length - 4, 'a') + ".inv";
  }

  ADDRESS_LIST found;
};

// Both families, as the resolver gives them; text that the resolver would read as a loosely
// written IPv4 address ("127.0.0.010" as 127.0.0.8) names no host.
TEST_F(HostLookupTest, DeliversTheAddressesOfEitherFamilyAndRefusesLooseIpv4Text) {
  const struct {
    const char* name;
    int error;
    const char* address;  // among those found
  } rows[] = {{"localhost", 0, "127.0.0.1"},
              {"::1", 0, "::1"},
              {"127.0.0.010", WSAHOST_NOT_FOUND, ""},
              {"2130706433", WSAHOST_NOT_FOUND, ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    found = ADDRESS_LIST{};
    const HANDLE h = StartLookup(row.name);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(WaitForLookup(h));
    EXPECT_EQ(lookups.back().second, row.error);
    std::vector<std::string> addresses;
    for (int i = 0; i < found.Count; ++i) addresses.push_back(AddressText(found.Addresses[i]));
    EXPECT_EQ(std::count(addresses.begin(), addresses.end(), row.address), row.error == 0 ? 1 : 0);
  }
}

TEST_F(HostLookupTest, OverlongNameFailsAtOnceLongestNameIsLookedUp) {
  EXPECT_EQ(StartLookup(UnresolvableName(MAX_HOST_NAME + 1)), 0u);
  EXPECT_EQ(lib.WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_TRUE(lookups.empty());

  const HANDLE h = StartLookup(UnresolvableName(MAX_HOST_NAME));
  ASSERT_NE(h, 0u) << "a name of the maximum length is not refused at once";
  ASSERT_TRUE(WaitForLookup(h));
  EXPECT_GE(lookups.front().second, WSAHOST_NOT_FOUND);
  EXPECT_LE(lookups.front().second, WSANO_DATA);
}

TEST_F(HostLookupTest, CancelledLookupNeverDelivers) {
  const HANDLE cancelled = StartLookup("localhost");
  const HANDLE kept = StartLookup("localhost");
  ASSERT_NE(cancelled, 0u);
  EXPECT_EQ(lib.WSACancelAsyncRequest(cancelled), 0);
  ASSERT_TRUE(WaitForLookup(kept));
  RunFor(200);
  EXPECT_FALSE(Delivered(cancelled));
  EXPECT_EQ(lib.WSACancelAsyncRequest(cancelled), SOCKET_ERROR) << "already cancelled";
}

TEST_F(HostLookupTest, CancelWithdrawsAnEndAlreadyQueued) {
  loop.DispatchPending();
  const HANDLE h = StartLookup("localhost");
  ASSERT_NE(h, 0u);
  // The loop's descriptor turns readable when the helper thread hands the end back; a
  // message posted now is dispatched before that end and cancels the lookup.
  pollfd p{loop.PollFd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, kWaitMs), 1);
  const HWND canceller = loop.CreateHiddenWindow([&](TMessage&) {
    EXPECT_TRUE(loop.HasPostedMessage(window, kLookupMsg, h));
    EXPECT_EQ(lib.WSACancelAsyncRequest(h), 0);
  });
  loop.PostMessage(canceller, WM_USER + 5, 0, 0);
  loop.DispatchPending();
  RunFor(200);
  EXPECT_FALSE(Delivered(h));
  loop.DestroyWindow(canceller);
}

// ---- registry ----

TEST(SocketLibraryRegistryTest, DefaultIsPosixUntilChanged) {
  const SocketLibraryTable* posix = FindSocketLibrary("posix");
  ASSERT_NE(posix, nullptr);
  EXPECT_EQ(FindSocketLibrary(""), posix);
  EXPECT_EQ(FindSocketLibrary("no such library"), nullptr);

  SocketLibraryTable fake = PosixSocketLibrary();
  fake.recv = nullptr;
  RegisterSocketLibrary("fake", fake);
  SetDefaultSocketLibrary("fake");
  const SocketLibraryTable* chosen = FindSocketLibrary("");
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->recv, nullptr);
  SetDefaultSocketLibrary("");
  EXPECT_EQ(FindSocketLibrary(""), posix);
  UnregisterSocketLibrary("fake");
  EXPECT_EQ(FindSocketLibrary("fake"), nullptr);
}

TEST(SocketLibraryRegistryTest, EntryPointsByIndex) {
  const SocketLibraryTable& posix = PosixSocketLibrary();
  for (int i = 0; i < kSocketEntryPoints; ++i) {
    SCOPED_TRACE(i);
    EXPECT_NE(SocketEntryPoint(posix, i), nullptr);
  }
  SocketLibraryTable missing = posix;
  missing.WSAAsyncSelect = nullptr;
  EXPECT_EQ(SocketEntryPoint(missing, 13), nullptr);
  EXPECT_EQ(SocketEntryPoint(missing, 14), reinterpret_cast<const void*>(posix.WSAAsyncGetAddrInfo));
  EXPECT_EQ(SocketEntryPoint(posix, -1), nullptr);
  EXPECT_EQ(SocketEntryPoint(posix, kSocketEntryPoints), nullptr);
}

}  // namespace
}  // namespace platform
