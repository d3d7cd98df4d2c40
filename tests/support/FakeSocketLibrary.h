// A socket library for tests: the POSIX library with a few entry points replaced, to
// simulate what loopback cannot produce — a lookup that never ends or fails later, a
// connect that never answers, a reset in the middle of a send, a library that will not
// start — and a library that lacks one entry point.
//
// Constructing a FakeSocketLibrary registers it as kName and makes it the default library,
// so every socket object that binds the library afterwards (InitWinsock) calls through it.
// It behaves exactly as the POSIX library until the test chooses a misbehaviour; sockets
// stay real POSIX sockets. The destructor drops every misbehaviour, restores the POSIX
// default and rebinds the shared table (Winsock()) to POSIX, so later tests never call
// into the fake. Declare it before the socket objects so that it outlives them.
//
//   FakeSocketLibrary fake;
//   fake.ConnectNeverAnswers();
//   TVelaSocket socket;
//   socket.InitWinsock();   // binds the fake
//   ...
//
// The entry points are plain functions, so their state is global: one instance at a time,
// used from the thread whose loop runs the sockets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Winsock.h"

namespace talvo::test {

class FakeSocketLibrary {
 public:
  static constexpr const char* kName = "fake";

  FakeSocketLibrary();
  ~FakeSocketLibrary();
  FakeSocketLibrary(const FakeSocketLibrary&) = delete;
  FakeSocketLibrary& operator=(const FakeSocketLibrary&) = delete;

  // --- Misbehaviours; each lasts until replaced or Reset(). ---
  // Lookups return a task handle and never post their end (a cancel withdraws nothing).
  void LookupNeverEnds();
  // Lookups end through the loop with `error` (11001 host not found, ...) in the high word.
  void LookupFailsLater(std::uint16_t error);
  // Lookups end through the loop with success, finding `addresses` (as typed, either
  // family, in this order) for any name.
  void LookupResolvesTo(const std::vector<std::string>& addresses);
  // Connects report "would block" and then nothing ever: no FD_CONNECT, no other event.
  // With `onlyTo`, only connects to that address do; the others are real.
  void ConnectNeverAnswers(const std::string& onlyTo = {});
  // Sends pass until `bytes` bytes in all were accepted (a send that would cross the
  // limit is cut at it); every send after that fails with `error`. Only sends on
  // `socket` count when it is given.
  void SendFailsAfter(std::uint64_t bytes, std::uint16_t error = 10054,
                      platform::SOCKET socket = platform::INVALID_SOCKET);
  // WSAStartup returns `error` (10091, not ready, by default) and fills nothing.
  void StartupFails(int error = 10091);
  // Back to plain POSIX behaviour (the counters below are kept).
  void Reset();

  // --- What the library saw since construction. ---
  int LookupsStarted() const;   // WSAAsyncGetAddrInfo calls
  int LookupCancels() const;    // WSACancelAsyncRequest calls
  std::string LastLookupName() const;
  int Connects() const;
  int Closes() const;           // closesocket calls
  int Startups() const;         // successful WSAStartup calls
  int Cleanups() const;

  // Registers under `name` a copy of the POSIX library whose entry point number `index`
  // (declaration order in SocketLibraryTable) is missing, so binding it fails.
  static void RegisterLacking(const std::string& name, int index);
  // Rebinds the shared table to POSIX; for tests that bound another library by hand.
  static void BindPosix();
};

}  // namespace talvo::test
