// The data side against real servers (pyftpdlib and vsftpd on loopback): a listing with
// every kind of entry, downloads and uploads of the sizes around the 2048-byte blocks in
// binary and ASCII, the size from the real 150 reply, a file of 2 GiB + 1 byte, and an
// abort in the middle of a large download and upload followed by a normal listing and
// transfer on the same connection (vsftpd also with async_abor_enable=YES).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ftp/FtpProbe.h"
#include "platform/MessageLoop.h"
#include "tests/support/LargeFiles.h"
#include "tests/support/RealServerSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;
using platform::MessageLoop;

constexpr std::uint64_t kMiB = 1ULL << 20;
// Around one and two 2048-byte blocks, and a large file.
constexpr std::uint64_t kTransferSizes[] = {0, 1, 2047, 2048, 2049, 4096, 4097, 10 * kMiB};

// The pattern without CR and LF bytes: what an ASCII transfer carries unchanged whatever
// the server does with line ends.
std::string TextPattern(std::size_t size) {
  std::string bytes = PatternBytes(size);
  std::replace(bytes.begin(), bytes.end(), '\n', 'N');
  std::replace(bytes.begin(), bytes.end(), '\r', 'R');
  return bytes;
}

class RealServerTransferTest : public RealServerSessionTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(local_.Valid());
    RealServerSessionTest::SetUp();
  }

  bool IsPyFtpd() const { return std::string(server_->Name()) == "pyftpdlib"; }

  void Download(const std::string& remote, const std::string& local, TTransferType mode,
                int timeoutMs = RealServerSession::kWaitMs) {
    ftp().TransferMode = mode;
    ftp().RemoteFile = remote;
    ftp().LocalFile = local_.PathOf(local);
    ASSERT_TRUE(session_->Run([this] { ftp().ReceiveFile(); }, "fileReceived", timeoutMs)) << Transcript();
  }
  void Upload(const std::string& local, const std::string& remote, TTransferType mode,
              int timeoutMs = RealServerSession::kWaitMs) {
    ftp().TransferMode = mode;
    ftp().LocalFile = local_.PathOf(local);
    ftp().RemoteFile = remote;
    ASSERT_TRUE(session_->Run([this] { ftp().StoreFile(); }, "fileStored", timeoutMs)) << Transcript();
  }

  // Every size around the block size, then a large one, one after another on one
  // connection, each compared byte for byte.
  void TransferEverySize(bool upload, TTransferType mode) {
    LogIn();
    for (const std::uint64_t size : kTransferSizes) {
      SCOPED_TRACE(size);
      const std::string name = "file-" + std::to_string(size) + (mode == AsciiTransfer ? ".txt" : ".bin");
      const std::string content = mode == AsciiTransfer ? TextPattern(size) : PatternBytes(size);
      if (upload) {
        ASSERT_TRUE(local_.WriteFile(name, content));
        Upload(name, name, mode);
        EXPECT_TRUE(SameBytes(root().ReadFile(name), content));
      } else {
        ASSERT_TRUE(root().WriteFile(name, content));
        Download(name, name, mode);
        EXPECT_EQ(local_.FileSize(name), size);
        EXPECT_TRUE(SameBytes(local_.ReadFile(name), content));
      }
      EXPECT_TRUE(ftp().Success);
      EXPECT_EQ(ftp().BytesTransferred, static_cast<std::int64_t>(size));
      EXPECT_TRUE(ftp().Connected);
    }
    EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
    EXPECT_EQ(log().Count("ftpiCommandFailed:"), 0) << Transcript();
  }

  TempTree local_{"local"};
};

TEST_P(RealServerTransferTest, ListsFilesDirectoriesALinkAndNamesWithBlanks) {
  ASSERT_TRUE(root().WriteFile("alpha.txt", "alpha"));
  ASSERT_TRUE(root().WriteFile("name with blank.txt", "blank"));
  ASSERT_TRUE(root().WriteFile("subdir/inner.txt", "inner"));
  ASSERT_TRUE(root().MakeDirectory("dir with blank"));
  ASSERT_TRUE(root().MakeSymlink("link", "subdir"));
  LogIn();
  Listing();
  EXPECT_EQ(ftp().InitialDirectory, "/");
  EXPECT_EQ(ftp().ListingLines.size(), 5u) << Transcript();
  // Names with blanks are whole; a symbolic link is offered as a directory. pyftpdlib lists
  // by MLSD (a link as the folder it points to), vsftpd by LIST.
  EXPECT_EQ(TFtpProbe(ftp()).MachineListing(), IsPyFtpd());
  Lines files = ftp().FileNames;
  Lines directories = ftp().DirectoryNames;
  std::sort(files.begin(), files.end());
  std::sort(directories.begin(), directories.end());
  EXPECT_EQ(files, (Lines{"alpha.txt", "name with blank.txt"})) << Transcript();
  EXPECT_EQ(directories, (Lines{"dir with blank", "link", "subdir"})) << Transcript();
  const std::string linkEnd = IsPyFtpd() ? "; link" : " link -> subdir";
  const auto linkLine = std::find_if(ftp().ListingLines.begin(), ftp().ListingLines.end(),
                                     [&](const std::string& l) { return l.ends_with(linkEnd); });
  ASSERT_NE(linkLine, ftp().ListingLines.end()) << Transcript();
  if (!IsPyFtpd()) {
    EXPECT_EQ(linkLine->front(), 'l');
  }
  EXPECT_EQ(log().Count("ftpiListingReady:Listing ready"), 1);
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

TEST_P(RealServerTransferTest, DownloadsEverySizeWholeInBinary) { TransferEverySize(false, BinaryTransfer); }
TEST_P(RealServerTransferTest, DownloadsEverySizeWholeInAscii) { TransferEverySize(false, AsciiTransfer); }
TEST_P(RealServerTransferTest, UploadsEverySizeWholeInBinary) { TransferEverySize(true, BinaryTransfer); }
TEST_P(RealServerTransferTest, UploadsEverySizeWholeInAscii) { TransferEverySize(true, AsciiTransfer); }

// The client never converts line ends: in ASCII mode what arrives is what the server
// made of the file (pyftpdlib converts; vsftpd by default sends ASCII as binary).
TEST_P(RealServerTransferTest, LeavesLineEndsToTheServerInAscii) {
  ASSERT_TRUE(root().WriteFile("lines.txt", "one\ntwo\r\nthree\n"));
  ASSERT_TRUE(local_.WriteFile("up.txt", "a\r\nb\nc\r\n"));
  LogIn();
  Download("lines.txt", "lines.txt", AsciiTransfer);
  EXPECT_EQ(local_.ReadFile("lines.txt"), IsPyFtpd() ? "one\r\ntwo\r\nthree\r\n" : "one\ntwo\r\nthree\n");
  Upload("up.txt", "up.txt", AsciiTransfer);
  EXPECT_EQ(root().ReadFile("up.txt"), IsPyFtpd() ? "a\nb\nc\n" : "a\r\nb\nc\r\n");
  Download("lines.txt", "lines.bin", BinaryTransfer);
  EXPECT_EQ(local_.ReadFile("lines.bin"), "one\ntwo\r\nthree\n");
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

TEST_P(RealServerTransferTest, ReportsTheSizeAnnouncedByThe150Reply) {
  ASSERT_TRUE(root().WritePatternFile("sized.bin", 12345));
  LogIn();
  for (const TTransferType mode : {BinaryTransfer, AsciiTransfer}) {
    SCOPED_TRACE(mode == BinaryTransfer ? "binary" : "ascii");
    const std::size_t mark = log().Lines().size();
    const int sizesBefore = log().CountPrefix("ftpiTransferSize:");
    Download("sized.bin", "sized.bin", mode);
    const Lines replies = session_->RepliesSince(mark);
    const auto opening = std::find_if(replies.begin(), replies.end(), [](const std::string& r) { return r[0] == '1'; });
    ASSERT_NE(opening, replies.end()) << Transcript();
    if (IsPyFtpd()) {
      // pyftpdlib announces no size: nothing to report. It says "125 Data connection
      // already open" when it has the data connection by then (it connected while it
      // answered PORT, or took the passive one first), otherwise "150 File status okay".
      EXPECT_TRUE(opening->starts_with("125 ") || opening->starts_with("150 File status okay")) << *opening;
      EXPECT_EQ(opening->find('('), std::string::npos) << *opening;
      EXPECT_EQ(log().CountPrefix("ftpiTransferSize:"), sizesBefore);
    } else {
      // ("BINARY" also in ASCII mode, which vsftpd serves as binary by default.)
      EXPECT_TRUE(opening->starts_with("150 Opening ")) << *opening;
      EXPECT_TRUE(opening->ends_with(" mode data connection for sized.bin (12345 bytes).")) << *opening;
      EXPECT_EQ(log().CountPrefix("ftpiTransferSize:"), sizesBefore + 1);
      EXPECT_EQ(log().Count("ftpiTransferSize:12345"), sizesBefore + 1);
    }
  }
}

// The local file is replaced only by a download that brings it: a refused one (pyftpdlib
// opens the data connection before RETR is even sent) leaves it byte for byte, an empty
// remote file empties it, a normal one replaces it.
TEST_P(RealServerTransferTest, LocalFileIsReplacedOnlyByADownloadThatBringsIt) {
  const std::string old = "local text that must survive\r\n";
  ASSERT_TRUE(root().WriteFile("empty.bin", ""));
  ASSERT_TRUE(root().WriteFile("short.bin", "new"));
  LogIn();
  const struct {
    const char* remote;
    bool success;
    std::string after;
  } rows[] = {{"no-such-file", false, old}, {"empty.bin", true, ""}, {"short.bin", true, "new"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.remote);
    ASSERT_TRUE(local_.WriteFile("keep", old));
    const int refusals = log().Count("ftpiCommandFailed:");
    Download(row.remote, "keep", BinaryTransfer);
    EXPECT_EQ(ftp().Success, row.success) << Transcript();
    EXPECT_EQ(log().Count("ftpiCommandFailed:"), refusals + (row.success ? 0 : 1));
    EXPECT_EQ(local_.ReadFile("keep"), row.after);
    EXPECT_TRUE(ftp().Connected);
  }
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

// The whole matrix also against servers that refuse active mode, the client in automatic
// mode as the window and the console tool are, over TLS in both modes, and over IPv6.
INSTANTIATE_TEST_SUITE_P(Servers, RealServerTransferTest,
                         ::testing::Values(PyFtpdKind(), VsftpdKind(), PyFtpdPortRefusedKind(), VsftpdPortRefusedKind(),
                                           VsftpdTlsKind(), VsftpdTlsPassiveKind(), PyFtpdTlsKind(),
                                           PyFtpdTlsPassiveKind(), PyFtpdIpv6Kind(), PyFtpdIpv6PassiveKind(),
                                           VsftpdIpv6Kind(), VsftpdIpv6PassiveKind(), VsftpdTlsIpv6Kind()),
                         ServerKindName);

// --- 2 GiB + 1 byte ---

// Each in its own test, so that they can run beside the rest. Filter them out by name
// ("TwoGiB") where they are too slow.
using RealServerTwoGiBTest = RealServerTransferTest;

TEST_P(RealServerTwoGiBTest, DownloadsTwoGiBAndOneByteWhole) {
  ASSERT_TRUE(WriteMarkedSparseFile(root(), "huge.bin"));
  LogIn();
  Download("huge.bin", "huge.bin", BinaryTransfer, kTwoGiBWaitMs);
  EXPECT_TRUE(ftp().Success);
  EXPECT_EQ(ftp().BytesTransferred, static_cast<std::int64_t>(kTwoGiBPlusOne));
  EXPECT_EQ(local_.FileSize("huge.bin"), kTwoGiBPlusOne);
  ExpectMarkedSparseFile(local_.PathOf("huge.bin"));
  if (!IsPyFtpd()) {
    EXPECT_EQ(log().Count("ftpiTransferSize:2147483649"), 1);
  }
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

TEST_P(RealServerTwoGiBTest, UploadsTwoGiBAndOneByteWhole) {
  ASSERT_TRUE(WriteMarkedSparseFile(local_, "huge.bin"));
  LogIn();
  Upload("huge.bin", "huge.bin", BinaryTransfer, kTwoGiBWaitMs);
  EXPECT_TRUE(ftp().Success);
  EXPECT_EQ(ftp().BytesTransferred, static_cast<std::int64_t>(kTwoGiBPlusOne));
  EXPECT_EQ(log().Count("ftpiTransferSize:2147483649"), 1);
  EXPECT_EQ(root().FileSize("huge.bin"), kTwoGiBPlusOne);
  ExpectMarkedSparseFile(root().PathOf("huge.bin"));
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTwoGiBTest,
                         ::testing::Values(PyFtpdKind(), VsftpdKind(), VsftpdPortRefusedKind(), VsftpdTlsPassiveKind()),
                         ServerKindName);

// --- Abort ---

// Large enough that no server can have sent (or taken) it all when the abort comes: the
// pattern for the first 16 MiB, then a sparse tail.
constexpr std::uint64_t kLargeSize = 200 * kMiB;
constexpr std::uint64_t kPatternHead = 16 * kMiB;
constexpr std::int64_t kAbortAfter = 4 * kMiB;
constexpr int kAbortEndWaitMs = 20000;
constexpr auto kAbortEndsWithin = std::chrono::seconds(10);  // well before the 15 s guard
constexpr std::size_t kSmallSize = 100000;

bool WriteLargeFile(TempTree& tree, const std::string& name) {
  return tree.WritePatternFile(name, kPatternHead) && ::truncate(tree.PathOf(name).c_str(), kLargeSize) == 0;
}

// The part of a large file that a stopped transfer left: its pattern head must be intact.
void ExpectPatternPrefix(const std::string& path, std::uint64_t size) {
  const std::uint64_t head = std::min(size, kPatternHead);
  EXPECT_TRUE(SameBytes(ReadAt(path, 0, head), PatternBytes(head)));
}

enum class AbortFrom { ProgressHandler, PostedTask };

struct AbortWay {
  const char* name;
  AbortFrom from;
};
const AbortWay kAbortWays[] = {{"abort from the progress handler", AbortFrom::ProgressHandler},
                               {"abort from a posted task (the stop button)", AbortFrom::PostedTask}};

class RealServerAbortTest : public RealServerTransferTest {
 protected:
  // Starts a transfer, calls Abort once a few MiB have moved, and runs the loop until the
  // operation's completion event. Logs the replies that came after the abort.
  void RunAborted(const std::function<void()>& start, const std::string& completion, const AbortWay& way) {
    bool abortCalled = false;
    std::chrono::steady_clock::time_point abortAt;
    std::size_t mark = 0;
    session_->OnProgress = [&] {
      if (abortCalled || ftp().BytesTransferred < kAbortAfter) return;
      abortCalled = true;
      abortAt = std::chrono::steady_clock::now();
      mark = log().Lines().size();
      if (way.from == AbortFrom::ProgressHandler) {
        ftp().Abort();
      } else {
        MessageLoop::Current().PostTask([this] { ftp().Abort(); });
      }
    };
    const int before = log().Count(completion);
    const int quitsBefore = log().Count("quit");
    const auto ended = [&] { return log().Count(completion) > before || log().Count("quit") > quitsBefore; };
    start();
    MessageLoop::Current().RunUntil([&] { return abortCalled || ended(); }, RealServerSession::kWaitMs);
    ASSERT_TRUE(abortCalled) << "the transfer ended before the abort\n" << Transcript();
    MessageLoop::Current().RunUntil(ended, kAbortEndWaitMs);
    session_->OnProgress = nullptr;
    const auto took = std::chrono::steady_clock::now() - abortAt;

    std::string replies;
    for (const std::string& reply : session_->RepliesSince(mark)) replies += (replies.empty() ? "" : " | ") + reply;
    std::cout << "[  ABORT   ] " << GetParam().name << ", " << completion << ", " << way.name << ": " << replies
              << " (" << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms, "
              << ftp().BytesTransferred << " bytes)\n";

    ASSERT_EQ(log().Count(completion), before + 1) << Transcript();
    EXPECT_LT(took, kAbortEndsWithin) << replies;
    // Neither the abort guard nor anything else raised an error; the connection stays.
    Lines errors;
    for (std::size_t i = mark; i < log().Lines().size(); ++i) {
      if (log().Lines()[i].starts_with("ftpe")) errors.push_back(log().Lines()[i]);
    }
    EXPECT_EQ(errors, Lines{}) << replies;
    EXPECT_TRUE(ftp().Connected);
    EXPECT_FALSE(ftp().Busy);
    EXPECT_GE(ftp().BytesTransferred, kAbortAfter);
    EXPECT_LT(ftp().BytesTransferred, static_cast<std::int64_t>(kLargeSize));
  }

  // After an abort the same connection lists and transfers normally.
  // (A reply owed to ABOR taken for PWD's would show in the directory.)
  void ExpectListingFinds(const std::string& name) {
    Listing();
    EXPECT_EQ(ftp().InitialDirectory, "/");
    EXPECT_NE(std::find(ftp().FileNames.begin(), ftp().FileNames.end(), name), ftp().FileNames.end())
        << name << "\n" << Transcript();
    EXPECT_EQ(ftp().ListingLines.size(), ftp().FileNames.size() + ftp().DirectoryNames.size());
  }
};

TEST_P(RealServerAbortTest, StopsALargeDownloadThenListsAndDownloads) {
  ASSERT_TRUE(WriteLargeFile(root(), "large.bin"));
  ASSERT_TRUE(root().WritePatternFile("small.bin", kSmallSize));
  LogIn();
  int round = 0;
  for (const AbortWay& way : kAbortWays) {
    SCOPED_TRACE(way.name);
    const std::string local = "large-" + std::to_string(++round) + ".bin";
    ftp().TransferMode = BinaryTransfer;
    ftp().RemoteFile = "large.bin";
    ftp().LocalFile = local_.PathOf(local);
    RunAborted([this] { ftp().ReceiveFile(); }, "fileReceived", way);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(ftp().Success) << "a stopped receive did not get the whole file";
    // No local file; what was counted is in its part, and it is the file's beginning.
    EXPECT_FALSE(local_.Exists(local));
    EXPECT_EQ(local_.FileSize(local + ".part"), static_cast<std::uint64_t>(ftp().BytesTransferred));
    ExpectPatternPrefix(local_.PathOf(local + ".part"), local_.FileSize(local + ".part").value_or(0));

    ExpectListingFinds("large.bin");
    const std::string small = "small-" + std::to_string(round) + ".bin";
    Download("small.bin", small, BinaryTransfer);
    EXPECT_TRUE(ftp().Success);
    EXPECT_EQ(ftp().BytesTransferred, static_cast<std::int64_t>(kSmallSize));
    EXPECT_TRUE(SameBytes(local_.ReadFile(small), PatternBytes(kSmallSize)));
  }
  // The first stopped download goes on from its part: only the rest comes, whole.
  const std::int64_t part = static_cast<std::int64_t>(local_.FileSize("large-1.bin.part").value_or(0));
  Download("large.bin", "large-1.bin", BinaryTransfer);
  EXPECT_TRUE(ftp().Success) << Transcript();
  EXPECT_EQ(log().Count("ftpiResumed:" + std::to_string(part)), 1);
  EXPECT_EQ(ftp().BytesTransferred, static_cast<std::int64_t>(kLargeSize) - part);
  EXPECT_FALSE(local_.Exists("large-1.bin.part"));
  EXPECT_EQ(local_.FileSize("large-1.bin"), kLargeSize);
  ExpectPatternPrefix(local_.PathOf("large-1.bin"), kLargeSize);
  EXPECT_TRUE(SameBytes(ReadAt(local_.PathOf("large-1.bin"), kPatternHead, kLargeSize - kPatternHead),
                        std::string(kLargeSize - kPatternHead, '\0')));
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

TEST_P(RealServerAbortTest, StopsALargeUploadThenListsAndUploads) {
  ASSERT_TRUE(WriteLargeFile(local_, "large.bin"));
  ASSERT_TRUE(local_.WritePatternFile("small.bin", kSmallSize));
  LogIn();
  int round = 0;
  for (const AbortWay& way : kAbortWays) {
    SCOPED_TRACE(way.name);
    const std::string remote = "aborted-" + std::to_string(++round) + ".bin";
    ftp().TransferMode = BinaryTransfer;
    ftp().LocalFile = local_.PathOf("large.bin");
    ftp().RemoteFile = remote;
    RunAborted([this] { ftp().StoreFile(); }, "fileStored", way);
    if (HasFatalFailure()) return;
    EXPECT_FALSE(ftp().Success) << "a stopped store did not send the whole file";
    // The server keeps what reached it: at most what was sent, and the file's beginning.
    const std::uint64_t stored = root().FileSize(remote).value_or(0);
    EXPECT_LE(stored, static_cast<std::uint64_t>(ftp().BytesTransferred));
    ExpectPatternPrefix(root().PathOf(remote), stored);

    ExpectListingFinds(remote);
    const std::string small = "small-" + std::to_string(round) + ".bin";
    Upload("small.bin", small, BinaryTransfer);
    EXPECT_TRUE(ftp().Success);
    EXPECT_EQ(ftp().BytesTransferred, static_cast<std::int64_t>(kSmallSize));
    EXPECT_TRUE(SameBytes(root().ReadFile(small), PatternBytes(kSmallSize)));
  }
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
}

// A small file stopped as its data connection opens: the store fails (the server did not
// get it whole) and the connection goes on. (pyftpdlib then sometimes answers ABOR alone
// and never STOR: the stop ends through the NOOP resynchronisation.)
TEST_P(RealServerAbortTest, SmallUploadStoppedAtOnceFails) {
  ASSERT_TRUE(local_.WritePatternFile("small.bin", 1000));
  LogIn();
  ftp().TransferMode = BinaryTransfer;
  ftp().LocalFile = local_.PathOf("small.bin");
  ftp().RemoteFile = "stopped.bin";
  const TFtpInfoEvent logged = ftp().OnFtpInfo;
  ftp().OnFtpInfo = [&](TObject* sender, FtpInfo info, std::string addinfo) {
    logged(sender, info, addinfo);
    if (info == ftpiTransferSize) MessageLoop::Current().PostTask([this] { ftp().Abort(); });
  };
  ASSERT_TRUE(session_->Run([this] { ftp().StoreFile(); }, "fileStored")) << Transcript();
  ftp().OnFtpInfo = logged;
  EXPECT_FALSE(ftp().Success) << Transcript();
  EXPECT_TRUE(ftp().Connected);
  EXPECT_EQ(log().CountPrefix("ftpe"), 0) << Transcript();
  EXPECT_LT(root().FileSize("stopped.bin").value_or(0), 1000u);
  ExpectListingFinds("stopped.bin");
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerAbortTest,
                         ::testing::Values(PyFtpdKind(), VsftpdKind(), VsftpdAsyncAborKind(), PyFtpdPassiveKind(),
                                           VsftpdPassiveKind(), VsftpdTlsKind(), PyFtpdTlsPassiveKind(),
                                           VsftpdIpv6Kind(), PyFtpdIpv6PassiveKind()),
                         ServerKindName);

// A server that takes an upload slowly: the count follows what reached it, not what the
// socket's queue swallowed, and the file counts as stored, its time ended, at the server's
// final reply.
TEST(RealServerSlowUploadTest, CountsWhatTheServerTookUntilItsFinalReply) {
  PyFtpdServer server;
  server.Throttle(1 << 20);
  ASSERT_TRUE(server.Start()) << server.Error();
  TempTree local{"local"};
  constexpr std::int64_t kSize = 3 << 20;
  ASSERT_TRUE(local.WritePatternFile("slow.bin", kSize));
  RealServerSession session(server);
  ASSERT_TRUE(session.LogIn(server.User(), server.Password())) << session.Transcript();
  std::int64_t atDataEnd = -1, timeAtDataEnd = -1;
  const TFtpInfoEvent logged = session.ftp.OnFtpInfo;
  session.ftp.OnFtpInfo = [&](TObject* sender, FtpInfo info, const std::string& addinfo) {
    if (info == ftpiTransferDone) {
      atDataEnd = session.ftp.BytesTransferred;
      timeAtDataEnd = session.ftp.TransferTime;
    }
    logged(sender, info, addinfo);
  };
  session.ftp.LocalFile = local.PathOf("slow.bin");
  session.ftp.RemoteFile = "slow.bin";
  ASSERT_TRUE(session.Run([&] { session.ftp.StoreFile(); }, "fileStored")) << session.Transcript();
  EXPECT_TRUE(session.ftp.Success);
  EXPECT_GT(atDataEnd, 0);
  EXPECT_LT(atDataEnd, kSize) << "the socket's queue was counted as the server's";
  EXPECT_EQ(session.ftp.BytesTransferred, kSize);
  EXPECT_GT(session.ftp.TransferTime, timeAtDataEnd) << "the time ended before the server's reply";
  EXPECT_EQ(server.Root().FileSize("slow.bin"), static_cast<std::uint64_t>(kSize));
}

}  // namespace
}  // namespace talvo::test
