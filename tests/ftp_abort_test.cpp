// Abort against the scripted peer: the exact bytes on the control connection, the replies
// owed to ABOR in each order servers send them (never taken for a later command's reply),
// an abort while nothing runs, during a listing and during a store, a server that ignores
// the abort, and a second Abort that sends nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ftp/FtpProbe.h"
#include "platform/MessageLoop.h"
#include "tests/support/DataSideSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;
using Cut = ScriptedPeer::DataCut;

// Large enough that a transfer is still running when the test aborts it.
constexpr std::uint64_t kBig = 64ULL << 20;
constexpr std::int64_t kAbortAfter = 16 * 1024;
const std::string kAbortBytes = "\xFF\xF4\xFF\xF2" "ABOR\r\n";
const std::string kTwoFiles = "-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 a\r\n-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 b\r\n";

// The peer's half of a receive of kBig bytes that the client cuts short, up to ABOR read.
ScriptedPeer& ReceiveUntilAbor(DataSideSession& s, const std::string& opening = RetrOpening("big.bin", kBig)) {
  return s.RetrOpens("big.bin", opening).DataSendPattern(kBig, Cut::Allowed).Expect("ABOR");
}

// Starts the receive and aborts it once some of its data has come (BytesTransferred keeps
// the previous transfer's count until this one's data connection is taken).
void ReceiveAndAbort(DataSideSession& s, int aborts = 1) {
  s.log.Clear();
  s.StartReceive("big.bin", "big.bin");
  ASSERT_TRUE(s.WaitUntil([&] {
    return (s.log.CountPrefix("ftpiProgress:") > 0 && s.ftp.BytesTransferred >= kAbortAfter) ||
           s.log.Count("quit") > 0;
  }));
  ASSERT_TRUE(s.ftp.Busy);
  for (int i = 0; i < aborts; ++i) s.ftp.Abort();
}

// After an aborted receive the local file is not there; its part holds exactly what was
// counted.
void ExpectLocalFileKeepsWhatCame(DataSideSession& s) {
  EXPECT_FALSE(s.tree.Exists("big.bin"));
  const auto size = s.tree.FileSize("big.bin.part");
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(static_cast<std::int64_t>(*size), s.ftp.BytesTransferred);
  EXPECT_GE(s.ftp.BytesTransferred, kAbortAfter);
  EXPECT_LT(s.ftp.BytesTransferred, static_cast<std::int64_t>(kBig));
  EXPECT_TRUE(s.tree.ReadFile("big.bin.part") == PatternBytes(*size)) << "the kept part differs from what was sent";
}

TEST(FtpAbortTest, AbortSendsInterruptSynchAndAborOnceWithNothingAfter) {
  DataSideSession s;
  ReceiveUntilAbor(s).Reply("426 Transfer aborted.\r\n").Reply("226 Abort successful.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.LogIn());
  ReceiveAndAbort(s, 2);
  ASSERT_TRUE(s.WaitFor("fileReceived"));
  s.ExpectCwdAnsweredByItsOwnReply();
  ASSERT_EQ(s.PeerFailure(), "");

  const std::string bytes = s.peer.ControlBytes();
  const std::string retr = "RETR big.bin\r\n";
  const std::size_t at = bytes.find(retr);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(bytes.substr(at + retr.size()), kAbortBytes + "CWD next\r\n");
  // The Telnet DM (0xF2) is the one urgent byte.
  EXPECT_EQ(s.peer.UrgentOffsets(), (std::vector<std::size_t>{at + retr.size() + 3}));
  const Lines commands = s.peer.Commands();
  EXPECT_EQ(Lines(commands.end() - 3, commands.end()), (Lines{"RETR big.bin", "ABOR", "CWD next"}));
}

// Whatever the order of the two replies, the receive ends once, after the second; the
// second comes late, so a client that ended early would take it for the next command's.
TEST(FtpAbortTest, AbortedReceiveEndsAfterBothRepliesInEveryOrder) {
  const struct {
    const char* first;
    const char* second;
  } rows[] = {
      {"426 Transfer aborted.\r\n", "226 Abort successful.\r\n"},
      {"226 Transfer complete.\r\n", "225 Data connection open; no transfer in progress.\r\n"},
      {"226 Abort successful.\r\n", "426 Connection closed.\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.first, 3) + " then " + std::string(row.second, 3));
    DataSideSession s;
    ReceiveUntilAbor(s).Reply(row.first).Pause(400).Reply(row.second);
    s.CwdNext();
    s.RetrOpens("small.bin", RetrOpening("small.bin", 5000)).DataSendPattern(5000).DataClose().Reply(kTransferComplete);
    ASSERT_TRUE(s.LogIn());
    ReceiveAndAbort(s);
    ASSERT_TRUE(s.WaitFor("fileReceived")) << ::testing::PrintToString(s.EventsWithoutProgress());

    EXPECT_EQ(s.log.Count("fileReceived"), 1);
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    const int second = s.ReceivedAt(std::string(row.second, 8));
    EXPECT_GE(second, 0);
    EXPECT_GT(s.LineAt("fileReceived"), second) << "the receive ended before ABOR was answered";
    ExpectLocalFileKeepsWhatCame(s);

    s.ExpectCwdAnsweredByItsOwnReply();
    s.log.Clear();
    ASSERT_TRUE(s.Receive("small.bin", "small.bin"));
    EXPECT_EQ(s.tree.ReadFile("small.bin"), PatternBytes(5000));
    EXPECT_TRUE(s.ftp.Success);
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// A finished abort leaves nothing behind: the next transfer can be aborted in its turn.
TEST(FtpAbortTest, NextTransferCanBeAbortedAgain) {
  DataSideSession s;
  ReceiveUntilAbor(s).Reply("426 Transfer aborted.\r\n").Reply("226 Abort successful.\r\n");
  ReceiveUntilAbor(s).Reply("226 Transfer complete.\r\n").Reply("225 No transfer to abort.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.LogIn());
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ReceiveAndAbort(s);
    ASSERT_TRUE(s.WaitFor("fileReceived")) << ::testing::PrintToString(s.EventsWithoutProgress());
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    ExpectLocalFileKeepsWhatCame(s);
  }
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
  const Lines commands = s.peer.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "ABOR"), 2);
}

// An abort while nothing runs still owes the server's one reply; it must not answer the
// next command.
TEST(FtpAbortTest, AbortWhileIdleAbsorbsItsReply) {
  DataSideSession s;
  s.peer.Expect("ABOR").Pause(400).Reply("225 No transfer to abort.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.LogIn());
  s.ftp.Abort();
  s.ftp.Abort();
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
  const std::string bytes = s.peer.ControlBytes();
  const std::string tail = kAbortBytes + "CWD next\r\n";
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
  EXPECT_EQ(bytes.find("ABOR"), bytes.rfind("ABOR")) << "a second ABOR was sent";
}

// Stopped while the transfer is still on its way (PWD or TYPE sent, not answered): the
// transfer command is never sent, no local file is left, the last listing stays, and the
// operation ends as failed once ABOR is answered.
TEST(FtpAbortTest, AbortBeforeTheTransferCommandNeverStartsIt) {
  for (const bool listing : {false, true}) {
    SCOPED_TRACE(listing ? "listing" : "receive");
    DataSideSession s;
    if (listing) s.ListingOpens().DataSend(kTwoFiles).DataClose().Reply(kTransferComplete);
    s.peer.Expect(listing ? "PWD" : "TYPE I")
        .Expect("ABOR")
        .Reply(listing ? kPwdReply : "200 Type set.\r\n")
        .Pause(300)
        .Reply("225 No transfer to abort.\r\n");
    if (listing) s.peer.Expect("TYPE A").Reply("200 Type set.\r\n");
    s.peer.Expect("PORT").Reply("200 PORT ok.\r\n");
    s.CwdNext();
    ASSERT_TRUE(s.LogIn());
    if (listing) {
      ASSERT_TRUE(s.List());
      ASSERT_EQ(s.ftp.FileNames, (Lines{"a", "b"}));
      s.log.Clear();
      s.ftp.GetListing();
    } else {
      s.StartReceive("never.bin", "never.bin");
    }
    s.ftp.Abort();
    ASSERT_TRUE(s.WaitFor(listing ? "listingDone" : "fileReceived"));
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_EQ(s.log.CountPrefix("ftpiTransferDone"), 0) << "no data connection, no end of one";
    EXPECT_FALSE(s.tree.Exists("never.bin"));
    EXPECT_EQ(s.ftp.FileNames, (listing ? Lines{"a", "b"} : Lines{})) << "the last listing must stay";
    EXPECT_EQ(s.ftp.ListingLines.size(), listing ? 2u : 0u);
    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
    const Lines commands = s.peer.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "LIST"), listing ? 1 : 0);
    for (const std::string& command : commands) EXPECT_NE(command.rfind("RETR", 0), 0u);
  }
}

// During an abort the listing's own 426 is its last word, not an unexpected reply; the
// client ends the data side and reports it as the server's close would.
TEST(FtpAbortTest, AbortedListingWith426IsNotFatal) {
  DataSideSession s;
  s.ListingOpens()
      .DataSend(kTwoFiles)
      .Expect("ABOR")
      .Reply("426 Transfer aborted.\r\n")
      .Pause(400)
      .Reply("226 Abort successful.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.LogIn());
  s.ftp.GetListing();
  ASSERT_TRUE(s.WaitUntil([&] { return s.ftp.ListingLines.size() == 2 || s.log.Count("quit") > 0; }));
  s.ftp.Abort();
  ASSERT_TRUE(s.WaitFor("listingDone")) << ::testing::PrintToString(s.log.Events());

  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
  EXPECT_EQ(s.log.Count("listingDone"), 1);
  EXPECT_GT(s.LineAt("listingDone"), s.ReceivedAt("226 Abort successful"));
  const int ready = s.LineAt("ftpiListingReady:Listing ready");
  EXPECT_GE(ready, 0);
  EXPECT_EQ(s.LineAt("ftpiTransferDone:Transfer done"), ready + 1);
  EXPECT_FALSE(s.ftp.Success);
  EXPECT_EQ(s.ftp.FileNames, (Lines{"a", "b"}));
  EXPECT_TRUE(s.ftp.Connected);
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
}

// The stop button pressed while a store pumps the loop: no further block is sent, and the
// store ends as failed once both replies have come.
TEST(FtpAbortTest, AbortedStoreStopsSendingAndEndsAsFailed) {
  constexpr std::uint64_t kLocalSize = 16ULL << 20;
  DataSideSession s;
  s.StorOpens("big.bin")
      .DataReceive()
      .Expect("ABOR")
      .Reply("426 Transfer aborted.\r\n")
      .Pause(400)
      .Reply("226 Abort successful.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.tree.WritePatternFile("big.bin", kLocalSize));
  s.OnProgress([&s] {
    if (s.ftp.BytesTransferred >= kAbortAfter) s.ftp.Abort();
  });
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.Store("big.bin", "big.bin")) << ::testing::PrintToString(s.EventsWithoutProgress());

  EXPECT_FALSE(s.ftp.Success);
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
  EXPECT_EQ(s.log.Count("fileStored"), 1);
  EXPECT_GT(s.LineAt("fileStored"), s.ReceivedAt("226 Abort successful"));
  s.ExpectCwdAnsweredByItsOwnReply();
  ASSERT_EQ(s.PeerFailure(), "");
  const auto received = s.peer.DataReceived();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_LT(received[0].count, kLocalSize);
  EXPECT_LE(static_cast<std::int64_t>(received[0].count), s.ftp.BytesTransferred);
  EXPECT_TRUE(received[0].bytes == PatternBytes(received[0].count)) << "the sent part differs from the file";
  EXPECT_EQ(s.peer.ControlBytes().find("ABOR"), s.peer.ControlBytes().rfind("ABOR")) << "a second ABOR was sent";
}

TEST(FtpAbortTest, AbortTheServerIgnoresTimesOut) {
  DataSideSession s;
  ReceiveUntilAbor(s);
  ASSERT_TRUE(s.LogIn());
  TFtpProbe(s.ftp).GuardTimes().AbortReplies = 1;
  ReceiveAndAbort(s);
  ASSERT_TRUE(s.WaitFor("quit"));
  const Lines events = s.EventsWithoutProgress();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(Lines(events.end() - 2, events.end()), (Lines{"ftpeTimeout:Error", "quit"}));
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 1);
  EXPECT_EQ(s.log.Count("fileReceived"), 0);
  EXPECT_FALSE(s.ftp.Connected);
  EXPECT_EQ(s.PeerFailure(), "");
}

// A stopped store fails, whenever the stop comes: while its only (last) block is on its way,
// or before the server opened the data connection. The end of a data connection is
// reported only when there was one.
TEST(FtpAbortTest, StoppedStoreEndsAsFailed) {
  const struct {
    const char* name;
    bool dataConnection;
  } rows[] = {{"stopped in its last block", true}, {"stopped before the data connection", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    ASSERT_TRUE(s.tree.WritePatternFile("small.bin", 1000));
    if (row.dataConnection) {
      s.StorOpens("small.bin").DataReceive().Expect("ABOR").Reply("426 Transfer aborted.\r\n").Reply("226 Abort successful.\r\n");
      // Pressed while the store pumps the loop before sending the block.
      s.OnInfo(ftpiTransferSize, [&s] { platform::MessageLoop::Current().PostTask([&s] { s.ftp.Abort(); }); });
    } else {
      s.UpToCommand("TYPE I", "STOR small.bin")
          .Reply("150 Ok to send data.\r\n")
          .Expect("ABOR")
          .Reply("425 Failed to establish connection.\r\n")
          .Reply("225 No transfer to abort.\r\n");
    }
    s.CwdNext();
    ASSERT_TRUE(s.LogIn());
    s.StartStore("small.bin", "small.bin");
    if (!row.dataConnection) {
      ASSERT_TRUE(s.WaitUntil([&] { return s.ReceivedAt("150 Ok") >= 0; }));
      s.ftp.Abort();
    }
    ASSERT_TRUE(s.WaitFor("fileStored")) << ::testing::PrintToString(s.log.Events());
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    EXPECT_EQ(s.log.Count("ftpiTransferDone:Transfer done"), row.dataConnection ? 1 : 0);
    s.ExpectCwdAnsweredByItsOwnReply();
    ASSERT_EQ(s.PeerFailure(), "");
    const auto received = s.peer.DataReceived();
    ASSERT_EQ(received.size(), row.dataConnection ? 1u : 0u);
    if (row.dataConnection) {
      EXPECT_LT(received[0].count, 1000u);
    }
  }
}

// Servers that answer a stopped transfer once (ABOR swallowed as the transfer ended),
// answer ABOR late, or answer neither (only one more preliminary reply, as one real server
// does): after a short wait the client sends NOOP and drops every reply up to NOOP's own;
// the stop ends as a stopped transfer and the connection stays usable.
TEST(FtpAbortTest, StopEndsWhenAborIsAnsweredOnceOrLate) {
  const std::string measured = "150 0.013 seconds (measured here), 319.57 Mbytes per second\r\n";
  const struct {
    const char* name;
    bool store;
    Lines replies;  // after ABOR, before NOOP; then the late ones, then NOOP's
    Lines late;
  } rows[] = {
      {"receive, answered once", false, {"226 Transfer complete.\r\n"}, {}},
      {"receive, ABOR answered late", false, {"426 Transfer aborted.\r\n"}, {"226 Abort successful.\r\n"}},
      {"store, answered once", true, {"226 Transfer complete.\r\n"}, {}},
      {"receive, only a preliminary reply", false, {measured}, {}},
      {"store, only a preliminary reply", true, {measured}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    if (row.store) {
      ASSERT_TRUE(s.tree.WritePatternFile("big.bin", 16ULL << 20));
      s.StorOpens("big.bin").DataReceive().Expect("ABOR");
      s.OnProgress([&s] {
        if (s.ftp.BytesTransferred >= kAbortAfter) s.ftp.Abort();
      });
    } else {
      ReceiveUntilAbor(s, "150-Connecting to port 40021\r\n150 65536.0 kbytes to download\r\n");
    }
    for (const std::string& reply : row.replies) s.peer.Reply(reply);
    s.peer.Expect("NOOP");
    for (const std::string& reply : row.late) s.peer.Reply(reply);
    s.peer.Reply("200 NOOP ok.\r\n");
    s.CwdNext();
    ASSERT_TRUE(s.LogIn());
    TFtpProbe(s.ftp).GuardTimes().AbortResync = 1;
    const std::string completion = row.store ? "fileStored" : "fileReceived";
    if (row.store) {
      s.StartStore("big.bin", "big.bin");
    } else {
      ReceiveAndAbort(s);
    }
    ASSERT_TRUE(s.WaitFor(completion)) << ::testing::PrintToString(s.EventsWithoutProgress());
    EXPECT_GT(s.LineAt(completion), s.ReceivedAt("200 NOOP ok"));
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// After a stop that ended through NOOP, the replies owed start afresh: the next stop is
// answered as usual (426, then ABOR's 226) and ends on ABOR's reply, with no second NOOP.
TEST(FtpAbortTest, AStopAfterAResynchronisedOneCountsItsRepliesAfresh) {
  DataSideSession s;
  ReceiveUntilAbor(s).Reply("226 Transfer complete.\r\n").Expect("NOOP").Reply("200 NOOP ok.\r\n");
  ReceiveUntilAbor(s).Reply("426 Transfer aborted.\r\n").Reply("226 Abort successful.\r\n");
  s.CwdNext();  // a NOOP instead would fail the peer's script
  ASSERT_TRUE(s.LogIn());
  TFtpProbe(s.ftp).GuardTimes().AbortResync = 1;
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE("stop " + std::to_string(round));
    ReceiveAndAbort(s);
    ASSERT_TRUE(s.WaitFor("fileReceived")) << ::testing::PrintToString(s.EventsWithoutProgress());
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    EXPECT_GT(s.LineAt("fileReceived"), s.ReceivedAt(round == 1 ? "200 NOOP ok" : "226 Abort successful"));
  }
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
  const Lines commands = s.peer.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "NOOP"), 1);
}

// A 5xx is a final reply like any other: after a refused command the replies owed to a
// later stop are counted right, so ABOR's reply ends it without any resynchronisation.
TEST(FtpAbortTest, StopAfterARefusedCommandNeedsNoResync) {
  DataSideSession s;
  s.peer.Expect("CWD nowhere").Reply("550 No such directory.\r\n");
  ReceiveUntilAbor(s).Reply("426 Transfer aborted.\r\n").Reply("226 Abort successful.\r\n");
  s.CwdNext();  // a NOOP instead would fail the peer's script
  ASSERT_TRUE(s.LogIn());
  TFtpProbe(s.ftp).GuardTimes().AbortResync = 1;
  s.ftp.ChangeDirectory("nowhere");
  ASSERT_TRUE(s.WaitFor("directoryChanged"));
  ASSERT_FALSE(s.ftp.Success);
  ReceiveAndAbort(s);
  ASSERT_TRUE(s.WaitFor("fileReceived"));
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
}

}  // namespace
}  // namespace talvo::test
