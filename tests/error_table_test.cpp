// The table from socket error numbers to the component's error codes, and the ends of a
// connection in TVelaFtp: a mapped network error (CheckSocketError), a fatal error, the
// server's close, each through the one teardown; and a reported error, which ends nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ftp/Ftp.h"
#include "ftp/FtpProbe.h"
#include "platform/MessageLoop.h"
#include "tests/support/FakeSocketLibrary.h"
#include "tests/support/FtpEventLog.h"
#include "tests/support/LoopRuns.h"
#include "tests/support/ScriptedPeer.h"
#include "transport/FtpErrorCodes.h"

namespace talvo::test {
namespace {

using platform::INVALID_SOCKET;
using platform::MessageLoop;

struct MappingRow {
  std::uint16_t sockError;
  FtpError code;
};

const std::vector<MappingRow>& MappingRows() {
  static const std::vector<MappingRow> rows = {
      {10093, ftpeWinsockNotInitialized},
      {10050, ftpeNetworkDown},
      {10013, ftpeInvalidAddress},  // an access error names an address, not a permission
      {10004, ftpeInternalError},
      {10014, ftpeInternalError},
      {10022, ftpeInternalError},
      {10036, ftpeInternalError},
      {10038, ftpeInternalError},
      {10040, ftpeInternalError},
      {10045, ftpeInternalError},
      {10047, ftpeInternalError},
      {10048, ftpeInternalError},
      {10056, ftpeInternalError},
      {10057, ftpeInternalError},
      {10058, ftpeInternalError},
      {10052, ftpeGeneralWinsockError},
      {10055, ftpeGeneralWinsockError},
      {10053, ftpeConnectionAborted},
      {10054, ftpeConnectionReset},
      {10060, ftpeTimeout},
      {10024, ftpeOutOfSockets},
      {10051, ftpeNetworkUnreachable},
      {10049, ftpeAddressNotAvailable},
      {10061, ftpeConnectionRefused},
      {11001, ftpeAddressResolution},
      {11002, ftpeAddressResolution},
      {11003, ftpeAddressResolution},
      {11004, ftpeAddressResolution},
      {10065, ftpeHostUnreachable},
      // Numbers outside the table.
      {10064, ftpeUnknownError},
      {10035, ftpeUnknownError},  // would-block never reaches the table; if it did, unknown
      {10107, ftpeUnknownError},
      {11000, ftpeUnknownError},
      {11005, ftpeUnknownError},
      {1, ftpeUnknownError},
      {65535, ftpeUnknownError},
  };
  return rows;
}

TEST(ErrorTable, EverySocketErrorMapsToItsCode) {
  for (const MappingRow& row : MappingRows()) {
    SCOPED_TRACE(row.sockError);
    EXPECT_EQ(FtpErrorName(FtpErrorFromSocketError(row.sockError)), std::string(FtpErrorName(row.code)));
  }
}

TEST(ErrorTable, DescriptionsBelongToTheirCodes) {
  const std::vector<std::pair<FtpError, std::string>> descriptions = {
      {ftpeWinsockNotInitialized, "Winsock not initialized"},
      {ftpeNetworkDown, "Network down"},
      {ftpeInvalidAddress, "Invalid address specified"},
      {ftpeInternalError, "Unexpected internal error in component"},
      {ftpeGeneralWinsockError, "General Winsock Error"},
      {ftpeConnectionAborted, "Connection aborted due to timeout or other failure"},
      {ftpeConnectionReset, "Connection reset by remote side"},
      {ftpeTimeout, "timeout"},
      {ftpeOutOfSockets, "Out of sockets"},
      {ftpeNetworkUnreachable, "Network unreachable"},
      {ftpeAddressNotAvailable, "Address not available"},
      {ftpeConnectionRefused, "Connection Refused"},
      {ftpeAddressResolution, "Address resolution error"},
      {ftpeHostUnreachable, "Host Unreachable"},
      {ftpeUnknownError, "Unknown Error"},
  };
  for (const auto& [code, text] : descriptions) {
    SCOPED_TRACE(FtpErrorName(code));
    EXPECT_EQ(FtpErrorDescription(code), text);
  }
}

// A component whose three sockets are open, in the middle of an operation, so that a
// teardown has something to tear down.
class FtpErrorTest : public ::testing::Test {
 protected:
  FtpErrorTest() : log(ftp) {}

  void SetUp() override { OpenMidOperation(ftp); }

  static void OpenMidOperation(TVelaFtp& component) {
    component.InitWinsock();
    component.SockOpen();
    TFtpProbe(component).ListenSocket().SockOpen();
    TFtpProbe(component).DataSocket().SockOpen();
    component.Connected = true;
    component.Busy = true;
    component.Success = true;
    TFtpProbe(component).SetOperation(TVelaFtp::opChangeDirectory);
  }

  TVelaFtp ftp;
  FtpEventLog log;
};

TEST(ErrorTableThroughTheComponent, MappedErrorFiresOneErrorAndTwoQuits) {
  for (const MappingRow& row : MappingRows()) {
    SCOPED_TRACE(row.sockError);
    TVelaFtp component;
    FtpEventLog events(component);
    component.Connected = true;
    component.Success = true;
    component.Busy = true;
    TFtpProbe(component).SetOperation(TVelaFtp::opDeleteFile);
    component.SockError = row.sockError;

    EXPECT_TRUE(TFtpProbe(component).CheckSocketError());
    EXPECT_EQ(events.Lines(), std::vector<std::string>{std::string(FtpErrorName(row.code)) + ":Error"});
    EXPECT_EQ(component.LastError, row.code);
    EXPECT_FALSE(component.Connected);
    EXPECT_FALSE(component.Success);
    EXPECT_TRUE(TFtpProbe(component).ShuttingDown());
    Settle();
    EXPECT_EQ(events.Lines(), (std::vector<std::string>{std::string(FtpErrorName(row.code)) + ":Error",
                                                        "quit", "quit"}));
    EXPECT_FALSE(component.Busy);
    EXPECT_EQ(component.Operation(), TVelaFtp::opDeleteFile) << "no done notification";
  }
}

// Every end of a connection closes the sockets it owns and ends the operation; they differ
// in what they say. A second end of any kind, after the first, does nothing.
TEST_F(FtpErrorTest, EachEndTearsDownOnceAndSaysItsOwnThing) {
  const struct {
    const char* name;
    std::function<void(TVelaFtp&)> end;
    std::vector<std::string> events;
    FtpError lastError;
    bool shuttingDown;
    bool controlClosed;  // the server's close leaves the control socket to its own close
  } rows[] = {
      {"network error", [](TVelaFtp& f) { f.SockError = 10054; TFtpProbe(f).CheckSocketError(); },
       {"ftpeConnectionReset:Error", "quit", "quit"}, ftpeConnectionReset, true, true},
      {"fatal error", [](TVelaFtp& f) { TFtpProbe(f).FatalError(ftpeTimeout); }, {"ftpeTimeout:Error", "quit"}, ftpeTimeout, false, true},
      {"server's close", [](TVelaFtp& f) { TFtpProbe(f).ServerClosed(); },
       {"ftpiDisconnected:Disconnected", "ready", "directoryChanged", "quit"}, ftpeNone, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TVelaFtp component;
    FtpEventLog events(component);
    OpenMidOperation(component);
    row.end(component);
    EXPECT_EQ(component.SockHandle == INVALID_SOCKET, row.controlClosed);
    EXPECT_EQ(TFtpProbe(component).ListenSocket().SockHandle, INVALID_SOCKET);
    EXPECT_EQ(TFtpProbe(component).DataSocket().SockHandle, INVALID_SOCKET);
    EXPECT_FALSE(component.Connected);
    EXPECT_FALSE(component.Success);
    EXPECT_EQ(TFtpProbe(component).ShuttingDown(), row.shuttingDown);
    EXPECT_EQ(component.LastError, row.lastError);
    component.SockError = 10061;
    TFtpProbe(component).CheckSocketError();
    TFtpProbe(component).FatalError(ftpeUnexpectedReply);
    TFtpProbe(component).ServerClosed();
    TFtpProbe(component).NetworkError(ftpeConnectionReset);
    Settle();
    EXPECT_EQ(events.Lines(), row.events);
    EXPECT_EQ(component.LastError, row.lastError);
    EXPECT_FALSE(component.Busy);
    // The server's close ends the operation with its completion; an error only with its quit.
    EXPECT_EQ(component.Operation(), row.events[1] == "ready" ? TVelaFtp::opNone : TVelaFtp::opChangeDirectory);
  }
}

TEST_F(FtpErrorTest, CleanCheckResetsLastError) {
  ftp.LastError = ftpeTimeout;
  ftp.SockError = 0;
  EXPECT_FALSE(TFtpProbe(ftp).CheckSocketError());
  EXPECT_EQ(ftp.LastError, ftpeNone);
  EXPECT_TRUE(ftp.Connected);
  EXPECT_NE(ftp.SockHandle, INVALID_SOCKET);
  Settle();
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FtpErrorTest, ReportedErrorLeavesTheConnectionAndTheOperation) {
  TFtpProbe(ftp).ReportError(ftpeLocalFileOpen);
  EXPECT_FALSE(ftp.Success);
  EXPECT_EQ(ftp.LastError, ftpeLocalFileOpen);
  EXPECT_TRUE(ftp.Connected);
  EXPECT_TRUE(ftp.Busy);
  EXPECT_EQ(ftp.Operation(), TVelaFtp::opChangeDirectory);
  EXPECT_NE(ftp.SockHandle, INVALID_SOCKET);
  Settle();
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"ftpeLocalFileOpen:Error"});
}

// The road through a real connection: a send that the network resets.
TEST(FtpErrorRoads, ResetDuringACommandEndsTheConnectionWithTwoQuits) {
  FakeSocketLibrary fake;
  ScriptedPeer peer;
  peer.Login().AwaitClose();
  peer.Start();
  TVelaFtp ftp;
  FtpEventLog log(ftp);
  ftp.SetFtpServer("127.0.0.1");
  ftp.FtpPort = peer.Port();
  ftp.Connect();
  ASSERT_TRUE(RunUntil([&] { return log.Count("loggedIn") == 1; }));
  fake.SendFailsAfter(3, 10054, ftp.SockHandle);
  log.Clear();

  ftp.ChangeDirectory("/pub");
  ASSERT_TRUE(RunUntil([&] { return log.Count("quit") == 2; }));
  Settle();
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"ftpeConnectionReset:Error", "quit", "quit"}));
  EXPECT_FALSE(ftp.Connected);
  EXPECT_FALSE(ftp.Busy);
  EXPECT_TRUE(peer.WaitFinished(Millis(5000)));
  EXPECT_EQ(peer.Failure(), "");
}

}  // namespace
}  // namespace talvo::test
