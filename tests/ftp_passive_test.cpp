// Passive data connections against the scripted peer: EPSV, PASV when EPSV is refused, a
// PASV reply that names another host, the automatic mode's switch after a refused PORT or
// a 425, a stop in passive mode, and a passive port that refuses or never takes the
// connection. Also the pure pieces: reading EPSV and PASV replies, telling a router.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ftp/PassiveReply.h"
#include "tests/support/DataSideSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;
using Cut = ScriptedPeer::DataCut;

const std::string kListing = "-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 a.txt\r\n";

// The commands the client sent that prepare data connections, in order.
Lines DataSetupCommands(const ScriptedPeer& peer) {
  Lines setup;
  for (const std::string& c : peer.Commands()) {
    if (c.rfind("PORT", 0) == 0 || c == "EPSV" || c == "PASV") setup.push_back(c.substr(0, 4));
  }
  return setup;
}

TEST(PassiveReplyTest, ReadsEpsvAndPasvRepliesAndRefusesMalformedOnes) {
  std::uint16_t port = 0;
  EXPECT_TRUE(PortFromEpsvReply("229 Entering Extended Passive Mode (|||6446|)", port));
  EXPECT_EQ(port, 6446);
  EXPECT_TRUE(PortFromEpsvReply("229 ok (!!!65535!)", port));
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"229 (|||0|)", "229 (|||65536|)", "229 (||6446|)", "229 (|||6446!)", "229 no port"}) {
    EXPECT_FALSE(PortFromEpsvReply(bad, port)) << bad;
  }
  std::string address;
  EXPECT_TRUE(AddressFromPasvReply("227 Entering Passive Mode (192,168,1,5,18,52).", address, port));
  EXPECT_EQ(address, "192.168.1.5");
  EXPECT_EQ(port, 4660);
  EXPECT_TRUE(AddressFromPasvReply("227 =10,0,0,1,255,255", address, port));
  EXPECT_EQ(port, 65535);
  for (const char* bad : {"227 (10,0,0,1,0,0)", "227 (10,0,0,256,1,1)", "227 (10,0,0,1,1)", "227 nothing"}) {
    EXPECT_FALSE(AddressFromPasvReply(bad, address, port)) << bad;
  }
}

TEST(PassiveReplyTest, ARouterStandsBetweenAPrivateNetworkAndAServerOutsideIt) {
  const struct {
    const char* local;
    const char* server;
    bool router;
  } rows[] = {
      {"192.168.1.10", "203.0.113.7", true},   {"10.0.0.2", "198.51.100.1", true},
      {"172.20.0.3", "203.0.113.7", true},     {"100.64.5.5", "203.0.113.7", true},
      {"169.254.1.1", "203.0.113.7", true},    {"192.168.1.10", "192.168.1.1", false},
      {"10.0.0.2", "127.0.0.1", false},        {"203.0.113.9", "203.0.113.7", false},
      {"172.32.0.1", "203.0.113.7", false},    {"127.0.0.1", "127.0.0.1", false},
      {"fd12::5", "2001:db8::7", true},        {"fe80::1%2", "2001:db8::7", true},
      {"fd12::5", "fd12::1", false},           {"fd12::5", "::1", false},
      {"2001:db8::9", "2001:db8::7", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(RouterBetween(row.local, row.server), row.router) << row.local << " to " << row.server;
  }
}

// A listing, a download and an upload in passive mode: EPSV each time, the client connects,
// then the command; the bytes and lines as in active mode.
TEST(FtpPassiveTest, ListsDownloadsAndUploadsOverEpsv) {
  DataSideSession s;
  s.passive = true;
  const std::string content = PatternBytes(100000);
  ASSERT_TRUE(s.tree.WriteFile("up.bin", content));
  s.ListingOpens().DataSend(kListing).DataClose().Reply(kTransferComplete);
  s.RetrOpens("down.bin", RetrOpening("down.bin", content.size())).DataSend(content).DataClose()
      .Reply(kTransferComplete);
  s.StorOpens("up.bin").DataReceive().Reply(kTransferComplete);
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List());
  EXPECT_EQ(s.ftp.FileNames, Lines{"a.txt"});
  s.log.Clear();
  ASSERT_TRUE(s.Receive("down.bin", "down.bin"));
  EXPECT_TRUE(s.ftp.Success);
  EXPECT_EQ(s.tree.ReadFile("down.bin"), content);
  s.log.Clear();
  ASSERT_TRUE(s.Store("up.bin", "up.bin"));
  EXPECT_TRUE(s.ftp.Success);
  EXPECT_EQ(s.ftp.BytesTransferred, static_cast<std::int64_t>(content.size()));
  ASSERT_EQ(s.PeerFailure(), "");
  ASSERT_EQ(s.peer.DataReceived().size(), 1u);
  EXPECT_EQ(s.peer.DataReceived()[0].bytes, content);
  EXPECT_EQ(DataSetupCommands(s.peer), (Lines{"EPSV", "EPSV", "EPSV"}));
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
}

// A stop in the middle of a passive download: the same stop as in active mode, and the
// connection goes on.
TEST(FtpPassiveTest, AStopInPassiveModeLeavesTheConnectionUsable) {
  DataSideSession s;
  s.passive = true;
  s.RetrOpens("big.bin", RetrOpening("big.bin", 64ULL << 20))
      .DataSendPattern(64ULL << 20, Cut::Allowed)
      .Expect("ABOR")
      .Reply("426 Transfer aborted.\r\n")
      .Reply("226 Abort successful.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.LogIn());
  s.StartReceive("big.bin", "big.bin");
  ASSERT_TRUE(s.WaitUntil([&] { return s.ftp.BytesTransferred >= 16384; }));
  s.ftp.Abort();
  ASSERT_TRUE(s.WaitFor("fileReceived"));
  EXPECT_FALSE(s.ftp.Success);
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
}

// EPSV refused: PASV, and PASV again for the next transfer. The PASV reply names another
// host: the client connects to the server all the same, and says so.
TEST(FtpPassiveTest, PasvWhenEpsvIsRefusedAndAlwaysTheServersOwnAddress) {
  DataSideSession s;
  s.peer.Expect("PWD").Reply(kPwdReply).Expect("TYPE A").Reply("200 ok\r\n").Expect("EPSV")
      .Reply("500 EPSV not understood\r\n").Expect("PASV").ReplyPasv("10.9.8.7").DataAccept().Expect("LIST")
      .Reply(kListingOpening).DataSend(kListing).DataClose().Reply(kTransferComplete);
  s.peer.Expect("PWD").Reply(kPwdReply).Expect("TYPE A").Reply("200 ok\r\n").Expect("PASV").ReplyPasv()
      .DataAccept().Expect("LIST").Reply(kListingOpening).DataClose().Reply(kTransferComplete);
  s.ftp.DataConnectionMode = dcmPassive;
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List());
  EXPECT_EQ(s.ftp.FileNames, Lines{"a.txt"});
  EXPECT_EQ(s.log.Count("ftpiPassiveAddress:10.9.8.7"), 1);
  s.log.Clear();
  ASSERT_TRUE(s.List());
  EXPECT_EQ(s.log.CountPrefix("ftpiPassiveAddress:"), 0);
  EXPECT_EQ(s.PeerFailure(), "");
  EXPECT_EQ(DataSetupCommands(s.peer), (Lines{"EPSV", "PASV", "PASV"}));
}

// Automatic mode: a refused PORT makes the same listing go passive; a 425 after PORT makes
// the same download go passive, the local file whole. The switch is said once, and the
// session stays passive.
TEST(FtpPassiveTest, AutomaticModeSwitchesToPassiveAndRunsTheSameOperationAgain) {
  for (const bool listing : {true, false}) {
    SCOPED_TRACE(listing ? "PORT refused, listing" : "425 to RETR, download");
    DataSideSession s;
    const std::string content = PatternBytes(50000);
    if (listing) {
      s.peer.Expect("PWD").Reply(kPwdReply).Expect("TYPE A").Reply("200 ok\r\n").Expect("PORT")
          .Reply("500 Illegal PORT command.\r\n").Expect("EPSV").ReplyEpsv().DataAccept().Expect("LIST")
          .Reply(kListingOpening).DataSend(kListing).DataClose().Reply(kTransferComplete);
    } else {
      s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE f.bin").Reply("550 No size.\r\n").Expect("PORT")
          .Reply("200 PORT command successful.\r\n")
          .Expect("RETR f.bin").Reply("425 Failed to establish connection.\r\n").Expect("EPSV").ReplyEpsv()
          .DataAccept().Expect("RETR f.bin").Reply(RetrOpening("f.bin", content.size())).DataSend(content)
          .DataClose().Reply(kTransferComplete);
    }
    s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE f.bin").Reply("213 5\r\n").Expect("EPSV").ReplyEpsv()
        .DataAccept().Expect("RETR f.bin")
        .Reply(RetrOpening("f.bin", 5)).DataSend("again").DataClose().Reply(kTransferComplete);
    s.ftp.DataConnectionMode = dcmAutomatic;
    ASSERT_TRUE(s.tree.WriteFile("f.bin", "old"));
    ASSERT_TRUE(s.LogIn());
    if (listing) {
      ASSERT_TRUE(s.List());
      EXPECT_EQ(s.ftp.FileNames, Lines{"a.txt"});
    } else {
      ASSERT_TRUE(s.Receive("f.bin", "f.bin"));
      EXPECT_EQ(s.tree.ReadFile("f.bin"), content);
    }
    EXPECT_TRUE(s.ftp.Success);
    EXPECT_EQ(s.log.Count("ftpiPassiveMode:refused"), 1);
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    s.log.Clear();
    ASSERT_TRUE(s.Receive("f.bin", "f2.bin"));
    EXPECT_EQ(s.tree.ReadFile("f2.bin"), "again");
    EXPECT_EQ(s.log.CountPrefix("ftpiPassiveMode:"), 0);
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// The port a passive reply names refuses the connection, or never takes it; over IPv6
// (here an IPv4-mapped address) a refused EPSV leaves no passive way, since PASV names an
// IPv4 address: the operation fails with a data connection error within the connect time,
// and the connection goes on.
TEST(FtpPassiveTest, APassivePortThatRefusesOrNeverAcceptsFailsBoundedAndTheConnectionGoesOn) {
  const struct {
    const char* name;
    const char* host;
    std::function<void(ScriptedPeer&)> epsvReply;
  } rows[] = {
      {"refused", "127.0.0.1", [](ScriptedPeer& p) { p.ReplyEpsvToDeadPort(ScriptedPeer::DeadPort::Refused); }},
      {"never accepted", "127.0.0.1",
       [](ScriptedPeer& p) { p.ReplyEpsvToDeadPort(ScriptedPeer::DeadPort::NeverAccepted); }},
      {"EPSV refused over IPv6", "::ffff:127.0.0.1", [](ScriptedPeer& p) { p.Reply("500 EPSV not understood\r\n"); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    s.host = row.host;
    s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE f.bin").Reply("213 4\r\n").Expect("EPSV");
    row.epsvReply(s.peer);
    s.CwdNext();
    s.ftp.DataConnectionMode = dcmPassive;
    s.ftp.TimeOutConnect = 1;
    ASSERT_TRUE(s.tree.WriteFile("keep.bin", "kept"));
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.Receive("f.bin", "keep.bin"));
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_EQ(s.log.Count("ftpeDataConnection:Error"), 1);
    EXPECT_TRUE(s.ftp.Connected);
    EXPECT_EQ(s.tree.ReadFile("keep.bin"), "kept");
    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

}  // namespace
}  // namespace talvo::test
