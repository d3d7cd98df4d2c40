// Listings against the scripted peer: how listing text is cut into lines whatever the
// chunks (CR LF split between reads, zero bytes, lone LF, a last line without CR LF, an
// overlong line), what the three lists hold, how the data side and the final reply are
// joined in either order, the PWD and LIST replies that change the course, and a listed
// name that would carry a second command.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ftp/FtpProbe.h"
#include "tests/support/DataSideSession.h"

namespace talvo::test {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

// Lines as short text for comparisons: a long line becomes "<length chars>".
Lines Shape(const Lines& lines) {
  Lines shape;
  for (const std::string& line : lines) {
    shape.push_back(line.size() > 60 ? "<" + std::to_string(line.size()) + " chars>" : line);
  }
  return shape;
}

const Lines kListingEnd = {"ftpiListingReady:Listing ready", "ftpiTransferDone:Transfer done", "ready",
                           "listingDone"};

TEST(FtpListingTest, UnixListingFillsTheThreeListsInArrivalOrder) {
  const Lines lines = {
      "total 24",
      "drwxr-xr-x   2 ftp  ftp   512 Jan 10 12:00 pub",
      "-rw-r--r--   1 ftp  ftp 12345 Jan 10  1999 readme.txt",
      "lrwxrwxrwx   1 root root    7 Jan 10 12:00 bin -> usr/bin",
      "-rw-r--r--   1 ftp  ftp   100 Jan 10 12:00 my notes.txt",
      "drwxr-xr-x   2 ftp  ftp   512 Jan 10 12:00 ..",
  };
  std::string text;
  Lines expectedEvents;
  for (const std::string& line : lines) {
    text += line + "\r\n";
    expectedEvents.push_back("ftpiProgress:" + line);
    expectedEvents.push_back("ftpiListingLine:" + line);
  }
  expectedEvents.insert(expectedEvents.end(), kListingEnd.begin(), kListingEnd.end());

  DataSideSession s;
  s.ListingOpens().DataSend(text).DataClose().Reply(kTransferComplete);
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List()) << ::testing::PrintToString(s.log.Lines());

  EXPECT_EQ(s.log.Events(), expectedEvents);
  EXPECT_EQ(s.ftp.ListingLines, lines);
  EXPECT_EQ(s.ftp.DirectoryNames, (Lines{"pub", "bin", ".."}));
  EXPECT_EQ(s.ftp.FileNames, (Lines{"readme.txt", "my notes.txt"}));
  EXPECT_EQ(s.ftp.BytesTransferred, static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(s.ftp.InitialDirectory, "/home/anna");
  EXPECT_EQ(s.ftp.ServerType, ftpstUNIX);
  EXPECT_TRUE(s.ftp.Success);
  EXPECT_FALSE(s.ftp.Busy);
  EXPECT_EQ(s.PeerFailure(), "");
  const Lines commands = s.peer.Commands();
  ASSERT_EQ(commands.size(), 8u);
  EXPECT_EQ(Lines(commands.begin() + 4, commands.end()), (Lines{"PWD", "TYPE A", commands[6], "LIST"}));
  EXPECT_TRUE(commands[6].starts_with("PORT 127,0,0,1,")) << commands[6];
}

// The same text reaching the client in different cuts; each piece arrives as its own read.
TEST(FtpListingTest, ListingTextIsCutIntoLinesWhateverTheChunks) {
  const std::string overlong(10001, 'x');
  const std::string longest(10000, 'y');
  struct Row {
    const char* name;
    std::string text;
    std::vector<std::size_t> cuts;
    Lines lines;
    std::int64_t bytes;  // characters counted, zero bytes and what follows them excluded
  };
  const std::vector<Row> rows = {
      {"CR LF split between two reads", "one\r\ntwo\r\nthree\r\n", {9}, {"one", "two", "three"}, 17},
      {"CR LF split, LF alone in its read", "one\r\ntwo\r\n", {9}, {"one", "two"}, 10},
      {"a zero byte drops the rest of its read only", "one\r\ntw\0o\r\nthree\r\n"s + "four\r\n", {18},
       {"one", "twfour"}, 13},
      {"a zero byte first in a read", "one\r\n"s + "\0two\r\n"s + "three\r\n", {5, 11}, {"one", "three"}, 12},
      {"lone LF never ends a line", "one\ntwo\nthree\n", {}, {}, 14},
      {"lone CR never ends a line", "one\rtwo\r", {}, {}, 8},
      {"a last line without CR LF is not stored", "one\r\ntwo", {}, {"one"}, 8},
      {"zero bytes", "", {}, {}, 0},
      {"a line over 10000 characters is dropped, the next kept", "first\r\n" + overlong + "\r\nlast\r\n", {},
       {"first", "last"}, 10016},
      {"an overlong line with its CR LF split", "first\r\n" + overlong + "\r\nlast\r\n", {7 + 10001 + 1},
       {"first", "last"}, 10016},
      {"a line of 25000 characters is dropped, the next kept", "first\r\n" + std::string(25000, 'z') + "\r\nlast\r\n",
       {}, {"first", "last"}, 25015},
      {"a line of 10000 characters is kept", "first\r\n" + longest + "\r\nlast\r\n", {},
       {"first", longest, "last"}, 10015},
      {"a line of 10000 characters with its CR LF split", "first\r\n" + longest + "\r\nlast\r\n",
       {7 + 10000 + 1}, {"first", longest, "last"}, 10015},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    s.ListingOpens().DataSendSplit(row.text, row.cuts).DataClose().Reply(kTransferComplete);
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.List()) << ::testing::PrintToString(Shape(s.log.Events()));

    EXPECT_EQ(Shape(s.ftp.ListingLines), Shape(row.lines));
    EXPECT_EQ(s.ftp.BytesTransferred, row.bytes);
    EXPECT_EQ(s.log.CountPrefix("ftpiListingLine:"), static_cast<int>(row.lines.size()));
    const Lines events = s.log.Events();
    ASSERT_GE(events.size(), kListingEnd.size());
    EXPECT_EQ(Lines(events.end() - 4, events.end()), kListingEnd);
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

TEST(FtpListingTest, LoneLfListingGivesNoEntriesButEndsNormally) {
  DataSideSession s;
  s.ListingOpens()
      .DataSend("drwxr-xr-x 2 ftp ftp 512 Jan 10 12:00 pub\n-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 a\n")
      .DataClose()
      .Reply(kTransferComplete);
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List());
  EXPECT_EQ(s.log.Events(), kListingEnd);
  EXPECT_EQ(s.ftp.ListingLines, Lines{});
  EXPECT_EQ(s.ftp.DirectoryNames, Lines{});
  EXPECT_EQ(s.ftp.FileNames, Lines{});
  EXPECT_EQ(s.PeerFailure(), "");
}

// A listing with nothing in it empties what the previous listing left.
TEST(FtpListingTest, ZeroByteListingEmptiesTheListsAndEndsNormally) {
  DataSideSession s;
  s.ListingOpens()
      .DataSend("drwxr-xr-x 2 ftp ftp 512 Jan 10 12:00 pub\r\n-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 a\r\n")
      .DataClose()
      .Reply(kTransferComplete);
  s.ListingOpens().DataClose().Reply(kTransferComplete);
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List());
  ASSERT_EQ(s.ftp.ListingLines.size(), 2u);
  s.log.Clear();

  ASSERT_TRUE(s.List());
  EXPECT_EQ(s.log.Events(), kListingEnd);
  EXPECT_EQ(s.ftp.ListingLines, Lines{});
  EXPECT_EQ(s.ftp.DirectoryNames, Lines{});
  EXPECT_EQ(s.ftp.FileNames, Lines{});
  EXPECT_EQ(s.ftp.BytesTransferred, 0);
  EXPECT_EQ(s.PeerFailure(), "");
}

// Whichever comes first, the data side and the final reply end the listing together, once;
// and nothing of it is left to answer the next command.
TEST(FtpListingTest, DataCloseAndFinalReplyJoinInEitherOrder) {
  const std::string text = "-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 a\r\n";
  struct Row {
    const char* name;
    std::function<void(ScriptedPeer&)> dataAndEnd;
  };
  const std::vector<Row> rows = {
      {"data closes, then 226",
       [&](ScriptedPeer& p) { p.DataSend(text).DataClose().Pause(300).Reply(kTransferComplete); }},
      {"226, then data closes",
       [&](ScriptedPeer& p) { p.DataSend(text).Reply(kTransferComplete).Pause(300).DataClose(); }},
      {"both at once", [&](ScriptedPeer& p) { p.DataSend(text).DataClose().Reply(kTransferComplete); }},
      {"226 before any data",
       [&](ScriptedPeer& p) { p.Reply(kTransferComplete).Pause(300).DataSend(text).Pause(300).DataClose(); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    row.dataAndEnd(s.ListingOpens());
    s.CwdNext();
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.List()) << ::testing::PrintToString(s.log.Lines());
    EXPECT_EQ(s.ftp.FileNames, Lines{"a"});
    EXPECT_EQ(s.log.Count("listingDone"), 1);
    EXPECT_EQ(s.log.Count("ready"), 1);
    EXPECT_GT(s.LineAt("listingDone"), s.ReceivedAt("226 Transfer complete"));
    EXPECT_GT(s.LineAt("listingDone"), s.LineAt("ftpiTransferDone:Transfer done"));

    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

TEST(FtpListingTest, PwdWithoutQuotesEmptiesInitialDirectoryAndTheListingGoesOn) {
  DataSideSession s;
  s.ListingOpens("257 /home/anna is the current directory\r\n")
      .DataSend("-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 a\r\n")
      .DataClose()
      .Reply(kTransferComplete);
  ASSERT_TRUE(s.LogIn());
  s.ftp.InitialDirectory = "/before";
  ASSERT_TRUE(s.List()) << ::testing::PrintToString(s.log.Events());
  EXPECT_EQ(s.ftp.InitialDirectory, "");
  EXPECT_EQ(s.ftp.FileNames, Lines{"a"});
  EXPECT_EQ(s.PeerFailure(), "");
}

// A listing that goes past its bound (here 1000 bytes) is stopped as the stop button stops
// one, and refused whole with its own error; the connection goes on.
TEST(FtpListingTest, AListingPastItsBoundIsStoppedAndRefusedWhole) {
  DataSideSession s;
  std::string text;
  for (int i = 0; i < 100; ++i) text += "-rw-r--r-- 1 ftp ftp 1 Jan 10 12:00 f" + std::to_string(i) + "\r\n";
  s.ListingOpens().DataSend(text).Expect("ABOR").Reply("426 Aborted.\r\n").Reply("226 ABOR ok.\r\n");
  s.CwdNext();
  TFtpProbe(s.ftp).SetListingBound(1000);
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List()) << ::testing::PrintToString(s.log.Events());
  EXPECT_EQ(s.log.Count("ftpeListingTooLarge:Error"), 1);
  EXPECT_FALSE(s.ftp.Success);
  EXPECT_TRUE(s.ftp.FileNames.empty());
  EXPECT_TRUE(s.ftp.ListingLines.empty());
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
}

TEST(FtpListingTest, ListRefusedIsFatal) {
  DataSideSession s;
  s.peer.Expect("PWD").Reply(kPwdReply);
  s.UpToCommand("TYPE A", "LIST").Reply("550 Permission denied.\r\n").AwaitClose();
  ASSERT_TRUE(s.LogIn());
  s.ftp.GetListing();
  ASSERT_TRUE(s.WaitFor("quit"));
  EXPECT_EQ(s.log.Events(), (Lines{"ftpeUnexpectedReply:Error", "quit"}));
  EXPECT_FALSE(s.ftp.Connected);
  EXPECT_FALSE(s.ftp.Busy);
  EXPECT_EQ(s.ftp.LastError, ftpeUnexpectedReply);
}

// FEAT after SYST decides the session: OPTS UTF8 ON when it lists UTF8 (refused or not, the
// login goes on), MLSD when it lists MLST as a feature. Every form of listing gives whole
// names (odd ones too: the window and the engine refuse what would escape the local folder
// or carry a second command) and the size and time it says.
TEST(FtpListingTest, FeatChoosesTheListingAndEveryFormGivesWholeNames) {
  const std::string unixLine = "-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 a b.txt\r\n";
  const ScriptedPeer::LoginReplies plain, mlsd = ScriptedPeer::MlsdLogin();
  const struct {
    const char* name;
    std::string syst, feat, opts;  // opts empty: not sent
    std::string verb, listing;
    Lines directories, files;
    ListingFacts firstFile;
  } rows[] = {
      {"FEAT refused", plain.syst, "502 Not implemented.\r\n", "", "LIST", unixLine, {}, {"a b.txt"}, {5, -1}},
      {"utf8 alone, OPTS refused", plain.syst, "211-Extensions:\r\n utf8\r\n211 END\r\n", "501 No.\r\n", "LIST",
       unixLine, {}, {"a b.txt"}, {5, -1}},
      {"MLST outside the feature lines", plain.syst, "211-MLST\r\n211 MLST\r\n", "", "LIST", unixLine, {},
       {"a b.txt"}, {5, -1}},
      {"Windows style, whatever SYST says", "215 Windows_NT\r\n", plain.feat, "", "LIST",
       "12-07-26  04:31PM       <DIR>          My Folder\r\n12-07-26  04:31PM   1234 report 2026.txt\r\n",
       {"My Folder"}, {"report 2026.txt"}, {1234, -1}},
      {"MLSD", plain.syst, mlsd.feat, mlsd.opts, "MLSD",
       "type=cdir; /home/anna\r\ntype=pdir; ..\r\ntype=dir; My Folder\r\n"
       "type=file;size=1234;modify=20260712163100.5; two  blanks.txt\r\ntype=OS.unix=slink:/etc; etc\r\n"
       "type=file; ../escaped\r\ntype=file; x\nQUIT\r\n-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 a.txt\r\n",
       {"My Folder", "etc"}, {"two  blanks.txt", "../escaped", "x\nQUIT"}, {1234, 1783873860}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedPeer::LoginReplies login;
    login.syst = row.syst;
    login.feat = row.feat;
    login.opts = row.opts;
    DataSideSession s(login);
    s.ListingOpens(kPwdReply, row.verb).DataSend(row.listing).DataClose().Reply(kTransferComplete);
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.List()) << ::testing::PrintToString(s.log.Lines());
    EXPECT_EQ(s.ftp.DirectoryNames, row.directories);
    EXPECT_EQ(s.ftp.FileNames, row.files);
    const ListingFacts* facts = s.ftp.FactsOf(row.files.front());
    ASSERT_NE(facts, nullptr);
    EXPECT_EQ(facts->Size, row.firstFile.Size);
    EXPECT_EQ(facts->Modified, row.firstFile.Modified);  // 2026-07-12 16:31:00 UTC
    EXPECT_EQ(s.PeerFailure(), "");
    const Lines commands = s.peer.Commands();
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(commands[4], row.opts.empty() ? "PWD" : "OPTS UTF8 ON");
    EXPECT_EQ(commands.back(), row.verb);
  }
}

// A server that lists MLST but refuses MLSD as unknown (500, or 502 not implemented): this
// listing and every later one use LIST, over a new data connection, in either mode.
TEST(FtpListingTest, RefusedMlsdFallsBackToListForTheSession) {
  const std::string listing = "-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 a b.txt\r\n";
  for (const bool passive : {false, true}) {
    const std::string refusal = passive ? "502 Not implemented.\r\n" : "500 Unknown command.\r\n";
    SCOPED_TRACE(refusal);
    DataSideSession s(ScriptedPeer::MlsdLogin());
    s.passive = passive;
    s.peer.Expect("PWD").Reply(kPwdReply);
    s.UpToCommand("TYPE A", "MLSD").Reply(refusal);
    if (passive) s.peer.Expect("EPSV").ReplyEpsv().DataAccept().Expect("LIST").Reply(kListingOpening);
    if (!passive) s.peer.Expect("PORT").Reply("200 ok\r\n").Expect("LIST").Reply(kListingOpening).DataConnect();
    s.peer.DataSend(listing).DataClose().Reply(kTransferComplete);
    s.ListingOpens().DataSend(listing).DataClose().Reply(kTransferComplete);
    ASSERT_TRUE(s.LogIn());
    for (int round = 0; round < 2; ++round) {
      s.log.Clear();
      ASSERT_TRUE(s.List()) << ::testing::PrintToString(s.log.Lines());
      EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
      EXPECT_EQ(s.ftp.FileNames, Lines{"a b.txt"});
    }
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// Only CR LF ends a listing line, so a hostile server can list a name holding a lone LF.
// Downloading or deleting it must not send the rest as a second command: each ends as
// refused before anything is sent, and the local file is untouched.
TEST(FtpListingTest, ListedNameThatWouldCarryASecondCommandIsNeverSent) {
  const std::string hostile = "x\nQUIT";
  DataSideSession s;
  s.ListingOpens().DataSend("-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 " + hostile + "\r\n").DataClose().Reply(kTransferComplete);
  s.peer.AwaitClose();
  ASSERT_TRUE(s.tree.WriteFile("local.txt", "precious"));
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List());
  ASSERT_EQ(s.ftp.FileNames, Lines{hostile});

  const struct {
    const char* name;
    std::function<void()> start;
    const char* completion;
  } rows[] = {
      {"download", [&] { s.StartReceive(hostile, "local.txt"); }, "fileReceived"},
      {"delete", [&] { s.ftp.DeleteFile(hostile); }, "fileDeleted"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    s.log.Clear();
    row.start();
    ASSERT_TRUE(s.WaitFor(row.completion));
    EXPECT_EQ(s.log.Events(), (Lines{"ftpiCommandFailed:", "ready", row.completion}));
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_TRUE(s.ftp.Connected);
  }
  EXPECT_EQ(s.tree.ReadFile("local.txt"), "precious");
  s.ftp.SockClose();
  EXPECT_EQ(s.PeerFailure(), "");
  EXPECT_EQ(s.peer.Commands().back(), "LIST") << "a command was sent after the listing";
}

}  // namespace
}  // namespace talvo::test
