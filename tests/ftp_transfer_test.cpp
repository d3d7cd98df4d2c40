// Receives and stores against the scripted peer: the bytes written and sent, the size and
// progress reports, downloads cut short (the size known for them, the temporary file and
// its permissions, the part kept), refused commands that must leave the local file alone,
// the data connection arriving early or from a stranger, a reset data connection, and the
// bounded waits that end a transfer the server leaves hanging.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <ctime>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "ftp/FtpProbe.h"
#include "session/LocalErrors.h"
#include "session/PartMark.h"
#include "tests/support/DataSideSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;

// Counters are 64-bit, so that files of 2 GiB and more are counted right.
static_assert(std::is_same_v<decltype(TVelaFtp::BytesTransferred), std::int64_t>);
static_assert(std::is_same_v<decltype(TVelaFtp::TransferTime), std::int64_t>);

const std::string kAsciiText = "line one\r\nline two\nlone CR\rend";

struct ContentRow {
  const char* name;
  std::string content;
  TTransferType mode;
};

std::vector<ContentRow> ContentRows(const std::vector<std::size_t>& sizes) {
  std::vector<ContentRow> rows;
  for (const std::size_t size : sizes) rows.push_back({"", PatternBytes(size), BinaryTransfer});
  rows.push_back({"ascii: line ends untouched", kAsciiText, AsciiTransfer});
  return rows;
}

// Marks the file at `path` as this program's part of `origin`.
bool MarkPart(const std::string& path, const TPartOrigin& origin) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  TMarkPlace place = TMarkPlace::None;
  const bool marked = fd >= 0 && WritePartMark(fd, path, origin, place) == 0;
  if (fd >= 0) ::close(fd);
  return marked;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// ---- Receive ----

TEST(FtpTransferTest, ReceiveWritesExactlyTheBytesSent) {
  for (const ContentRow& row : ContentRows({0, 1, 2047, 2048, 2049, 4097})) {
    SCOPED_TRACE(std::to_string(row.content.size()) + " bytes " + row.name);
    const std::string size = std::to_string(row.content.size());
    DataSideSession s;
    s.UpToCommand(row.mode == AsciiTransfer ? "TYPE A" : "TYPE I", "RETR remote.bin")
        .Reply(RetrOpening("remote.bin", row.content.size()))
        .DataConnect()
        .DataSend(row.content)
        .DataClose()
        .Reply(kTransferComplete);
    ASSERT_TRUE(s.LogIn());
    s.ftp.TransferMode = row.mode;
    ASSERT_TRUE(s.Receive("remote.bin", "local.bin")) << ::testing::PrintToString(s.log.Events());

    EXPECT_EQ(s.tree.ReadFile("local.bin"), row.content);
    EXPECT_EQ(s.tree.FileSize("local.bin"), row.content.size());
    const mode_t umask = ::umask(0);
    ::umask(umask);
    EXPECT_EQ(ModeOf(s.tree.PathOf("local.bin")), 0666 & ~umask) << "not the mode of a new file";
    EXPECT_EQ(s.ftp.BytesTransferred, static_cast<std::int64_t>(row.content.size()));
    EXPECT_EQ(s.EventsWithoutProgress(),
              (Lines{"ftpiTransferSize:" + size, "ftpiTransferDone:Transfer done", "ready", "fileReceived"}));
    EXPECT_GE(s.log.CountPrefix("ftpiProgress:"), static_cast<int>((row.content.size() + 2047) / 2048));
    EXPECT_TRUE(s.ftp.Success);
    EXPECT_FALSE(s.ftp.Busy);
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

TEST(FtpTransferTest, TransferSizeComesFromTheBytesInParentheses) {
  const std::pair<std::string, Lines> rows[] = {
      {"150 Opening BINARY mode data connection for f (123456 bytes).\r\n", {"ftpiTransferSize:123456"}},
      {"150 Opening BINARY mode data connection for f.\r\n", {}},
      {"125 Data connection already open; transfer starting.\r\n", {}},
      {"150-Opening (4 bytes)\r\n150 Really (5 bytes)\r\n", {"ftpiTransferSize:5"}},
  };
  for (const auto& [opening, sizeEvents] : rows) {
    SCOPED_TRACE(opening);
    DataSideSession s;
    s.sizeReply = "213 5\r\n";  // the size known, whatever the 150 says
    s.RetrOpens("f", opening).DataSend("abcde").DataClose().Reply(kTransferComplete);
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.Receive("f", "f"));
    Lines expected = sizeEvents;
    expected.insert(expected.end(), {"ftpiTransferDone:Transfer done", "ready", "fileReceived"});
    EXPECT_EQ(s.EventsWithoutProgress(), expected);
    EXPECT_EQ(s.tree.ReadFile("f"), "abcde");
  }
}

// A refused download brings no data: an existing local file keeps its content, and a file
// the download would have created is not left behind. A server may reset the passive data
// connection it had accepted (closed or reset) before it says 550 (proftpd in clear): that
// too is a refusal.
TEST(FtpTransferTest, RefusedReceiveLeavesTheLocalFileAlone) {
  enum class DataEnd { None, Close, Reset };
  const struct {
    const char* name;
    bool existed;
    DataEnd passiveEnd;
  } rows[] = {{"local file existed", true, DataEnd::None},
              {"no local file", false, DataEnd::None},
              {"passive data connection closed before the refusal", false, DataEnd::Close},
              {"passive data connection reset before the refusal", true, DataEnd::Reset}};
  for (const auto& [name, existed, passiveEnd] : rows) {
    SCOPED_TRACE(name);
    DataSideSession s;
    s.passive = passiveEnd != DataEnd::None;
    ScriptedPeer& refused = s.UpToCommand("TYPE I", "RETR missing.txt");
    if (passiveEnd == DataEnd::Close) refused.DataClose().Pause(200);
    if (passiveEnd == DataEnd::Reset) refused.DataReset().Pause(200);
    refused.Reply("550 Failed to open file.\r\n");
    s.CwdNext();
    if (existed) {
      ASSERT_TRUE(s.tree.WriteFile("missing.txt", "precious"));
    }
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.Receive("missing.txt", "missing.txt"));

    EXPECT_EQ(s.log.Events(), (Lines{"ftpiCommandFailed:", "ready", "fileReceived"}));
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_EQ(s.tree.Exists("missing.txt"), existed);
    EXPECT_EQ(s.tree.ReadFile("missing.txt"), existed ? "precious" : "");
    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// 3000 bytes come and the server says 226: whole only when that is the size known for the
// file (SIZE's answer, else the 150's last count; none in ASCII mode, where servers count
// the file before its line ends are converted; in clear with none known, the 226 is all
// there is). Only a whole download replaces the local file, with the file's permissions;
// otherwise the file stays as it was and the part received (owner-only) is kept. A
// "f.part" this program did not write is neither continued, nor replaced, nor removed: the
// download's own part is "f~1.part".
TEST(FtpTransferTest, ADownloadReplacesTheLocalFileOnlyWhenItsSizeIsTheOneKnown) {
  const std::string kPlain150 = "150 Opening BINARY mode data connection for f.\r\n";
  const struct {
    const char* name;
    TTransferType mode;
    const char* sizeReply;
    std::string opening;
    bool whole;
  } rows[] = {
      {"SIZE says more", BinaryTransfer, "213 10000\r\n", kPlain150, false},
      {"SIZE refused, the 150 says more", BinaryTransfer, "550 No size.\r\n",
       "150 Opening BINARY mode data connection for f (1).txt (10000 bytes).\r\n", false},
      {"SIZE refused, the 150 says nothing", BinaryTransfer, "500 Unknown command.\r\n", kPlain150, true},
      {"ASCII: the 150's count is not compared", AsciiTransfer, "", RetrOpening("f", 2000), true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    s.sizeReply = row.sizeReply;
    s.UpToCommand(row.mode == AsciiTransfer ? "TYPE A" : "TYPE I", "RETR f").Reply(row.opening).DataConnect()
        .DataSendPattern(3000).DataClose().Reply(kTransferComplete);
    const std::string foreign(1000, 'p');
    ASSERT_TRUE(s.tree.WriteFile("f", "old") && s.tree.WriteFile("f.part", foreign));
    ASSERT_EQ(::chmod(s.tree.PathOf("f").c_str(), 0604), 0);
    ASSERT_TRUE(s.LogIn());
    s.ftp.TransferMode = row.mode;
    ASSERT_TRUE(s.Receive("f", "f"));

    EXPECT_EQ(s.ftp.Success, row.whole);
    EXPECT_EQ(s.log.Count("ftpeDownloadIncomplete:Error"), row.whole ? 0 : 1) << ::testing::PrintToString(s.log.Events());
    EXPECT_TRUE(s.tree.ReadFile(row.whole ? "f" : "f~1.part") == PatternBytes(3000));
    EXPECT_TRUE(s.tree.ReadFile("f") == (row.whole ? PatternBytes(3000) : "old"));
    EXPECT_EQ(ModeOf(s.tree.PathOf(row.whole ? "f" : "f~1.part")), row.whole ? 0604u : 0600u);
    EXPECT_EQ(s.tree.ReadFile("f.part"), foreign);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(s.tree.Path()), {}), row.whole ? 2 : 3);
    if (!row.whole) {
      EXPECT_EQ(s.ftp.LeftPath, s.tree.PathOf("f~1.part"));
    }
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// A part is continued (REST) only when this program began it for this same file, unchanged:
// the same server, port, user and path, the same size and time. Any other part of its own
// is begun again; a part it did not write is left as it is; a server that refuses REST
// sends the file from the start, and one that takes REST and sends the whole file all the
// same spoils the part, which goes.
TEST(FtpTransferTest, APartIsContinuedOnlyWhenItWasBegunForThisSameFileUnchanged) {
  constexpr std::int64_t kTime = 1767323045;  // 2026-01-02 03:04:05 UTC, as MDTM says below
  const struct {
    const char* name;
    bool marked;
    std::int64_t markedTime;
    std::uint16_t otherPort;  // 0: the peer's
    const char* restReply;    // nullptr: REST is not sent
    std::size_t from;         // where the data the server sends begin
    bool whole;
    const char* mdtmReply = "213 20260102030405\r\n";
    bool othersPart = false;  // the part belongs to another user
  } rows[] = {
      {"the same file, REST taken", true, kTime, 0, "350 Restarting at 1000.\r\n", 1000, true},
      {"the file changed since", true, kTime - 1, 0, nullptr, 0, true},
      {"another server's part", true, kTime, 1, nullptr, 0, true},
      {"not this program's part", false, kTime, 0, nullptr, 0, true},
      {"REST refused: from the start", true, kTime, 0, "502 No REST.\r\n", 0, true},
      {"REST taken but the whole file sent", true, kTime, 0, "350 Restarting at 1000.\r\n", 0, false},
      {"MDTM refused: the time unknown", true, kTime, 0, nullptr, 0, true, "502 No MDTM.\r\n"},
      {"another user's part", true, kTime, 0, nullptr, 0, true, "", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE f").Reply("213 3000\r\n");
    if (row.marked && !row.othersPart) s.peer.Expect("MDTM f").Reply(row.mdtmReply);
    s.peer.Expect("PORT ").Reply("200 ok\r\n");
    if (row.restReply != nullptr) s.peer.Expect("REST 1000").Reply(row.restReply);
    s.peer.Expect("RETR f").Reply(RetrOpening("f", 3000)).DataConnect().DataSend(PatternBytes(3000).substr(row.from));
    s.peer.DataClose().Reply(kTransferComplete);
    ASSERT_TRUE(s.tree.WriteFile("f", "old") && s.tree.WriteFile("f.part", PatternBytes(1000)));
    if (row.marked) {
      TPartOrigin origin{"127.0.0.1", row.otherPort != 0 ? row.otherPort : s.peer.Port(), "anna", "", "~/f",
                         3000, row.markedTime, "f"};
      ASSERT_TRUE(MarkPart(s.tree.PathOf("f.part"), origin));
      if (row.othersPart) {
        ASSERT_EQ(::chown(s.tree.PathOf("f.part").c_str(), 1, 1), 0);
      }
    }
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.Receive("f", "f"));

    EXPECT_EQ(s.ftp.Success, row.whole) << ::testing::PrintToString(s.log.Events());
    EXPECT_EQ(s.log.Count("ftpeResumeIgnored:Error"), row.whole ? 0 : 1) << "a message that says the part went";
    EXPECT_EQ(s.log.Count("ftpiResumed:1000"), row.restReply != nullptr && row.restReply[0] == '3' ? 1 : 0);
    EXPECT_EQ(s.ftp.BytesTransferred, static_cast<std::int64_t>(3000 - row.from));
    EXPECT_TRUE(s.tree.ReadFile("f") == (row.whole ? PatternBytes(3000) : "old"));
    const bool foreign = !row.marked || row.othersPart;
    EXPECT_EQ(s.tree.Exists("f.part"), foreign) << "a finished or spoilt part stays";
    if (foreign) {
      EXPECT_TRUE(s.tree.ReadFile("f.part") == PatternBytes(1000));
    }
    EXPECT_FALSE(s.tree.Exists("f~1.part"));
    if (!row.whole) {
      EXPECT_EQ(s.ftp.LeftOnDisk, TLeftOnDisk::Untouched);
    }
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// The facts of a listing hold for its folder only: after "ls", "cd sub", "get f", the
// time of the f listed in the first folder is not taken for sub/f's; MDTM asks it.
TEST(FtpTransferTest, TheFactsOfAnotherFoldersListingAreNeverTaken) {
  DataSideSession s(ScriptedPeer::MlsdLogin());
  s.ListingOpens(kPwdReply, "MLSD").DataSend("type=file;size=3000;modify=20250101000000; f\r\n").DataClose()
      .Reply(kTransferComplete);
  s.peer.Expect("CWD sub").Reply("250 ok\r\n");
  s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE f").Reply("213 3000\r\n").Expect("MDTM f")
      .Reply("213 20260102030405\r\n").Expect("PORT ").Reply("200 ok\r\n").Expect("REST 1000")
      .Reply("350 Restarting at 1000.\r\n").Expect("RETR f").Reply(RetrOpening("f", 2000)).DataConnect()
      .DataSend(PatternBytes(3000).substr(1000)).DataClose().Reply(kTransferComplete);
  ASSERT_TRUE(s.tree.WriteFile("f.part", PatternBytes(1000)));
  ASSERT_TRUE(MarkPart(s.tree.PathOf("f.part"),
                       {"127.0.0.1", s.peer.Port(), "anna", "/home/anna/sub/f", "", 3000, 1767323045, "f"}));
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.List());
  s.ftp.ChangeDirectory("sub");
  ASSERT_TRUE(s.WaitFor("directoryChanged"));
  ASSERT_TRUE(s.Receive("f", "f"));
  EXPECT_TRUE(s.ftp.Success) << ::testing::PrintToString(s.log.Events());
  EXPECT_TRUE(s.tree.ReadFile("f") == PatternBytes(3000));
  EXPECT_EQ(s.PeerFailure(), "");
}

// A name that leaves no room for the part's suffix (as a folder that takes no new file
// leaves none for the file): the download writes the target itself, as it always did.
TEST(FtpTransferTest, WhereNoPartCanBeMadeTheTargetIsWrittenInPlace) {
  const std::string name(252, 'n');
  DataSideSession s;
  s.RetrOpens(name, RetrOpening(name, 5000)).DataSendPattern(5000).DataClose().Reply(kTransferComplete);
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.Receive(name, name));
  EXPECT_TRUE(s.ftp.Success) << ::testing::PrintToString(s.log.Events());
  EXPECT_TRUE(s.tree.ReadFile(name) == PatternBytes(5000));
}

// A reset is a failure of the data connection, whether it cuts the data while they flow or
// comes while the client waits for more.
TEST(FtpTransferTest, ResetOfTheDataConnectionDuringAReceiveIsFatal) {
  const struct {
    const char* name;
    std::uint64_t size;
    int pause;
  } rows[] = {{"while data flow in", 1 << 20, 0}, {"while the client waits", 5000, 300}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    s.RetrOpens("big.bin", RetrOpening("big.bin", 4 << 20)).DataSendPattern(row.size).Pause(row.pause).DataReset();
    ASSERT_TRUE(s.LogIn());
    TFtpProbe(s.ftp).GuardTimes().FinalReply = 2;  // a reset taken for a normal end would wait this long
    s.StartReceive("big.bin", "big.bin");
    ASSERT_TRUE(s.WaitFor("quit")) << ::testing::PrintToString(s.EventsWithoutProgress());
    EXPECT_EQ(s.EventsWithoutProgress(), (Lines{"ftpiTransferSize:4194304", "ftpeDataConnection:Error", "quit"}));
    EXPECT_EQ(s.log.Count("fileReceived"), 0);
    EXPECT_FALSE(s.ftp.Connected);
    EXPECT_EQ(s.ftp.LastError, ftpeDataConnection);
  }
}

// ---- Store ----

TEST(FtpTransferTest, StoreSendsExactlyTheLocalFileAndClosesTheDataConnection) {
  for (const ContentRow& row : ContentRows({0, 1, 2048, 4096, 4097})) {
    const std::size_t size = row.content.size();
    SCOPED_TRACE(std::to_string(size) + " bytes " + row.name);
    DataSideSession s;
    s.UpToCommand(row.mode == AsciiTransfer ? "TYPE A" : "TYPE I", "STOR remote.bin")
        .Reply("150 Ok to send data.\r\n")
        .DataConnect()
        .DataReceive()
        .Reply(kTransferComplete);
    ASSERT_TRUE(s.tree.WriteFile("local.bin", row.content));
    ASSERT_TRUE(s.LogIn());
    s.ftp.TransferMode = row.mode;
    s.ftp.ResumedFrom = 1000;  // left by a continued download
    ASSERT_TRUE(s.Store("local.bin", "remote.bin")) << ::testing::PrintToString(s.log.Events());

    Lines expected = {"ftpiTransferSize:" + std::to_string(size)};
    expected.insert(expected.end(), (size + 2047) / 2048, "ftpiProgress:");  // one per block
    expected.insert(expected.end(), {"ftpiTransferDone:Transfer done", "ready", "fileStored"});
    EXPECT_EQ(s.log.Events(), expected);
    EXPECT_EQ(s.ftp.BytesTransferred, static_cast<std::int64_t>(size));
    EXPECT_EQ(s.ftp.ResumedFrom, 0) << "an upload counts nothing of an earlier download";
    EXPECT_TRUE(s.ftp.Success);
    EXPECT_EQ(s.PeerFailure(), "");
    const auto received = s.peer.DataReceived();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, row.content);
    EXPECT_FALSE(received[0].endedByReset);
    EXPECT_EQ(s.tree.ReadFile("local.bin"), row.content) << "the local file was changed";
  }
}

TEST(FtpTransferTest, RefusedStoreEndsWithSuccessFalse) {
  DataSideSession s;
  s.UpToCommand("TYPE I", "STOR remote.bin").Reply("553 Could not create file.\r\n");
  s.CwdNext();
  ASSERT_TRUE(s.tree.WriteFile("local.bin", "data"));
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.Store("local.bin", "remote.bin"));
  EXPECT_EQ(s.log.Events(), (Lines{"ftpiCommandFailed:", "ready", "fileStored"}));
  EXPECT_FALSE(s.ftp.Success);
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
}

TEST(FtpTransferTest, StoreOfAMissingLocalFileSendsNothing) {
  DataSideSession s;
  s.CwdNext();  // the next command the peer reads: nothing of the store came before it
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(s.Store("absent.bin", "remote.bin"));
  EXPECT_EQ(s.log.Events(), (Lines{"ftpeLocalFileOpen:" + s.tree.PathOf("absent.bin"), "ready", "fileStored"}));
  EXPECT_EQ(s.ftp.LocalError, ENOENT);
  EXPECT_FALSE(s.ftp.Success);
  s.ExpectCwdAnsweredByItsOwnReply();
  EXPECT_EQ(s.PeerFailure(), "");
}

// The local file changes during the store. Shrunk: the block that can no longer be read in
// full is a read failure, which says why; the operation ends with the server's final reply.
// Grown: only the bytes it held when the store began are sent, and the log says that the
// file changed while it was sent.
TEST(FtpTransferTest, ALocalFileThatChangesDuringAStoreIsSaidToHave) {
  for (const bool grows : {false, true}) {
    SCOPED_TRACE(grows ? "grows" : "shrinks");
    DataSideSession s;
    s.StorOpens("remote.bin").DataReceive().Reply(kTransferComplete);
    s.CwdNext();
    ASSERT_TRUE(s.tree.WritePatternFile("local.bin", 8192));
    const std::string path = s.tree.PathOf("local.bin");
    s.OnProgress([&path, grows] { ASSERT_EQ(::truncate(path.c_str(), grows ? 9000 : 3000), 0); });
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(s.Store("local.bin", "remote.bin")) << ::testing::PrintToString(s.log.Events());

    const Lines failed{"ftpiTransferSize:8192", "ftpeLocalFileRead:" + path, "ready", "fileStored"};
    const Lines changed{"ftpiTransferSize:8192", "ftpiLocalFileChanged:" + path, "ftpiTransferDone:Transfer done",
                        "ready", "fileStored"};
    EXPECT_EQ(s.EventsWithoutProgress(), grows ? changed : failed);
    EXPECT_GT(s.LineAt("fileStored"), s.ReceivedAt("226 Transfer complete"));
    EXPECT_EQ(s.ftp.Success, grows);
    if (!grows) {
      EXPECT_EQ(s.ftp.LocalError, kFileShrank);
    }
    const auto received = s.peer.DataReceived();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, PatternBytes(grows ? 8192 : 2048));
    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// ---- The data connection: early, from a stranger ----

// What a listing, a receive and a store look like to the peer after the PORT exchange, and
// how the client's result is checked.
struct Operation {
  const char* name;
  const char* type;
  const char* command;
  std::function<void(ScriptedPeer&)> afterCommand;  // from the reply to the command on
  std::function<bool(DataSideSession&)> run;
  std::function<void(DataSideSession&)> check;
};

const std::string kListingText = "-rw-r--r-- 1 ftp ftp 5 Jan 10 12:00 a.txt\r\n";

std::vector<Operation> Operations() {
  return {
      {"listing", "TYPE A", "LIST",
       [](ScriptedPeer& p) { p.Reply(kListingOpening).DataSend(kListingText).DataClose().Reply(kTransferComplete); },
       [](DataSideSession& s) { return s.List(); },
       [](DataSideSession& s) { EXPECT_EQ(s.ftp.FileNames, Lines{"a.txt"}); }},
      {"receive", "TYPE I", "RETR remote.bin",
       [](ScriptedPeer& p) {
         p.Reply(RetrOpening("remote.bin", 5000)).DataSendPattern(5000).DataClose().Reply(kTransferComplete);
       },
       [](DataSideSession& s) { return s.Receive("remote.bin", "local.bin"); },
       [](DataSideSession& s) { EXPECT_EQ(s.tree.ReadFile("local.bin"), PatternBytes(5000)); }},
      {"store", "TYPE I", "STOR remote.bin",
       [](ScriptedPeer& p) { p.Reply("150 Ok to send data.\r\n").DataReceive().Reply(kTransferComplete); },
       [](DataSideSession& s) {
         EXPECT_TRUE(s.tree.WritePatternFile("local.bin", 5000));
         return s.Store("local.bin", "remote.bin");
       },
       [](DataSideSession& s) {
         const auto received = s.peer.DataReceived();
         ASSERT_FALSE(received.empty());
         EXPECT_EQ(received.back().bytes, PatternBytes(5000));
       }},
  };
}

// Some servers connect while they answer PORT, before the client has sent the transfer
// command: that connection is the one the transfer uses.
TEST(FtpTransferTest, DataConnectionBeforeThePortReplyIsTaken) {
  for (const Operation& op : Operations()) {
    for (const int pause : {0, 300}) {
      SCOPED_TRACE(std::string(op.name) + ", pause " + std::to_string(pause) + " ms before the PORT reply");
      DataSideSession s;
      if (op.type == std::string("TYPE A")) s.peer.Expect("PWD").Reply(kPwdReply);
      s.peer.Expect(op.type).Reply("200 Switching mode.\r\n");
      if (op.name == std::string("receive")) s.peer.Expect("SIZE").Reply(s.sizeReply);
      s.peer.Expect("PORT ").DataConnect().Pause(pause);
      s.peer.Reply("200 PORT command successful.\r\n").Expect(op.command);
      op.afterCommand(s.peer);
      ASSERT_TRUE(s.LogIn());
      ASSERT_TRUE(op.run(s)) << ::testing::PrintToString(s.EventsWithoutProgress());
      op.check(s);
      EXPECT_TRUE(s.ftp.Success);
      EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
      EXPECT_EQ(s.PeerFailure(), "");
    }
  }
}

// Only the server may connect to the data port: a connection from another address is
// closed at once (the peer sees its end close without data) and the real one still works.
// Also on an IPv6 socket whose server is an IPv4-mapped address (the server is told PORT).
TEST(FtpTransferTest, DataConnectionFromAnotherAddressIsClosedAndTheServerStillConnects) {
  const std::pair<const char*, const char*> families[] = {{"127.0.0.1", "127.0.0.2"},
                                                          {"::ffff:127.0.0.1", "127.0.0.2"}};
  for (const auto& [server, stranger] : families) {
    for (const Operation& op : Operations()) {
      SCOPED_TRACE(std::string(op.name) + " from " + stranger);
      DataSideSession s;
      s.host = server;
      if (op.type == std::string("TYPE A")) s.peer.Expect("PWD").Reply(kPwdReply);
      s.UpToCommand(op.type, op.command).DataConnect(stranger).DataReceive().DataConnect();
      op.afterCommand(s.peer);
      ASSERT_TRUE(s.LogIn());
      ASSERT_TRUE(op.run(s)) << ::testing::PrintToString(s.EventsWithoutProgress());
      op.check(s);
      EXPECT_EQ(s.log.CountPrefix("ftpe"), 0);
      EXPECT_EQ(s.PeerFailure(), "");
      const auto received = s.peer.DataReceived();
      ASSERT_FALSE(received.empty());
      EXPECT_EQ(received[0].count, 0u) << "the stranger's connection got data";
    }
  }
}

// ---- Bounded waits ----

// A 426 that no abort explains, with nothing after it: the transfer failed, but the
// connection stays usable.
TEST(FtpTransferTest, Lone426EndsTheTransferAsFailedAndTheConnectionStays) {
  struct Row {
    const char* name;
    std::function<void(DataSideSession&)> script;
    std::function<void(DataSideSession&)> start;
    const char* completion;
  };
  const std::string k426 = "426 Connection closed; transfer aborted.\r\n";
  const std::vector<Row> rows = {
      {"receive, data closed first",
       [&](DataSideSession& s) {
         s.RetrOpens("f", RetrOpening("f", 10000)).DataSendPattern(3000).DataClose().Reply(k426);
       },
       [](DataSideSession& s) { s.StartReceive("f", "f"); }, "fileReceived"},
      {"receive, data left open",
       [&](DataSideSession& s) { s.RetrOpens("f", RetrOpening("f", 10000)).DataSendPattern(3000).Reply(k426); },
       [](DataSideSession& s) { s.StartReceive("f", "f"); }, "fileReceived"},
      {"store",
       [&](DataSideSession& s) { s.StorOpens("f").DataReceive().Reply(k426); },
       [](DataSideSession& s) {
         EXPECT_TRUE(s.tree.WritePatternFile("f", 3000));
         s.StartStore("f", "f");
       },
       "fileStored"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DataSideSession s;
    row.script(s);
    s.CwdNext();
    ASSERT_TRUE(s.LogIn());
    TFtpProbe(s.ftp).GuardTimes().Reply426 = 1;
    row.start(s);
    ASSERT_TRUE(s.WaitFor(row.completion)) << ::testing::PrintToString(s.EventsWithoutProgress());

    const Lines events = s.EventsWithoutProgress();
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(Lines(events.end() - 4, events.end()),
              (Lines{"ftpeDataConnection:Error", "ftpiCommandFailed:", "ready", row.completion}));
    EXPECT_EQ(s.log.CountPrefix("ftpe"), 1);
    EXPECT_FALSE(s.ftp.Success);
    EXPECT_TRUE(s.ftp.Connected);
    s.ExpectCwdAnsweredByItsOwnReply();
    EXPECT_EQ(s.PeerFailure(), "");
  }
}

// The peer's half of a listing, a receive and a store up to the transfer command's 150.
struct Opening {
  const char* name;
  std::function<ScriptedPeer&(DataSideSession&)> upTo150;  // the data connection not opened
  std::function<void(DataSideSession&)> start;
};

std::vector<Opening> Openings() {
  return {
      {"listing",
       [](DataSideSession& s) -> ScriptedPeer& {
         s.peer.Expect("PWD").Reply(kPwdReply);
         return s.UpToCommand("TYPE A", "LIST").Reply(kListingOpening);
       },
       [](DataSideSession& s) { s.ftp.GetListing(); }},
      {"receive",
       [](DataSideSession& s) -> ScriptedPeer& {
         return s.UpToCommand("TYPE I", "RETR f").Reply("150 Opening BINARY mode data connection for f.\r\n");
       },
       [](DataSideSession& s) { s.StartReceive("f", "f"); }},
      {"store",
       [](DataSideSession& s) -> ScriptedPeer& {
         return s.UpToCommand("TYPE I", "STOR f").Reply("150 Ok to send data.\r\n");
       },
       [](DataSideSession& s) { s.StartStore("f", "f"); }},
  };
}

TEST(FtpTransferTest, ServerThatNeverOpensTheDataConnectionTimesOut) {
  for (const Opening& op : Openings()) {
    SCOPED_TRACE(op.name);
    DataSideSession s;
    op.upTo150(s);
    ASSERT_TRUE(s.tree.WriteFile("f", "precious"));
    ASSERT_TRUE(s.LogIn());
    TFtpProbe(s.ftp).GuardTimes().DataConnect = 1;
    op.start(s);
    ASSERT_TRUE(s.WaitFor("quit"));
    EXPECT_EQ(s.log.Events(), (Lines{"ftpeTimeout:Error", "quit"}));
    EXPECT_FALSE(s.ftp.Connected);
    EXPECT_EQ(s.tree.ReadFile("f"), "precious");
  }
}

TEST(FtpTransferTest, FinalReplyThatNeverComesAfterTheDataTimesOut) {
  for (const Opening& op : Openings()) {
    SCOPED_TRACE(op.name);
    DataSideSession s;
    ScriptedPeer& peer = op.upTo150(s).DataConnect();
    if (op.name == std::string("store")) {
      peer.DataReceive();
    } else {
      peer.DataSend(kListingText).DataClose();
    }
    ASSERT_TRUE(s.tree.WriteFile("f", "abc"));
    ASSERT_TRUE(s.LogIn());
    TFtpProbe(s.ftp).GuardTimes().FinalReply = 1;
    op.start(s);
    ASSERT_TRUE(s.WaitFor("quit"));
    const Lines events = s.EventsWithoutProgress();
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(Lines(events.end() - 3, events.end()), (Lines{"ftpiTransferDone:Transfer done", "ftpeTimeout:Error", "quit"}));
    EXPECT_EQ(s.log.Count("ready"), 0);
    EXPECT_FALSE(s.ftp.Connected);
  }
}

}  // namespace
}  // namespace talvo::test
