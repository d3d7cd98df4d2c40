// The outward surface of TVelaFtp: construction values, the acceptance rules of the
// operations (not connected, busy) and what each refusal still changes, the errors that
// Connect raises before any command, the time limits of a connect, and a new Connect that
// works after each failure.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ftp/Ftp.h"
#include "ftp/FtpProbe.h"
#include "platform/MessageLoop.h"
#include "tests/support/FakeSocketLibrary.h"
#include "tests/support/FtpEventLog.h"
#include "tests/support/LoopRuns.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempTree.h"

namespace talvo::test {
namespace {

using platform::INVALID_SOCKET;
using platform::MessageLoop;
using platform::SetDefaultSocketLibrary;
using platform::UnregisterSocketLibrary;
using Lines = std::vector<std::string>;

class FtpSurfaceTest : public ::testing::Test {
 protected:
  FtpSurfaceTest() : log(ftp) {}

  void TearDown() override {
    SetDefaultSocketLibrary("");
    FakeSocketLibrary::BindPosix();
  }

  void ConnectTo(const std::string& server, std::uint16_t port) {
    ftp.SetFtpServer(server);
    ftp.FtpPort = port;
    ftp.Connect();
  }

  // A new Connect after a failure: the component logs in to a scripted peer as usual.
  void ExpectReconnectWorks(const std::string& server) {
    const bool name = !(server[0] >= '0' && server[0] <= '9');
    if (fake) fake->Reset();
    if (fake && name) fake->LookupResolvesTo({"127.0.0.1"});  // the same name, now found
    ScriptedPeer peer;
    peer.Login().AwaitClose();
    peer.Start();
    log.Clear();
    ConnectTo(server, peer.Port());
    ASSERT_TRUE(RunUntil([&] { return log.Count("loggedIn") == 1; })) << ::testing::PrintToString(log.Events());
    EXPECT_EQ(log.CountPrefix("ftpe"), 0);
    EXPECT_EQ(log.Count("ftpiConnected:127.0.0.1"), 1);
    EXPECT_EQ(log.Count("ftpiResolvingHost:" + server), name ? 1 : 0);
    EXPECT_EQ(log.Count("ftpiHostResolved:127.0.0.1"), name ? 1 : 0);
    EXPECT_TRUE(ftp.Connected);
    EXPECT_TRUE(ftp.Success);
    EXPECT_FALSE(TFtpProbe(ftp).ShuttingDown());
    EXPECT_EQ(ftp.LastError, ftpeNone);
    ftp.SockClose();
    EXPECT_TRUE(peer.WaitFinished(Millis(5000)));
    EXPECT_EQ(peer.Failure(), "");
  }

  void ExpectWinsockNotInitialized(TVelaFtp& component, FtpEventLog& events) {
    component.SetFtpServer("127.0.0.1");
    component.Connect();
    Settle();
    EXPECT_EQ(events.Lines(), Lines{"ftpeWinsockNotInitialized:Error"});
    EXPECT_FALSE(component.Success);
    EXPECT_EQ(component.LastError, ftpeWinsockNotInitialized);
    EXPECT_FALSE(component.GetWinsockStarted());
    EXPECT_EQ(component.SockHandle, INVALID_SOCKET);
  }

  std::optional<FakeSocketLibrary> fake;  // before ftp, so that it outlives it
  TVelaFtp ftp;
  FtpEventLog log;
};

// ---- Construction ----

TEST_F(FtpSurfaceTest, ConstructionValues) {
  EXPECT_EQ(ftp.FtpServer, "");
  EXPECT_EQ(ftp.FtpPort, 21);
  EXPECT_EQ(ftp.TransferMode, BinaryTransfer);
  EXPECT_EQ(ftp.ServerType, ftpstDefault);
  EXPECT_EQ(ftp.Version(), "TFtp 1.4.2");
  EXPECT_EQ(ftp.TimeOutConnect, 0);
  EXPECT_EQ(ftp.TimeOutArp, 0);
  EXPECT_FALSE(ftp.Busy);
  EXPECT_EQ(ftp.LastError, ftpeNone);
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Success);
  EXPECT_FALSE(TFtpProbe(ftp).ShuttingDown());
  EXPECT_EQ(ftp.Operation(), TVelaFtp::opNone);
  EXPECT_EQ(TFtpProbe(ftp).State(), 0);
  EXPECT_EQ(ftp.SockHandle, INVALID_SOCKET);
  EXPECT_FALSE(ftp.GetWinsockStarted()) << "the control socket starts the library at Connect";
  EXPECT_TRUE(TFtpProbe(ftp).ListenSocket().WinsockStarted);
  EXPECT_TRUE(TFtpProbe(ftp).DataSocket().WinsockStarted);

  ftp.SetVersion("TFtp 9.9");
  EXPECT_EQ(ftp.Version(), "TFtp 1.4.2");
}

TEST_F(FtpSurfaceTest, WritingWinsockStartedStartsOrStopsTheLibrary) {
  ftp.SetWinsockStarted(true);
  EXPECT_TRUE(ftp.GetWinsockStarted());
  EXPECT_TRUE(ftp.LibLoaded);
  ftp.SetWinsockStarted(false);
  EXPECT_FALSE(ftp.GetWinsockStarted());
  EXPECT_FALSE(ftp.LibLoaded);
}

// ---- Refusals ----

TEST_F(FtpSurfaceTest, RefusalsWhileNotConnected) {
  TempTree tree("surface");
  struct Row {
    const char* name;
    std::function<void(TVelaFtp&)> call;
    bool success;                       // right after the call
    TVelaFtp::TCurrentOperation operation;
    FtpError lastError;
    Lines events;                       // once the loop has run
  };
  // Before each call: Success False, no operation, LastError ftpeTimeout, so that every
  // field the refusal writes shows.
  const Row rows[] = {
      {"ChangeDirectory", [](TVelaFtp& f) { f.ChangeDirectory("/pub"); }, true, TVelaFtp::opChangeDirectory, ftpeTimeout, {"ftpiDisconnected:"}},
      {"CreateDirectory", [](TVelaFtp& f) { f.CreateDirectory("new"); }, true, TVelaFtp::opCreateDirectory, ftpeTimeout, {"ftpiDisconnected:"}},
      {"DeleteDirectory", [](TVelaFtp& f) { f.DeleteDirectory("old"); }, true, TVelaFtp::opDeleteDirectory, ftpeTimeout, {"ftpiDisconnected:"}},
      {"DeleteFile", [](TVelaFtp& f) { f.DeleteFile("a.txt"); }, true, TVelaFtp::opDeleteFile, ftpeTimeout, {"ftpiDisconnected:"}},
      {"RenameFile", [](TVelaFtp& f) { f.RenameFile("a", "b"); }, true, TVelaFtp::opNone, ftpeTimeout, {"ftpiDisconnected:"}},
      {"GetListing", [](TVelaFtp& f) { f.GetListing(); }, false, TVelaFtp::opGetListing, ftpeTimeout, {"ftpiDisconnected:"}},
      {"ReceiveFile", [](TVelaFtp& f) { f.ReceiveFile(); }, true, TVelaFtp::opNone, ftpeTimeout, {"ftpiDisconnected:"}},
      {"StoreFile", [](TVelaFtp& f) { f.StoreFile(); }, true, TVelaFtp::opStoreFile, ftpeNone, {"ftpiDisconnected:", "ready", "fileStored"}},
      {"Quit", [](TVelaFtp& f) { f.Quit(); }, false, TVelaFtp::opNone, ftpeTimeout, {"ftpiDisconnected:"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TVelaFtp component;
    FtpEventLog events(component);
    component.RemoteFile = "remote.bin";
    component.LocalFile = tree.PathOf("local.bin");
    component.LastError = ftpeTimeout;

    row.call(component);
    EXPECT_EQ(component.Success, row.success);
    EXPECT_EQ(component.Operation(), row.operation);
    EXPECT_EQ(component.LastError, row.lastError);
    EXPECT_FALSE(component.Busy);
    EXPECT_EQ(component.InitialDirectory, "");
    EXPECT_EQ(TFtpProbe(component).RenameTarget(), "");
    EXPECT_EQ(component.SockHandle, INVALID_SOCKET) << "nothing may be sent";
    EXPECT_EQ(events.Lines(), Lines{"ftpiDisconnected:"}) << "completion comes from the loop only";
    Settle();
    EXPECT_EQ(events.Lines(), row.events);
    EXPECT_FALSE(component.Busy);
    EXPECT_NE(::access(component.LocalFile.c_str(), F_OK), 0) << "the local file was touched";
  }
}

// Between a fatal error and its quit notification the component is disconnected and still
// busy; a command then (say from the error handler) is refused as not connected.
TEST_F(FtpSurfaceTest, NotConnectedIsCheckedBeforeBusy) {
  ftp.Busy = true;
  ftp.ChangeDirectory("/pub");
  EXPECT_EQ(log.Lines(), Lines{"ftpiDisconnected:"});
  EXPECT_EQ(ftp.Operation(), TVelaFtp::opChangeDirectory);
}

TEST_F(FtpSurfaceTest, RefusalWhileBusyChangesNothingAndTheRunningOperationEndsItsOwnWay) {
  TempTree tree("surface");
  ScriptedPeer peer;
  peer.Login().Expect("CWD /first").Reply("550 No such directory\r\n").AwaitClose();
  peer.Start();
  ConnectTo("127.0.0.1", peer.Port());
  ASSERT_TRUE(RunUntil([&] { return log.Count("loggedIn") == 1; }));
  ftp.RemoteFile = "remote.bin";
  ftp.LocalFile = tree.PathOf("local.bin");
  ftp.ChangeDirectory("/first");
  ASSERT_TRUE(ftp.Busy);
  // Values that no refusal may write.
  ftp.Success = false;
  ftp.LastError = ftpeTimeout;
  const int controlState = TFtpProbe(ftp).State();

  const std::pair<const char*, std::function<void()>> calls[] = {
      {"ChangeDirectory", [&] { ftp.ChangeDirectory("/second"); }},
      {"CreateDirectory", [&] { ftp.CreateDirectory("new"); }},
      {"DeleteDirectory", [&] { ftp.DeleteDirectory("old"); }},
      {"DeleteFile", [&] { ftp.DeleteFile("a.txt"); }},
      {"RenameFile", [&] { ftp.RenameFile("a", "b"); }},
      {"GetListing", [&] { ftp.GetListing(); }},
      {"ReceiveFile", [&] { ftp.ReceiveFile(); }},
      {"StoreFile", [&] { ftp.StoreFile(); }},
      {"Quit", [&] { ftp.Quit(); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    log.Clear();
    call();
    EXPECT_EQ(log.Lines(), Lines{"ftpiBusy:"});
    EXPECT_TRUE(ftp.Busy);
    EXPECT_FALSE(ftp.Success);
    EXPECT_EQ(ftp.LastError, ftpeTimeout);
    EXPECT_EQ(ftp.Operation(), TVelaFtp::opChangeDirectory);
    EXPECT_EQ(TFtpProbe(ftp).State(), controlState);
    EXPECT_EQ(ftp.InitialDirectory, "/first");
    EXPECT_EQ(TFtpProbe(ftp).RenameTarget(), "");
    EXPECT_NE(::access(ftp.LocalFile.c_str(), F_OK), 0) << "the local file was touched";
  }

  ftp.Success = true;
  ftp.LastError = ftpeNone;
  log.Clear();
  ASSERT_TRUE(RunUntil([&] { return log.Count("directoryChanged") == 1; }));
  EXPECT_EQ(log.Events(), (Lines{"ftpiCommandFailed:", "ready", "directoryChanged"}));
  EXPECT_FALSE(ftp.Success);
  EXPECT_FALSE(ftp.Busy);
  ftp.SockClose();
  ASSERT_TRUE(peer.WaitFinished(Millis(5000)));
  EXPECT_EQ(peer.Failure(), "");
  const Lines commands = peer.Commands();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back(), "CWD /first") << "a refused command was sent";
}

// ---- Connect: errors before any command ----

TEST_F(FtpSurfaceTest, ConnectWithoutAServerAsksTheOwnerAndGivesNoServer) {
  log.Answers[ftpnServer] = "";
  ftp.Connect();
  Settle();
  EXPECT_EQ(log.Lines(), (Lines{"need ftpnServer", "ftpeNoServer:Error"}));
  EXPECT_FALSE(ftp.Success);
  EXPECT_EQ(ftp.LastError, ftpeNoServer);
  EXPECT_EQ(ftp.SockHandle, INVALID_SOCKET) << "nothing may be sent";

  // With no handler at all the answer is the same.
  TVelaFtp silent;
  bool errorSeen = false;
  silent.OnFtpError = [&](TObject*, FtpError e, std::string) { errorSeen = e == ftpeNoServer; };
  silent.Connect();
  EXPECT_TRUE(errorSeen);
  EXPECT_EQ(silent.SockHandle, INVALID_SOCKET);
}

TEST_F(FtpSurfaceTest, ConnectTakesTheServerThatTheOwnerGives) {
  ScriptedPeer peer;
  peer.Login().AwaitClose();
  peer.Start();
  log.Answers[ftpnServer] = "127.0.0.1";
  ftp.FtpPort = peer.Port();
  ftp.Connect();
  ASSERT_TRUE(RunUntil([&] { return log.Count("loggedIn") == 1; }));
  EXPECT_EQ(ftp.FtpServer, "127.0.0.1");
  EXPECT_EQ(ftp.ServerAddress, "127.0.0.1");
  EXPECT_EQ(log.CountPrefix("ftpiResolvingHost"), 0) << "a dotted address needs no lookup";
  ftp.SockClose();
  EXPECT_TRUE(peer.WaitFinished(Millis(5000)));
}

TEST_F(FtpSurfaceTest, LibraryThatCannotBeBoundIsReportedAsWinsockNotInitialized) {
  FakeSocketLibrary::RegisterLacking("lacking-startup", 17);
  for (const char* library : {"no-such-library", "lacking-startup"}) {
    SCOPED_TRACE(library);
    SetDefaultSocketLibrary(library);
    TVelaFtp component;
    FtpEventLog events(component);
    ExpectWinsockNotInitialized(component, events);
    SetDefaultSocketLibrary("");
  }
  UnregisterSocketLibrary("lacking-startup");
}

TEST_F(FtpSurfaceTest, LibraryThatWillNotStartIsReportedAsWinsockNotInitialized) {
  fake.emplace().StartupFails();
  ExpectWinsockNotInitialized(ftp, log);
  ExpectReconnectWorks("127.0.0.1");
}

TEST_F(FtpSurfaceTest, ConnectPutsPortZeroBackTo21) {
  fake.emplace().ConnectNeverAnswers();
  ftp.FtpPort = 0;
  ftp.SetFtpServer("127.0.0.1");
  ftp.Connect();
  EXPECT_EQ(ftp.FtpPort, 21);
  EXPECT_EQ(ftp.SockAddr.sin_port, htons(21));
  EXPECT_EQ(fake->Connects(), 1);
}

// ---- Connect: lookups and connects that fail or never answer ----

// Each way a connect fails ends with its error and its quits (two where the network said
// no, one where a wait ran out), leaves nothing open, and a new Connect then works.
TEST_F(FtpSurfaceTest, AConnectThatFailsEndsWithItsErrorAndTheNextOneWorks) {
  const struct {
    const char* server;
    std::function<void(FakeSocketLibrary&)> arrange;
    Lines events;
    bool shuttingDown;  // a network error's second quit
    int lookupCancels;
  } rows[] = {
      {"ftp.nowhere.example", [](FakeSocketLibrary& f) { f.LookupFailsLater(11001); },
       {"ftpiResolvingHost:ftp.nowhere.example", "ftpeAddressResolution:Error", "quit", "quit"}, true, 0},
      {"ftp.silent.example", [](FakeSocketLibrary& f) { f.LookupNeverEnds(); },
       {"ftpiResolvingHost:ftp.silent.example", "ftpeTimeout:Error", "quit"}, false, 1},
      {"127.0.0.1", [](FakeSocketLibrary& f) { f.ConnectNeverAnswers(); }, {"ftpeTimeout:Error", "quit"}, false, 0},
      {"127.0.0.1", [](FakeSocketLibrary&) {}, {"ftpeConnectionRefused:Error", "quit", "quit"}, true, 0},
  };
  fake.emplace();
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.events));
    fake->Reset();
    row.arrange(*fake);
    ftp.TimeOutArp = ftp.TimeOutConnect = 1;
    log.Clear();
    const int cancels = fake->LookupCancels();
    ConnectTo(row.server, PickFreePort());
    ASSERT_TRUE(RunUntil([&] { return log.Count("quit") == (row.shuttingDown ? 2 : 1); }));
    Settle();
    EXPECT_EQ(log.Lines(), row.events);
    EXPECT_FALSE(ftp.Success);
    EXPECT_FALSE(ftp.Connected);
    EXPECT_EQ(TFtpProbe(ftp).ShuttingDown(), row.shuttingDown);
    EXPECT_EQ(ftp.SockHandle, INVALID_SOCKET);
    EXPECT_EQ(ftp.LookupHandle, 0u);
    EXPECT_EQ(fake->LookupCancels() - cancels, row.lookupCancels);
    ExpectReconnectWorks(row.server);
  }
}

}  // namespace
}  // namespace talvo::test
