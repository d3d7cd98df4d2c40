// The folder walk against the scripted peer, for the exact commands real servers cannot be
// made to ask for: a link that leads elsewhere (PWD names another place) and one that
// cannot be entered, names that would leave the local folder, the stop and an error in the
// middle of a walk, and MKD only where the server lists no such folder. Real servers are
// walked in cli_test and in the window's tests.
#include "session/FolderTransfer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "session/PartMark.h"
#include "session/WalkEvents.h"
#include "tests/support/DataSideSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Lines = std::vector<std::string>;
using Walk = TFolderTransfer;

std::string Pwd(const std::string& path) { return "257 \"" + path + "\" is the current directory\r\n"; }
std::string FileLine(const std::string& name, int size) {
  return "-rw-r--r-- 1 ftp ftp " + std::to_string(size) + " Jan 10 12:00 " + name + "\r\n";
}
std::string FolderLine(const std::string& name) { return "drwxr-xr-x 2 ftp ftp 4096 Jan 10 12:00 " + name + "\r\n"; }

class FolderTransferTest : public ::testing::Test {
 protected:
  explicit FolderTransferTest(const ScriptedPeer::LoginReplies& login = {}) : s(login) {
    PutWalkFirst(s.ftp, walk);
    s.ftp.OnFtpError = WalkFirst(walk, s.ftp.OnFtpError);
  }

  // A listing in the folder the server is in, answered with `lines`.
  void Listing(const std::string& pwd, const std::string& lines, const std::string& verb = "LIST") {
    s.ListingOpens(Pwd(pwd), verb).DataSend(lines).DataClose().Reply(kTransferComplete);
  }
  void Cwd(const std::string& path, bool accepted = true) {
    s.peer.Expect("CWD " + path).Reply(accepted ? "250 ok\r\n" : "550 no\r\n");
  }
  void Retr(const std::string& name, const std::string& bytes) {
    s.RetrOpens(name, RetrOpening(name, bytes.size())).DataSend(bytes).DataClose().Reply(kTransferComplete);
  }
  // The scan of "top" in /home/anna: two files.
  void ScanOfTwoFiles() {
    Listing("/home/anna", "");
    Cwd("top");
    Listing("/home/anna/top", FileLine("one", 3) + FileLine("two", 3));
  }
  bool RunUntil(Walk::Phase phase) {
    return s.WaitUntil([&] { return walk.phase() == phase || !s.ftp.Connected; });
  }
  bool Download() {
    walk.Start(Walk::Direction::Download, {{"top", s.tree.PathOf("top")}});
    if (!RunUntil(Walk::Phase::Scanned)) return false;
    walk.Go();
    return RunUntil(Walk::Phase::Done);
  }
  Lines Commands() const {
    Lines all = s.peer.Commands();
    Lines kept;
    std::copy_if(all.begin(), all.end(), std::back_inserter(kept),
                 [](const std::string& c) { return c.starts_with("CWD") || c.starts_with("RETR") || c.starts_with("MKD") ||
                                                   c.starts_with("STOR"); });
    return kept;
  }

  // The scan finds two files; "one" brings `bytes` (SIZE says 3). The walk must end after
  // it with `outcome`, back where it began, without asking for "two".
  void EndsAfterTheFirstFile(const std::string& bytes, bool stop, Walk::Outcome outcome) {
    s.sizeReply = "213 3\r\n";
    ScanOfTwoFiles();
    Retr("one", bytes);
    Cwd("/home/anna");
    if (stop) s.OnInfo(ftpiTransferSize, [this] { walk.Stop(); });  // "one" is under way
    ASSERT_TRUE(s.LogIn());
    ASSERT_TRUE(Download()) << ::testing::PrintToString(s.log.Lines());
    EXPECT_EQ(walk.outcome(), outcome);
    EXPECT_EQ(Commands(), (Lines{"CWD top", "RETR one", "CWD /home/anna"}));
    EXPECT_EQ(s.PeerFailure(), "");
  }

  DataSideSession s;
  Walk walk{s.ftp};
};

// A folder reached through a link lies elsewhere: the walk goes back up by the absolute
// paths PWD gave, never "CWD ..". A folder the server will not enter is fetched as a file
// (a link to one); a listed name with "/" is not written anywhere and is reported.
TEST_F(FolderTransferTest, DownloadComesBackByAbsolutePathsAndKeepsNamesInside) {
  Listing("/home/anna", "");
  Cwd("top");
  Listing("/home/anna/top", FileLine("../evil", 4) + FileLine("f", 1) + FolderLine("d") + FolderLine("link"));
  Cwd("d");
  Listing("/srv/elsewhere", FileLine("g", 1));
  Cwd("/home/anna/top");
  Cwd("link", false);
  Retr("f", "F");
  s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE link").Reply("550 no\r\n").Expect("PORT")
      .Reply("200 ok\r\n").Expect("RETR link").Reply("550 not a plain file\r\n");
  Cwd("/srv/elsewhere");
  Retr("g", "G");
  Cwd("/home/anna");
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(Download()) << ::testing::PrintToString(s.log.Lines());
  EXPECT_EQ(walk.outcome(), Walk::Outcome::Sent);
  EXPECT_EQ(walk.RefusedNames(), Lines{"../evil"});
  // What was not copied is named, each once.
  ASSERT_EQ(walk.Skipped().size(), 2u);
  EXPECT_EQ(walk.Skipped()[0].Path, "/home/anna/top/../evil");
  EXPECT_EQ(walk.Skipped()[0].Reason, Walk::SkipReason::NameLeaves);
  EXPECT_EQ(walk.Skipped()[1].Path, "/home/anna/top/link");
  EXPECT_EQ(walk.Skipped()[1].Reason, Walk::SkipReason::Failed);
  EXPECT_EQ(s.tree.ReadFile("top/f"), "F");
  EXPECT_EQ(s.tree.ReadFile("top/d/g"), "G");
  EXPECT_FALSE(s.tree.Exists("evil"));
  EXPECT_EQ(walk.FilesDone(), 3u);
  EXPECT_EQ(s.PeerFailure(), "");
}

class FolderTransferMlsdTest : public FolderTransferTest {
 protected:
  FolderTransferMlsdTest() : FolderTransferTest(ScriptedPeer::MlsdLogin()) {}
};

std::string Mlsd(const std::string& facts, const std::string& name) { return facts + " " + name + "\r\n"; }

// Each file is judged by the facts of its own folder's listing: a/data.bin continues its
// part (the server's size and time are those it was begun for) though z/data.bin, listed
// last, is another file. A folder that leads back to one of its parents (the same identity
// in the listing, or the same path from PWD) is skipped and named; the rest is copied.
TEST_F(FolderTransferMlsdTest, EachFileIsJudgedByItsOwnFactsAndLoopsAreSkipped) {
  Listing("/home/anna", Mlsd("type=dir;unique=T;", "top"), "MLSD");
  Cwd("top");
  Listing("/home/anna/top", Mlsd("type=dir;unique=A;", "a") + Mlsd("type=dir;unique=T;", "back") +
                                Mlsd("type=dir;unique=Z;", "z"), "MLSD");
  Cwd("a");
  Listing("/home/anna/top/a", Mlsd("type=file;size=3000;modify=20260102030405;", "data.bin") + Mlsd("type=dir;", "up"),
          "MLSD");
  Cwd("up");
  Listing("/home/anna/top", "", "MLSD");
  Cwd("z");
  Listing("/home/anna/top/z", Mlsd("type=file;size=3000;modify=20250101000000;", "data.bin"), "MLSD");
  Cwd("/home/anna/top/a");
  s.peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE data.bin").Reply("213 3000\r\n").Expect("PORT")
      .Reply("200 ok\r\n").Expect("REST 1000").Reply("350 Restarting.\r\n").Expect("RETR data.bin")
      .Reply(RetrOpening("data.bin", 2000)).DataConnect().DataSend(PatternBytes(3000).substr(1000)).DataClose()
      .Reply(kTransferComplete);
  Cwd("/home/anna/top/z");
  Retr("data.bin", "Z");
  Cwd("/home/anna");
  ASSERT_TRUE(s.tree.WriteFile("top/a/data.bin.part", PatternBytes(1000)));
  const int fd = ::open(s.tree.PathOf("top/a/data.bin.part").c_str(), O_RDWR | O_CLOEXEC);
  TMarkPlace place = TMarkPlace::None;
  ASSERT_EQ(WritePartMark(fd, s.tree.PathOf("top/a/data.bin.part"),
                          {"127.0.0.1", s.peer.Port(), "anna", "/home/anna/top/a/data.bin", "", 3000, 1767323045,
                           "data.bin"},
                          place),
            0);
  ::close(fd);
  std::vector<std::size_t> numbers;  // the running file's number as each file's size comes
  s.OnInfo(ftpiTransferSize, [&] { numbers.push_back(walk.RunningFileNumber()); });
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(Download()) << ::testing::PrintToString(s.log.Lines());
  EXPECT_EQ(walk.outcome(), Walk::Outcome::Sent);
  EXPECT_TRUE(s.tree.ReadFile("top/a/data.bin") == PatternBytes(3000));
  // The resumed file counts whole in the folder's bytes.
  EXPECT_EQ(walk.BytesDone(), 3001);
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), 1u);
  EXPECT_EQ(numbers.back(), 2u);
  EXPECT_EQ(s.tree.ReadFile("top/z/data.bin"), "Z");
  ASSERT_EQ(walk.Skipped().size(), 2u);
  EXPECT_EQ(walk.Skipped()[0].Path, "/home/anna/top/back");
  EXPECT_EQ(walk.Skipped()[1].Path, "/home/anna/top/a/up");
  for (const Walk::Skip& skip : walk.Skipped()) EXPECT_EQ(skip.Reason, Walk::SkipReason::Loop);
  EXPECT_EQ(s.PeerFailure(), "");
}

// The stop ends the walk once the running file has ended; an error ends it at once. Either
// way the server is put back where it was and no later file is asked for.
TEST_F(FolderTransferTest, StopEndsTheWalkAfterTheRunningFile) {
  EndsAfterTheFirstFile("111", true, Walk::Outcome::Stopped);
}

TEST_F(FolderTransferTest, AnErrorEndsTheWalk) {
  EndsAfterTheFirstFile("1", false, Walk::Outcome::Failed);
}

// A PWD reply that names no folder leaves the walk without its absolute paths: it ends
// there with one message, before any file is asked for, and goes back where it began.
TEST_F(FolderTransferTest, APwdThatNamesNoFolderEndsTheWalk) {
  Listing("/home/anna", "");
  Cwd("top");
  s.ListingOpens("257 the current directory\r\n").DataSend(FileLine("one", 3)).DataClose().Reply(kTransferComplete);
  Cwd("/home/anna");
  ASSERT_TRUE(s.LogIn());
  walk.Start(Walk::Direction::Download, {{"top", s.tree.PathOf("top")}});
  ASSERT_TRUE(s.WaitUntil([&] { return walk.phase() == Walk::Phase::Done || walk.phase() == Walk::Phase::Scanned; }));
  if (walk.phase() == Walk::Phase::Scanned) walk.Go();
  ASSERT_TRUE(RunUntil(Walk::Phase::Done));
  EXPECT_EQ(walk.outcome(), Walk::Outcome::FolderUnreadable);
  EXPECT_EQ(walk.Problem(), "top");
  EXPECT_EQ(Commands(), (Lines{"CWD top", "CWD /home/anna"}));
  EXPECT_EQ(s.PeerFailure(), "");
}

// A folder the server will not enter when its files' turn comes ends the walk: nothing is
// fetched from wherever the server stayed.
TEST_F(FolderTransferTest, AFolderRefusedWhenItsFilesComeEndsTheWalk) {
  Listing("/home/anna", "");
  Cwd("top");
  Listing("/home/anna/top", FileLine("one", 3) + FolderLine("d"));
  Cwd("d");
  Listing("/home/anna/top/d", FileLine("g", 1));
  Cwd("/home/anna/top", false);
  Cwd("/home/anna");
  ASSERT_TRUE(s.LogIn());
  ASSERT_TRUE(Download()) << ::testing::PrintToString(s.log.Lines());
  EXPECT_EQ(walk.outcome(), Walk::Outcome::FolderUnreadable);
  EXPECT_EQ(Commands(), (Lines{"CWD top", "CWD d", "CWD /home/anna/top", "CWD /home/anna"}));
  EXPECT_EQ(walk.FilesDone(), 0u);
  EXPECT_EQ(s.PeerFailure(), "");
}

// An upload makes a folder only where the server lists none of its name, and stores each
// file from inside its folder.
TEST_F(FolderTransferTest, UploadMakesOnlyTheMissingFolders) {
  ASSERT_TRUE(s.tree.WriteFile("top/a", "A"));
  ASSERT_TRUE(s.tree.WriteFile("top/sub/b", "B"));
  Listing("/home/anna", FolderLine("top"));
  Cwd("top");
  Listing("/home/anna/top", "");
  s.StorOpens("a").DataReceive().Reply(kTransferComplete);
  s.peer.Expect("MKD sub").Reply("257 \"/home/anna/top/sub\" created\r\n");
  Cwd("sub");
  Listing("/home/anna/top/sub", "");
  s.StorOpens("b").DataReceive().Reply(kTransferComplete);
  Cwd("/home/anna");
  ASSERT_TRUE(s.LogIn());
  walk.Start(Walk::Direction::Upload, {{"top", s.tree.PathOf("top")}});
  ASSERT_EQ(walk.phase(), Walk::Phase::Scanned);
  EXPECT_EQ(walk.KnownBytes(), 2);
  walk.Go();
  ASSERT_TRUE(RunUntil(Walk::Phase::Done)) << ::testing::PrintToString(s.log.Lines());
  EXPECT_EQ(walk.outcome(), Walk::Outcome::Sent);
  EXPECT_EQ(Commands(), (Lines{"CWD top", "STOR a", "MKD sub", "CWD sub", "STOR b", "CWD /home/anna"}));
  EXPECT_EQ(s.PeerFailure(), "");
  const auto received = s.peer.DataReceived();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].bytes, "B");
}

// An upload's scan follows links that stay inside the chosen folder, as a file manager
// shows them; a link that leads out of it (to ~/.ssh, say) is skipped and named, and so are a
// folder that leads back to one that holds it, a pipe and a link to nothing.
TEST_F(FolderTransferTest, AnUploadNeverLeavesTheChosenFolder) {
  ASSERT_TRUE(s.tree.WriteFile("secret/key", "K") && s.tree.WriteFile("top/a", "A") && s.tree.WriteFile("top/sub/b", "B"));
  ASSERT_TRUE(s.tree.MakeSymlink("top/docs", "../secret") && s.tree.MakeSymlink("top/key", "../secret/key") &&
              s.tree.MakeSymlink("top/alias", "sub") && s.tree.MakeSymlink("top/sub/loop", "..") &&
              s.tree.MakeSymlink("top/gone", "nowhere") && ::mkfifo(s.tree.PathOf("top/pipe").c_str(), 0600) == 0);
  walk.Start(Walk::Direction::Upload, {{"top", s.tree.PathOf("top")}});
  ASSERT_EQ(walk.phase(), Walk::Phase::Scanned);
  Lines sent;
  for (const Walk::File& file : walk.Files()) sent.push_back(file.Local.substr(s.tree.PathOf("top").size()));
  EXPECT_EQ(sent, (Lines{"/a", "/alias/b", "/sub/b"}));
  Lines skipped;
  for (const Walk::Skip& skip : walk.Skipped()) skipped.push_back(skip.Path.substr(s.tree.PathOf("top").size()));
  EXPECT_EQ(skipped, (Lines{"/docs", "/gone", "/key", "/pipe", "/alias/loop", "/sub/loop"}));

  // A tree really deeper than the bound is refused whole, by the local folder's name.
  std::string deep = "deep";
  for (int level = 0; level < Walk::kMaxDepth; ++level) deep += "/d";
  ASSERT_TRUE(s.tree.MakeDirectory(deep));
  walk.Start(Walk::Direction::Upload, {{"deep", s.tree.PathOf("deep")}});
  EXPECT_EQ(walk.outcome(), Walk::Outcome::TooDeep);
  EXPECT_EQ(walk.Problem(), s.tree.PathOf("deep"));
}

}  // namespace
}  // namespace talvo::test
