// TVelaSocket against real loopback peers, and against the fake socket library for what
// loopback cannot produce (a lookup or a connect that never answers, a reset mid-send, a
// library that cannot be bound or started).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/PosixSockets.h"
#include "platform/Winsock.h"
#include "platform/WinsockErrors.h"
#include "tests/support/FakeSocketLibrary.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/TestPattern.h"
#include "transport/velasock.h"

namespace talvo::test {
namespace {

using namespace platform;

constexpr int kWaitMs = 5000;
constexpr std::uint32_t kLoopbackAddress = 0x0100007F;  // 127.0.0.1 in network order

// What one socket raised: a letter per event in order (R resolved, C connect, X close,
// T time-out, r read, w write, A accept), and SockError as each handler saw it.
struct SocketEvents {
  std::string order;
  std::vector<std::uint16_t> errors;
  int Count(char event) const { return static_cast<int>(std::count(order.begin(), order.end(), event)); }
};

class VelaSocketTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto& s : sockets_) s->SockClose();
    sockets_.clear();
    // Tests that chose another default library or bound one by hand put POSIX back.
    SetDefaultSocketLibrary("");
    FakeSocketLibrary::BindPosix();
  }

  // A socket with the library bound and started, every event recorded in `events`.
  TVelaSocket& NewSocket(SocketEvents& events) {
    sockets_.push_back(std::make_unique<TVelaSocket>());
    TVelaSocket& s = *sockets_.back();
    EXPECT_TRUE(s.InitWinsock());
    const auto note = [&s, &events](char event) {
      return [&s, &events, event](TObject*) {
        events.order += event;
        events.errors.push_back(s.SockError);
      };
    };
    s.OnSockResolved = note('R');
    s.OnSockConnect = note('C');
    s.OnSockClose = note('X');
    s.OnSockTimeOut = note('T');
    s.OnSockRead = note('r');
    s.OnSockWrite = note('w');
    s.OnSockAccept = note('A');
    return s;
  }

  static void StartConnect(TVelaSocket& s, std::uint16_t port) {
    s.SockOpen();
    ASSERT_EQ(s.SockError, 0);
    s.SockSetAddress("127.0.0.1");
    s.SockSetPort(port);
    s.SockConnect();
  }

  static bool RunUntil(const std::function<bool()>& done, int ms = kWaitMs) {
    return MessageLoop::Current().RunUntil(done, ms);
  }
  // Lets the loop run for `ms` so that anything still owed would arrive.
  static void Settle(int ms) { MessageLoop::Current().RunUntil([] { return false; }, ms); }

  UniqueFd Listen() {
    std::string error;
    UniqueFd listener = ListenLoopback(0, error);
    EXPECT_TRUE(listener.Valid()) << error;
    return listener;
  }

  // Whether the socket's small writes leave at once (TCP_NODELAY): with Nagle's algorithm
  // the last one waits for the peer's delayed acknowledgement.
  static bool SendsAtOnce(const TVelaSocket& s) {
    const posix::SocketState* state = posix::FindSocket(s.SockHandle);
    int on = 0;
    socklen_t length = sizeof on;
    return state != nullptr && ::getsockopt(state->fd, IPPROTO_TCP, TCP_NODELAY, &on, &length) == 0 && on != 0;
  }

  static UniqueFd AcceptFrom(const UniqueFd& listener) {
    if (WaitFor(listener.Get(), POLLIN, -1, Clock::now() + Millis(kWaitMs)) != WaitResult::Ready) return {};
    return UniqueFd(::accept(listener.Get(), nullptr, nullptr));
  }

 private:
  std::vector<std::unique_ptr<TVelaSocket>> sockets_;
};

// A fixture whose sockets bind the fake library; the fake outlives every socket.
class VelaSocketFakeTest : public VelaSocketTest {
 protected:
  FakeSocketLibrary fake;
};

// ---- Connecting, reading, closing ----

TEST_F(VelaSocketTest, RefusedConnectNotifiesWith10061AndSetsConnected) {
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  StartConnect(s, PickFreePort());
  EXPECT_EQ(s.SockError, 0) << "a refusal arrives as a notification, not from the call";

  ASSERT_TRUE(RunUntil([&] { return events.Count('C') == 1; }));
  EXPECT_EQ(events.errors.back(), WSAECONNREFUSED);
  EXPECT_TRUE(s.SockConnected);
  Settle(100);
  EXPECT_EQ(events.order, "C");
}

TEST_F(VelaSocketTest, PeerDataIsReadToTheLastByteBeforeTheClose) {
  constexpr std::size_t kSize = 200000;
  UniqueFd listener = Listen();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  std::string received;
  std::size_t receivedAtClose = 0;
  std::uint16_t errorAfterReceiveAtClose = 0;
  // One small read per notification: the rest must be announced again.
  s.OnSockRead = [&](TObject*) {
    char buffer[1500];
    const int n = s.SockReceive(buffer, sizeof buffer);
    received.append(buffer, static_cast<std::size_t>(n));
  };
  s.OnSockClose = [&](TObject*) {
    events.order += 'X';
    receivedAtClose = received.size();
    // After a graceful close a receive returns 0 and leaves SockError alone.
    char buffer[16];
    s.SockError = 4242;
    EXPECT_EQ(s.SockReceive(buffer, sizeof buffer), 0);
    errorAfterReceiveAtClose = s.SockError;
  };
  StartConnect(s, LocalPort(listener.Get()));
  EXPECT_TRUE(SendsAtOnce(s));
  UniqueFd peer = AcceptFrom(listener);
  ASSERT_TRUE(peer.Valid());
  std::thread sender([fd = peer.Release()] {
    const timeval limit{kWaitMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const std::string data = PatternBytes(kSize);
    std::size_t sent = 0;
    while (sent < data.size()) {
      const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });

  const bool closed = RunUntil([&] { return events.Count('X') == 1; });
  sender.join();
  ASSERT_TRUE(closed);
  EXPECT_EQ(receivedAtClose, kSize);
  EXPECT_TRUE(received == PatternBytes(kSize)) << "the bytes differ from what the peer sent";
  EXPECT_EQ(errorAfterReceiveAtClose, 4242);
  EXPECT_EQ(s.SockHandle, INVALID_SOCKET);
  EXPECT_FALSE(s.SockConnected);
}

TEST_F(VelaSocketFakeTest, CloseHandlerThatClosesTheSocketGetsNoSecondClosesocket) {
  UniqueFd listener = Listen();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.OnSockClose = [&](TObject*) {
    events.order += 'X';
    s.SockClose();
  };
  StartConnect(s, LocalPort(listener.Get()));
  AcceptFrom(listener).Reset();  // the peer closes at once
  const int closesBefore = fake.Closes();

  ASSERT_TRUE(RunUntil([&] { return events.Count('X') == 1; }));
  EXPECT_EQ(fake.Closes() - closesBefore, 1);
  EXPECT_EQ(s.SockHandle, INVALID_SOCKET);
}

TEST_F(VelaSocketTest, ListenAndAcceptHandTheConnectionToAnotherSocket) {
  SocketEvents listenerEvents, acceptedEvents;
  TVelaSocket& server = NewSocket(listenerEvents);
  TVelaSocket& accepted = NewSocket(acceptedEvents);
  std::string received;
  bool connectedAfterAccept = false;
  server.OnSockAccept = [&](TObject*) {
    listenerEvents.order += 'A';
    accepted.SockAccept(server);
    connectedAfterAccept = accepted.SockConnected && accepted.SockError == 0;
  };
  accepted.OnSockRead = [&](TObject*) {
    acceptedEvents.order += 'r';
    char buffer[64];
    received.append(buffer, static_cast<std::size_t>(accepted.SockReceive(buffer, sizeof buffer)));
  };
  server.SockOpen();
  server.SockSetAddress("127.0.0.1");
  server.SockSetPort(0);
  server.SockListen();
  ASSERT_EQ(server.SockError, 0);
  const std::uint16_t port = server.SockLocalPort();
  ASSERT_NE(port, 0);
  EXPECT_EQ(server.SockLocalAddress(), "127.0.0.1");

  std::string error;
  UniqueFd client = ConnectTo("127.0.0.1", port, "", Millis(kWaitMs), error);
  ASSERT_TRUE(client.Valid()) << error;
  ASSERT_TRUE(RunUntil([&] { return listenerEvents.Count('A') == 1; }));
  EXPECT_TRUE(connectedAfterAccept);
  EXPECT_TRUE(SendsAtOnce(accepted));
  EXPECT_EQ(accepted.SockAddr.sin_addr, kLoopbackAddress) << "SockAddr receives the peer's address";

  ASSERT_EQ(::send(client.Get(), "hello", 5, MSG_NOSIGNAL), 5);
  client.Reset();
  ASSERT_TRUE(RunUntil([&] { return acceptedEvents.Count('X') == 1; }));
  EXPECT_EQ(received, "hello");
  EXPECT_EQ(acceptedEvents.order.find('X'), acceptedEvents.order.size() - 1) << acceptedEvents.order;
  EXPECT_EQ(listenerEvents.order, "A") << "nothing of the accepted connection reaches the listener";
  EXPECT_NE(server.SockHandle, INVALID_SOCKET) << "the listener stays open";
  EXPECT_EQ(accepted.SockHandle, INVALID_SOCKET);
}

TEST_F(VelaSocketTest, SendOnAFullBufferReturnsZeroWithoutAnError) {
  UniqueFd listener = Listen();
  const int small = 4096;
  ::setsockopt(listener.Get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  StartConnect(s, LocalPort(listener.Get()));
  ASSERT_TRUE(RunUntil([&] { return events.Count('C') == 1; }));
  ASSERT_EQ(events.errors.back(), 0);
  UniqueFd peer = AcceptFrom(listener);  // never reads until the sender is stuck
  ASSERT_TRUE(peer.Valid());

  constexpr int kChunk = 65536;
  std::vector<char> chunk(kChunk);
  std::uint64_t accepted = 0;
  int result = -1;
  for (int attempt = 0; attempt < 4096 && result != 0; ++attempt) {
    FillPattern(accepted, chunk.data(), chunk.size());
    result = s.SockSend(chunk.data(), kChunk);
    accepted += static_cast<std::uint64_t>(result);
  }
  ASSERT_EQ(result, 0) << "the buffers never filled";
  EXPECT_EQ(s.SockError, 0);
  EXPECT_GT(accepted, 0u);

  // Every byte the socket said it accepted arrives, in order, and nothing more.
  std::string arrived;
  char buffer[65536];
  const auto deadline = Clock::now() + Millis(kWaitMs);
  while (arrived.size() < accepted &&
         WaitFor(peer.Get(), POLLIN, -1, deadline) == WaitResult::Ready) {
    const ssize_t n = ::recv(peer.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) break;
    arrived.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(arrived.size(), accepted);
  EXPECT_TRUE(arrived == PatternBytes(arrived.size()));
}

TEST_F(VelaSocketFakeTest, SendThatIsResetMidwayReportsTheResetWithZero) {
  UniqueFd listener = Listen();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  StartConnect(s, LocalPort(listener.Get()));
  ASSERT_TRUE(RunUntil([&] { return events.Count('C') == 1; }));
  UniqueFd peer = AcceptFrom(listener);
  fake.SendFailsAfter(10, WSAECONNRESET, s.SockHandle);

  const std::string data = PatternBytes(100);
  EXPECT_EQ(s.SockSend(data.data(), 100), 10);
  EXPECT_EQ(s.SockError, 0);
  EXPECT_EQ(s.SockSend(data.data() + 10, 90), 0);
  EXPECT_EQ(s.SockError, WSAECONNRESET);
}

// ---- The countdown ----

TEST_F(VelaSocketFakeTest, ConnectThatNeverAnswersTimesOutOnceAndCloses) {
  fake.ConnectNeverAnswers();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.TimeOutConnect = 1;
  StartConnect(s, 21);
  ASSERT_EQ(s.SockError, 0);
  EXPECT_NE(s.TimerId, 0u);

  ASSERT_TRUE(RunUntil([&] { return events.Count('T') == 1; }));
  EXPECT_EQ(s.SockHandle, INVALID_SOCKET);
  EXPECT_FALSE(s.SockConnected);
  EXPECT_EQ(s.TimerId, 0u);
  Settle(1300);  // a countdown left running would tick again
  EXPECT_EQ(events.order, "T");
}

TEST_F(VelaSocketFakeTest, TimeOutZeroArmsNoCountdown) {
  fake.ConnectNeverAnswers();
  fake.LookupNeverEnds();
  SocketEvents events;
  TVelaSocket& connecting = NewSocket(events);
  TVelaSocket& resolving = NewSocket(events);
  StartConnect(connecting, 21);
  resolving.SockResolve("ftp.example.org");
  EXPECT_EQ(connecting.TimerId, 0u);
  EXPECT_EQ(resolving.TimerId, 0u);
  Settle(1300);
  EXPECT_EQ(events.order, "");
}

TEST_F(VelaSocketTest, ConnectNotificationDisarmsTheCountdown) {
  UniqueFd listener = Listen();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.TimeOutConnect = 1;
  StartConnect(s, LocalPort(listener.Get()));
  ASSERT_TRUE(RunUntil([&] { return events.Count('C') == 1; }));
  EXPECT_EQ(s.TimerId, 0u);
  Settle(1300);
  EXPECT_EQ(events.Count('T'), 0);
  EXPECT_NE(s.SockHandle, INVALID_SOCKET);
}

// ---- Lookups ----

TEST_F(VelaSocketFakeTest, SockCloseCancelsAPendingLookupAndItsCountdown) {
  fake.LookupNeverEnds();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.TimeOutArp = 1;
  s.SockResolve("ftp.example.org");
  ASSERT_EQ(s.SockError, 0);
  ASSERT_NE(s.LookupHandle, 0u);
  s.SockError = 77;

  s.SockClose();
  EXPECT_EQ(s.LookupHandle, 0u);
  EXPECT_EQ(s.TimerId, 0u);
  EXPECT_EQ(fake.LookupCancels(), 1);
  EXPECT_EQ(s.SockError, 77) << "without a socket SockClose takes no error";
  Settle(1300);
  EXPECT_EQ(events.order, "");

  // A new lookup may start after the cancel.
  s.SockResolve("ftp.example.org");
  EXPECT_NE(s.LookupHandle, 0u);
  EXPECT_EQ(fake.LookupsStarted(), 2);
}

TEST_F(VelaSocketTest, SockCloseCancelsARealLookup) {
  SocketEvents cancelledEvents, witnessEvents;
  TVelaSocket& cancelled = NewSocket(cancelledEvents);
  TVelaSocket& witness = NewSocket(witnessEvents);
  cancelled.SockResolve("localhost");
  ASSERT_EQ(cancelled.SockError, 0);
  cancelled.SockClose();
  // A second lookup of the same name shows how long the first would have taken.
  witness.SockResolve("localhost");
  ASSERT_TRUE(RunUntil([&] { return witnessEvents.Count('R') == 1; }));
  Settle(200);
  EXPECT_EQ(cancelledEvents.order, "");
}

TEST_F(VelaSocketTest, LookupOfLocalhostFindsTheLoopbackAddress) {
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.TimeOutArp = 5;
  s.SockResolve("localhost");
  ASSERT_EQ(s.SockError, 0);
  EXPECT_NE(s.TimerId, 0u);

  ASSERT_TRUE(RunUntil([&] { return events.Count('R') == 1; }));
  EXPECT_EQ(events.errors.back(), 0);
  EXPECT_EQ(s.LookupHandle, 0u);
  EXPECT_EQ(s.TimerId, 0u);
  // Where localhost also has ::1, the resolver may well put it first.
  s.SockUseResolved();
  EXPECT_TRUE(s.SockAddressText() == "127.0.0.1" || s.SockAddressText() == "::1") << s.SockAddressText();
}

TEST_F(VelaSocketFakeTest, LookupThatFailsLaterKeepsThePreviousAddress) {
  fake.LookupFailsLater(WSAHOST_NOT_FOUND);
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.ResolvedAddress.sin_addr = 0x04030201;
  s.TimeOutArp = 5;
  s.SockResolve("nowhere.example");

  ASSERT_TRUE(RunUntil([&] { return events.Count('R') == 1; }));
  EXPECT_EQ(events.errors.back(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(s.ResolvedAddress.sin_addr, 0x04030201u);
  EXPECT_EQ(s.LookupHandle, 0u);
  EXPECT_EQ(s.TimerId, 0u);
}

TEST_F(VelaSocketFakeTest, ResolveWhileALookupIsPendingDoesNothing) {
  fake.LookupNeverEnds();
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.SockResolve("first.example");
  const HANDLE first = s.LookupHandle;
  s.SockError = 55;
  s.TimeOutArp = 1;
  s.SockResolve("second.example");
  EXPECT_EQ(s.LookupHandle, first);
  EXPECT_EQ(s.SockError, 55);
  EXPECT_EQ(s.TimerId, 0u);
  EXPECT_EQ(fake.LookupsStarted(), 1);
}

TEST_F(VelaSocketFakeTest, HostNamesUpToTheDnsLimitAreLookedUpWholeLongerOnesFailAtOnce) {
  fake.LookupNeverEnds();
  for (const std::size_t length : {std::size_t{63}, std::size_t{64}, std::size_t{200}, std::size_t{253}}) {
    SCOPED_TRACE(length);
    SocketEvents events;
    TVelaSocket& s = NewSocket(events);
    const std::string name = std::string(length - 4, 'a') + ".org";
    s.SockResolve(name);
    EXPECT_EQ(s.SockError, 0);
    EXPECT_EQ(fake.LastLookupName(), name);
    s.SockClose();
  }

  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.TimeOutArp = 1;
  const int started = fake.LookupsStarted();
  s.SockResolve(std::string(250, 'b') + ".org");
  EXPECT_EQ(s.SockError, WSAHOST_NOT_FOUND);
  EXPECT_EQ(s.LookupHandle, 0u);
  EXPECT_EQ(s.TimerId, 0u);
  EXPECT_EQ(fake.LookupsStarted(), started);
  Settle(1300);
  EXPECT_EQ(events.order, "");
}

// ---- Binding and starting the library ----

TEST_F(VelaSocketTest, LoadWinsockFailsForAnUnknownLibrary) {
  TVelaSocket s;
  EXPECT_FALSE(s.LoadWinsock("no-such-library"));
  EXPECT_FALSE(s.LibLoaded);
  EXPECT_TRUE(s.LoadWinsock("posix"));
  EXPECT_TRUE(s.LibLoaded);

  SetDefaultSocketLibrary("no-such-library");
  TVelaSocket unbound;
  EXPECT_FALSE(unbound.InitWinsock());
  EXPECT_FALSE(unbound.WinsockStarted);
}

TEST_F(VelaSocketTest, ALibraryLackingAnyEntryPointCannotBeBound) {
  TVelaSocket bound;
  ASSERT_TRUE(bound.LoadWinsock("posix"));
  for (int index = 0; index < kSocketEntryPoints; ++index) {
    SCOPED_TRACE(index);
    const std::string name = "lacking-" + std::to_string(index);
    FakeSocketLibrary::RegisterLacking(name, index);
    TVelaSocket s;
    EXPECT_FALSE(s.LoadWinsock(name));
    EXPECT_FALSE(s.LibLoaded);
    SetDefaultSocketLibrary(name);
    EXPECT_FALSE(s.InitWinsock());
    EXPECT_FALSE(s.WinsockStarted);
    SetDefaultSocketLibrary("");
    UnregisterSocketLibrary(name);
    // The failed binding left the shared table whole.
    for (int entry = 0; entry < kSocketEntryPoints; ++entry) {
      EXPECT_NE(SocketEntryPoint(Winsock(), entry), nullptr) << "entry " << entry;
    }
  }
}

TEST_F(VelaSocketFakeTest, RefusedStartupLeavesTheLibraryNotStartedAndSockErrorAlone) {
  fake.StartupFails();
  TVelaSocket s;
  s.SockError = 31;
  EXPECT_FALSE(s.InitWinsock());
  EXPECT_FALSE(s.WinsockStarted);
  EXPECT_EQ(s.SockError, 31);
}

TEST_F(VelaSocketFakeTest, EachObjectStartsTheLibraryOnceAndCleansUpWhenDestroyed) {
  {
    TVelaSocket s;
    EXPECT_TRUE(s.InitWinsock());
    EXPECT_TRUE(s.InitWinsock());
    EXPECT_EQ(fake.Startups(), 1);
    TVelaSocket other;
    EXPECT_TRUE(other.InitWinsock());
    EXPECT_EQ(fake.Startups(), 2);
    EXPECT_EQ(fake.Cleanups(), 0);
  }
  EXPECT_EQ(fake.Cleanups(), 2);
}

// ---- Small operations ----

TEST_F(VelaSocketTest, SockOpenOnAnOpenSocketChangesNothing) {
  SocketEvents events;
  TVelaSocket& s = NewSocket(events);
  s.SockOpen();
  const SOCKET first = s.SockHandle;
  ASSERT_NE(first, INVALID_SOCKET);
  s.SockError = 9;
  s.SockOpen();
  EXPECT_EQ(s.SockHandle, first);
  EXPECT_EQ(s.SockError, 9);
}

// Only text that is an address is taken as one: four decimal numbers without leading zeros
// (which some read as octal), or IPv6 with or without brackets and zone, held in its
// canonical text; the rest, even beginning with a digit, is a name to look up.
TEST(VelaSocketFtpServer, SetFtpServerTakesOnlyAddressesAsAddresses) {
  struct Step {
    const char* value;
    const char* address;
    const char* hostName;
  };
  // Each step writes after the previous ones, on the same object.
  const Step steps[] = {
      {"10.1.2.3", "10.1.2.3", ""},
      {"ftp.example.org", "", "ftp.example.org"},
      {"", "", "ftp.example.org"},
      {"::1", "::1", ""},
      {"", "::1", ""},
      {"1and1.example", "", "1and1.example"},
      {"163.com", "", "163.com"},
      {"127.0.0.010", "", "127.0.0.010"},
      {"127.0.0.8 garbage", "", "127.0.0.8 garbage"},
      {"256.1.1.1", "", "256.1.1.1"},
      {"127.1", "", "127.1"},
      {"9", "", "9"},
      {"0.0.0.0", "0.0.0.0", ""},
      {"[::1]", "::1", ""},
      {"0:0:0:0:0:0:0:1", "::1", ""},
      {"[FE80::1%eth0]", "fe80::1%eth0", ""},
      {"[127.0.0.1]", "", "[127.0.0.1]"},
      {" 10.1.2.3", "", " 10.1.2.3"},
  };
  TVelaSocket s;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string("FtpServer := \"") + step.value + "\"");
    s.SetFtpServer(step.value);
    EXPECT_EQ(s.FtpServer, step.value);
    EXPECT_EQ(s.ServerAddress, step.address);
    EXPECT_EQ(s.ServerHostName, step.hostName);
  }
}

}  // namespace
}  // namespace talvo::test
