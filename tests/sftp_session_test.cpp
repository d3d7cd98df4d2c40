// The SFTP component against a real OpenSSH sshd (SshdServer.h): listings from attributes
// with hostile names and links, transfers both ways byte for byte (2 GiB and one byte
// among them), resume, stop and go on, folders, host keys unknown, known, hashed and
// changed, the ways to log in and a refused login, the user's SSH configuration, and the
// folder walk over SFTP.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "platform/MessageLoop.h"
#include "session/FolderTransfer.h"
#include "tests/support/FolderTrees.h"
#include "tests/support/LargeFiles.h"
#include "tests/support/SftpTestSession.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Names = std::vector<std::string>;

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The fingerprint of a public key file as ssh-keygen prints it ("256 SHA256:... (ED25519)").
std::string KeygenFingerprint(const std::string& publicKey) {
  std::string output, error;
  RunCommand({"/usr/bin/ssh-keygen", "-l", "-f", publicKey}, "/dev/null", Millis(10000), &output, error);
  const std::size_t start = output.find("SHA256:");
  return start == std::string::npos ? output : output.substr(start, output.find(' ', start) - start);
}

class SftpSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start()) << server_.Error(); }

  void LogIn(SftpTestSession& s) { ASSERT_TRUE(s.LogIn()) << s.Transcript(); }
  bool Download(SftpTestSession& s, const std::string& remote, const std::string& local, int waitMs = 30000) {
    s.sftp.RemoteFile = remote;
    s.sftp.LocalFile = s.local.PathOf(local);
    return s.Run([&] { s.sftp.ReceiveFile(); }, "fileReceived", waitMs);
  }
  bool Upload(SftpTestSession& s, const std::string& local, const std::string& remote, int waitMs = 30000) {
    s.sftp.LocalFile = s.local.PathOf(local);
    s.sftp.RemoteFile = remote;
    return s.Run([&] { s.sftp.StoreFile(); }, "fileStored", waitMs);
  }
  bool List(SftpTestSession& s) {
    return s.Run([&] { s.sftp.GetListing(); }, "listingDone");
  }
  // A request the server refuses fails alone: ftpiCommandFailed, Success false, the session
  // goes on.
  void ExpectRefused(SftpTestSession& s, const std::function<void()>& request, const std::string& completion) {
    const int failed = s.log.Count("ftpiCommandFailed:");
    ASSERT_TRUE(s.Run(request, completion)) << s.Transcript();
    EXPECT_FALSE(s.sftp.Success);
    EXPECT_EQ(s.log.Count("ftpiCommandFailed:"), failed + 1) << s.Transcript();
    EXPECT_TRUE(s.sftp.Connected);
  }

  SshdServer server_;
};

// Names are taken as the server sends them, blanks, accents, control bytes and bytes that
// are not UTF-8 included; folders and files are told apart by their attributes, links by
// asking where they lead.
TEST_F(SftpSessionTest, ListsFromAttributesWithAnyNameAndResolvedLinks) {
  TempTree& root = server_.Root();
  ASSERT_TRUE(root.MakeDirectory("dossier à part"));
  ASSERT_TRUE(root.WriteFile("  deux  blancs  ", "12"));
  ASSERT_TRUE(root.WriteFile("é\x01\x1b[31m\xff.txt", "12345"));
  ASSERT_TRUE(root.MakeSymlink("lien dossier", "dossier à part"));
  ASSERT_TRUE(root.MakeSymlink("lien fichier", "  deux  blancs  "));
  ASSERT_TRUE(root.MakeSymlink("lien mort", "nulle part"));
  SftpTestSession s(server_);
  LogIn(s);
  ASSERT_TRUE(List(s)) << s.Transcript();
  EXPECT_EQ(s.sftp.InitialDirectory, root.Path());
  EXPECT_EQ(Sorted(s.sftp.DirectoryNames), (Names{"dossier à part", "lien dossier"}));
  EXPECT_EQ(Sorted(s.sftp.FileNames),
            (Names{"  deux  blancs  ", "lien fichier", "lien mort", "é\x01\x1b[31m\xff.txt"}));
  ASSERT_NE(s.sftp.FactsOf("lien fichier"), nullptr);
  EXPECT_EQ(s.sftp.FactsOf("lien fichier")->Size, 2);
  EXPECT_EQ(s.sftp.FactsOf("lien mort")->Size, -1);
  EXPECT_EQ(s.sftp.FactsOf("é\x01\x1b[31m\xff.txt")->Size, 5);
  EXPECT_GT(s.sftp.FactsOf("é\x01\x1b[31m\xff.txt")->Modified, 1600000000);
}

// Byte for byte both ways; an upload goes through a temporary name and replaces the file
// whole, keeping its permissions, and leaves nothing else behind.
TEST_F(SftpSessionTest, TransfersBothWaysByteForByte) {
  constexpr std::size_t kSize = 5 * 1024 * 1024 + 3;
  ASSERT_TRUE(server_.Root().WritePatternFile("down.bin", kSize));
  ASSERT_TRUE(server_.Root().WriteFile("replaced.bin", "old"));
  ASSERT_EQ(::chmod(server_.Root().PathOf("replaced.bin").c_str(), 0640), 0);
  SftpTestSession s(server_);
  ASSERT_TRUE(s.local.WritePatternFile("up.bin", kSize));
  LogIn(s);
  ASSERT_TRUE(Download(s, "down.bin", "down.bin")) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success) << s.Transcript();
  EXPECT_EQ(s.sftp.BytesTransferred, static_cast<std::int64_t>(kSize));
  EXPECT_EQ(s.sftp.ExpectedSize, static_cast<std::int64_t>(kSize));
  EXPECT_TRUE(SameBytes(s.local.ReadFile("down.bin"), PatternBytes(kSize)));
  ASSERT_TRUE(Upload(s, "up.bin", "replaced.bin")) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success) << s.Transcript();
  EXPECT_EQ(s.sftp.BytesTransferred, static_cast<std::int64_t>(kSize));
  EXPECT_TRUE(SameBytes(server_.Root().ReadFile("replaced.bin"), PatternBytes(kSize)));
  struct stat st {};
  ASSERT_EQ(::stat(server_.Root().PathOf("replaced.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  ASSERT_TRUE(List(s));
  EXPECT_EQ(Sorted(s.sftp.FileNames), (Names{"down.bin", "replaced.bin"})) << "no temporary file left";
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0) << s.Transcript();
}

TEST_F(SftpSessionTest, FoldersRenamesDeletionsAndRefusals) {
  ASSERT_TRUE(server_.Root().WriteFile("a.txt", "A"));
  SftpTestSession s(server_);
  ASSERT_TRUE(s.local.WriteFile("kept.txt", "mine"));
  s.sftp.InitialDirectory = "absent";  // refused: the session starts in its home
  LogIn(s);
  EXPECT_TRUE(s.sftp.Success);
  EXPECT_EQ(s.log.Count("ftpiCommandFailed:"), 1) << s.Transcript();
  EXPECT_EQ(s.sftp.InitialDirectory, server_.Root().Path());
  ASSERT_TRUE(s.Run([&] { s.sftp.CreateDirectory("neuf"); }, "directoryCreated"));
  EXPECT_TRUE(s.sftp.Success);
  ASSERT_TRUE(s.Run([&] { s.sftp.ChangeDirectory("neuf"); }, "directoryChanged"));
  EXPECT_EQ(s.sftp.InitialDirectory, server_.Root().PathOf("neuf"));
  ASSERT_TRUE(s.Run([&] { s.sftp.ChangeDirectory(".."); }, "directoryChanged"));
  EXPECT_EQ(s.sftp.InitialDirectory, server_.Root().Path());
  ASSERT_TRUE(s.Run([&] { s.sftp.RenameFile("a.txt", "neuf/b.txt"); }, "fileRenamed"));
  EXPECT_EQ(server_.Root().ReadFile("neuf/b.txt"), "A");
  ExpectRefused(
      s, [&] { s.sftp.ChangeDirectory("neuf/b.txt"); }, "directoryChanged");
  ExpectRefused(
      s, [&] { s.sftp.DeleteDirectory("neuf"); }, "directoryDeleted");
  ExpectRefused(
      s, [&] { s.sftp.CreateDirectory("neuf"); }, "directoryCreated");
  s.sftp.RemoteFile = "absent.txt";
  s.sftp.LocalFile = s.local.PathOf("kept.txt");
  ExpectRefused(
      s, [&] { s.sftp.ReceiveFile(); }, "fileReceived");
  EXPECT_EQ(s.local.ReadFile("kept.txt"), "mine");
  EXPECT_FALSE(s.local.Exists("kept.txt.part"));
  ASSERT_TRUE(s.Run([&] { s.sftp.DeleteFile("neuf/b.txt"); }, "fileDeleted"));
  ASSERT_TRUE(s.Run([&] { s.sftp.DeleteDirectory("neuf"); }, "directoryDeleted"));
  EXPECT_TRUE(s.sftp.Success);
  EXPECT_FALSE(server_.Root().Exists("neuf"));
  ASSERT_TRUE(s.Run([&] { s.sftp.Quit(); }, "quit"));
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0) << s.Transcript();
}

// A download continues its own part of an earlier try from its end, and the file comes
// whole; a part that this program did not write is left alone.
TEST_F(SftpSessionTest, ContinuesThePartOfAnEarlierDownload) {
  constexpr std::int64_t kSize = 3 * 1024 * 1024;
  ASSERT_TRUE(server_.Root().WritePatternFile("big.bin", kSize));
  SftpTestSession s(server_);
  ASSERT_TRUE(s.local.WriteFile("big.bin.part", "not ours"));
  LogIn(s);
  s.sftp.OnFtpInfo = [logged = s.sftp.OnFtpInfo, &s](TObject* sender, FtpInfo info, const std::string& addinfo) {
    logged(sender, info, addinfo);
    if (info == ftpiProgress && s.sftp.ResumedFrom == 0 && s.sftp.BytesTransferred >= (1 << 20)) s.sftp.Abort();
  };
  ASSERT_TRUE(Download(s, "big.bin", "big.bin")) << s.Transcript();
  EXPECT_FALSE(s.sftp.Success);
  const std::int64_t part = static_cast<std::int64_t>(s.local.FileSize("big.bin~1.part").value_or(0));
  ASSERT_GE(part, 1 << 20) << s.Transcript();
  ASSERT_TRUE(Download(s, "big.bin", "big.bin")) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success) << s.Transcript();
  EXPECT_EQ(s.log.Count("ftpiResumed:" + std::to_string(part)), 1) << s.Transcript();
  EXPECT_EQ(s.sftp.BytesTransferred, kSize - part);
  EXPECT_TRUE(SameBytes(s.local.ReadFile("big.bin"), PatternBytes(kSize)));
  EXPECT_FALSE(s.local.Exists("big.bin~1.part"));
  EXPECT_EQ(s.local.ReadFile("big.bin.part"), "not ours");
}

// A stop ends the transfer and keeps the session: a download keeps its part, an upload
// leaves no half file under the real name nor its temporary one.
TEST_F(SftpSessionTest, StopEndsTheTransferAndTheSessionGoesOn) {
  constexpr std::uint64_t kLarge = 400ULL << 20;
  constexpr std::uint64_t kHead = 16ULL << 20;
  ASSERT_TRUE(server_.Root().WritePatternFile("large.bin", kHead));
  ASSERT_EQ(::truncate(server_.Root().PathOf("large.bin").c_str(), kLarge), 0);
  SftpTestSession s(server_);
  ASSERT_TRUE(s.local.WritePatternFile("up.bin", kHead));
  ASSERT_EQ(::truncate(s.local.PathOf("up.bin").c_str(), kLarge), 0);
  LogIn(s);
  s.sftp.OnFtpInfo = [logged = s.sftp.OnFtpInfo, &s](TObject* sender, FtpInfo info, const std::string& addinfo) {
    logged(sender, info, addinfo);
    if (info == ftpiProgress && s.sftp.BytesTransferred >= (4 << 20)) s.sftp.Abort();
  };
  ASSERT_TRUE(Download(s, "large.bin", "large.bin")) << s.Transcript();
  EXPECT_FALSE(s.sftp.Success);
  EXPECT_LT(s.sftp.BytesTransferred, static_cast<std::int64_t>(kLarge));
  EXPECT_FALSE(s.local.Exists("large.bin"));
  const std::uint64_t part = s.local.FileSize("large.bin.part").value_or(0);
  EXPECT_GE(part, 4u << 20);
  EXPECT_TRUE(SameBytes(s.local.ReadFile("large.bin.part").substr(0, 4 << 20), PatternBytes(4 << 20)));
  ASSERT_TRUE(Upload(s, "up.bin", "large.bin")) << s.Transcript();
  EXPECT_FALSE(s.sftp.Success);
  ASSERT_TRUE(List(s)) << s.Transcript();
  EXPECT_EQ(s.sftp.FileNames, Names{"large.bin"}) << "the temporary file is gone";
  EXPECT_EQ(server_.Root().FileSize("large.bin"), kLarge) << "the file under the real name is untouched";
  EXPECT_EQ(s.log.CountPrefix("ftpe"), 0) << s.Transcript();
}

// A server that checks on idle clients ends a session that never answers; between
// operations the session takes in the server's requests, and libssh2 answers them.
TEST_F(SftpSessionTest, IdleSessionAnswersTheServersChecks) {
  SshdServer checking({"ClientAliveInterval 1", "ClientAliveCountMax 1"});
  ASSERT_TRUE(checking.Start()) << checking.Error();
  SftpTestSession s(checking);
  LogIn(s);
  platform::MessageLoop::Current().RunUntil([&] { return s.log.Count("quit") > 0; }, 6000);
  ASSERT_TRUE(List(s)) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success);
  EXPECT_EQ(s.log.Count("quit"), 0) << s.Transcript();
}

// --- Host keys ---

class SftpHostKeyTest : public SftpSessionTest {
 protected:
  // Connects with the question answered `trust`; true once logged in.
  bool Connect(SftpTestSession& s, bool trust) {
    s.sftp.OnSftpHostKey = [this, trust](TObject*, const TSftpHostKeyQuestion& q, bool& answer) {
      questions_.push_back(q);
      answer = trust;
    };
    return s.Run([&] { s.sftp.Connect(); }, "loggedIn");
  }
  std::vector<TSftpHostKeyQuestion> questions_;
};

// An unknown key is asked about with its type and fingerprint as ssh-keygen writes it;
// "no" ends the connection with nothing sent after the key exchange.
TEST_F(SftpHostKeyTest, UnknownKeyRefusedSendsNothingMore) {
  SftpTestSession s(server_, false);
  EXPECT_FALSE(Connect(s, false));
  ASSERT_EQ(questions_.size(), 1u);
  EXPECT_EQ(questions_[0].KeyType, "ssh-ed25519");
  EXPECT_EQ(questions_[0].Fingerprint, KeygenFingerprint(server_.HostKeyPublicFile()));
  EXPECT_EQ(s.log.Count("sftpeHostKeyUnknown:" + questions_[0].Fingerprint), 1) << s.Transcript();
  EXPECT_EQ(s.log.CountPrefix("need"), 0);
  EXPECT_EQ(s.log.CountPrefix("sftpiLoggedInWith"), 0);
  EXPECT_EQ(server_.Log().find("talvo"), std::string::npos) << "no login was tried:\n" << server_.Log();
  EXPECT_FALSE(s.home.Exists("known_hosts"));
}

// "Yes" adds the key, hashed as Debian's SSH tools write it; the next connection knows it.
TEST_F(SftpHostKeyTest, AcceptedKeyIsAddedAndKnownNextTime) {
  {
    SftpTestSession s(server_, false);
    ASSERT_TRUE(Connect(s, true)) << s.Transcript();
    EXPECT_EQ(s.log.Count("sftpiHostKeyAdded:" + s.sftp.KnownHostsFile), 1) << s.Transcript();
    EXPECT_EQ(s.home.ReadFile("known_hosts").rfind("|1|", 0), 0u) << s.home.ReadFile("known_hosts");
    SftpTestSession again(server_, false);
    ASSERT_TRUE(again.home.WriteFile("known_hosts", s.home.ReadFile("known_hosts")));
    ASSERT_TRUE(Connect(again, false)) << again.Transcript();
  }
  EXPECT_EQ(questions_.size(), 1u);
}

// A key that changed is refused without a question, naming the file and line to remove;
// a hashed line with the right key lets the session in.
TEST_F(SftpHostKeyTest, ChangedKeyRefusedHashedKeyKnown) {
  const std::string name = "[" + server_.Host() + "]:" + std::to_string(server_.Port());
  const std::string oldLine = name + " " + server_.HostKeyLine() + "\n";
  ASSERT_TRUE(server_.ChangeHostKey() && server_.Restart()) << server_.Error();
  SftpTestSession s(server_, false);
  ASSERT_TRUE(s.home.WriteFile("known_hosts", "# mes serveurs\n" + oldLine));
  EXPECT_FALSE(Connect(s, true));
  EXPECT_TRUE(questions_.empty());
  EXPECT_EQ(s.log.Count("sftpeHostKeyChanged:" + s.sftp.KnownHostsFile + ":2"), 1) << s.Transcript();

  ASSERT_TRUE(s.home.WriteFile("known_hosts", name + " " + server_.HostKeyLine() + "\n"));
  std::string output, error;
  ASSERT_EQ(RunCommand({"/usr/bin/ssh-keygen", "-H", "-f", s.home.PathOf("known_hosts")}, "/dev/null", Millis(10000),
                       &output, error),
            0)
      << error;
  ASSERT_EQ(s.home.ReadFile("known_hosts").rfind("|1|", 0), 0u);
  s.log.Clear();
  EXPECT_TRUE(Connect(s, false)) << s.Transcript();
  EXPECT_TRUE(questions_.empty());
}

// --- Logging in ---

// The keys of a running agent come first.
TEST_F(SftpSessionTest, LogsInWithTheAgentsKey) {
  SshAgent agent;
  std::string error;
  ASSERT_TRUE(agent.Start(error)) << error;
  const std::string key = server_.MakeUserKey("id_agent");
  ASSERT_FALSE(key.empty()) << server_.Error();
  ASSERT_TRUE(agent.Add(key, error)) << error;
  SftpTestSession s(server_, true, false);
  s.sftp.AgentSocket = agent.Socket();
  LogIn(s);
  EXPECT_EQ(s.log.Count("sftpiLoggedInWith:agent"), 1) << s.Transcript();
}

// A key with a passphrase asks for it (the key's path in the request's value); without a
// key the password is asked for, and with password logins off keyboard-interactive takes it.
TEST_F(SftpSessionTest, LogsInWithPassphrasePasswordAndKeyboardInteractive) {
  SftpTestSession withKey(server_, true, false);
  const std::string key = server_.MakeUserKey("id_locked", "phrase secrète");
  withKey.sftp.DefaultIdentityFiles = {key};
  withKey.log.Answers[AsInfoNeeded(sftpnPassphrase)] = "phrase secrète";
  LogIn(withKey);
  EXPECT_EQ(withKey.log.Count("need sftpnPassphrase"), 1) << withKey.Transcript();
  EXPECT_EQ(withKey.log.Count("sftpiLoggedInWith:" + key), 1) << withKey.Transcript();

  SftpTestSession withPassword(server_, true, false);
  withPassword.log.Answers[ftpnPassword] = server_.Password();
  LogIn(withPassword);
  EXPECT_EQ(withPassword.log.Count("need ftpnPassword"), 1);
  EXPECT_EQ(withPassword.log.Count("sftpiLoggedInWith:password"), 1) << withPassword.Transcript();

  SshdServer interactive({"PasswordAuthentication no"});
  ASSERT_TRUE(interactive.Start()) << interactive.Error();
  SftpTestSession typed(interactive, true, false);
  typed.sftp.UserPassword = interactive.Password();
  LogIn(typed);
  EXPECT_EQ(typed.log.Count("sftpiLoggedInWith:keyboard-interactive"), 1) << typed.Transcript();
}

// Every way refused: one error that names the ways tried, then the end of the session.
TEST_F(SftpSessionTest, RefusedLoginSaysWhatWasTried) {
  SftpTestSession s(server_, true, false);
  const std::string stranger = server_.MakeUserKey("id_stranger", "", false);
  s.sftp.DefaultIdentityFiles = {stranger};
  s.sftp.UserPassword = "pas le bon";
  EXPECT_FALSE(s.LogIn());
  ASSERT_TRUE(s.WaitQuit()) << s.Transcript();
  EXPECT_EQ(
      s.log.Count("sftpeLoginRefused:" + stranger + "\npassword\noffered:publickey,password,keyboard-interactive"), 1)
      << s.Transcript();
  EXPECT_EQ(s.log.CountPrefix("sftpe"), 1);
  EXPECT_FALSE(s.sftp.Connected);
}

// ~/.ssh/config: an alias with its real name, port, user and key; the path of the server
// to start in is entered after the login.
TEST_F(SftpSessionTest, ReadsTheUsersSshConfiguration) {
  ASSERT_TRUE(server_.Root().MakeDirectory("dépôt"));
  SftpTestSession s(server_, true, false);
  const std::string key = server_.MakeUserKey("id_configured");
  ASSERT_TRUE(s.home.WriteFile("config", "Host autre\n  Port 1\nHost mon-serveur\n  HostName " + server_.Host() +
                                             "\n  Port " + std::to_string(server_.Port()) + "\n  User " +
                                             server_.User() + "\n  IdentityFile " + key + "\n"));
  s.sftp.SetFtpServer("mon-serveur");
  s.sftp.FtpPort = 22;
  s.sftp.UserName.clear();
  s.sftp.InitialDirectory = "dépôt";
  LogIn(s);
  EXPECT_EQ(s.log.Count("sftpiLoggedInWith:" + key), 1) << s.Transcript();
  EXPECT_EQ(s.sftp.InitialDirectory, server_.Root().PathOf("dépôt"));
}

// The folder walk goes over SFTP as over FTP: a tree down and up, whole.
TEST_F(SftpSessionTest, FolderWalkBothWays) {
  ASSERT_TRUE(MakeFolderTree(server_.Root(), "top", 300000));
  SftpTestSession s(server_);
  TFolderTransfer walk(s.sftp);
  for (TNotifyEvent* event : {&s.sftp.OnDirectoryChanged, &s.sftp.OnDirectoryCreated, &s.sftp.OnListingDone,
                              &s.sftp.OnFileReceived, &s.sftp.OnFileStored}) {
    *event = [logged = *event, &walk](TObject* sender) {
      if (logged) logged(sender);
      walk.OperationDone();
    };
  }
  LogIn(s);
  const auto run = [&](TFolderTransfer::Direction direction, TFolderTransfer::Top top) {
    walk.Start(direction, {top});
    auto& loop = platform::MessageLoop::Current();
    loop.RunUntil([&] { return walk.phase() != TFolderTransfer::Phase::Scanning; }, 30000);
    walk.Go();
    loop.RunUntil([&] { return walk.phase() == TFolderTransfer::Phase::Done; }, 30000);
    return walk.outcome();
  };
  ASSERT_EQ(run(TFolderTransfer::Direction::Download, {"top", s.local.PathOf("copy")}), TFolderTransfer::Outcome::Sent)
      << s.Transcript();
  EXPECT_EQ(TreeContents(s.local.PathOf("copy")), TreeContents(server_.Root().PathOf("top")));
  ASSERT_EQ(run(TFolderTransfer::Direction::Upload, {"back", s.local.PathOf("copy")}), TFolderTransfer::Outcome::Sent)
      << s.Transcript();
  EXPECT_EQ(TreeContents(server_.Root().PathOf("back")), TreeContents(server_.Root().PathOf("top")));
  EXPECT_EQ(s.sftp.InitialDirectory, server_.Root().Path()) << "back where it began";
}

// Streamed, never held: 2 GiB and one byte, both ways.
using SftpTwoGiBTest = SftpSessionTest;

TEST_F(SftpTwoGiBTest, TransfersTwoGiBAndOneByteBothWays) {
  ASSERT_TRUE(WriteMarkedSparseFile(server_.Root(), "huge.bin"));
  SftpTestSession s(server_);
  LogIn(s);
  ASSERT_TRUE(Download(s, "huge.bin", "huge.bin", kTwoGiBWaitMs)) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success) << s.Transcript();
  EXPECT_EQ(s.sftp.BytesTransferred, static_cast<std::int64_t>(kTwoGiBPlusOne));
  ExpectMarkedSparseFile(s.local.PathOf("huge.bin"));
  ASSERT_TRUE(Upload(s, "huge.bin", "back.bin", kTwoGiBWaitMs)) << s.Transcript();
  EXPECT_TRUE(s.sftp.Success) << s.Transcript();
  EXPECT_EQ(server_.Root().FileSize("back.bin"), kTwoGiBPlusOne);
  ExpectMarkedSparseFile(server_.Root().PathOf("back.bin"));
}

}  // namespace
}  // namespace talvo::test
