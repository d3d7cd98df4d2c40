// The remote pane and the transfers between the panes against pyftpdlib and vsftpd:
// browsing, making, renaming and removing directories and files with the confirmations
// answered both ways, batches of deletes, downloads and uploads checked byte for byte, and
// a stop in the middle of a large download and upload followed by a normal transfer.
#include <algorithm>
#include <cstdio>
#include <sstream>

#include <QTest>

#include "tests/gui/WindowHarness.h"
#include "tests/support/RealServerSession.h"
#include "tests/support/TestPattern.h"
#include "ui/DirectoryListBox.h"
#include "ui/FileListBox.h"
#include "ui/Screen.h"
#include "ui/ThroughputLine.h"

namespace talvo::test {
namespace {

using Names = std::vector<std::string>;

// "B octets transférés en S.mmm secondes (RKo par seconde)", nothing before or after.
bool IsThroughputLine(const std::string& line) {
  long long bytes = 0, seconds = 0, rate = 0;
  char millis[4] = {};
  int end = -1;
  std::sscanf(line.c_str(), "%lld octets transférés en %lld.%3[0-9] secondes (%lldKo par seconde)%n", &bytes,
              &seconds, millis, &rate, &end);
  return end == static_cast<int>(line.size()) && std::string(millis).size() == 3;
}

class WindowRemoteTest : public WindowTest, public ::testing::WithParamInterface<ServerKind> {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    server = GetParam().make();
    ASSERT_TRUE(server->Start()) << server->Error();
  }
  void TearDown() override {
    WindowTest::TearDown();
    server.reset();
  }
  bool LogIn() { return ConnectTo(*server, server->User(), server->Password()); }
  // Waits for the end of whatever the last click started.
  bool Settled() {
    return WaitUntil([&] { return dialogs.Pending() == 0 && Idle(); });
  }
  std::string Remote(const std::string& name) { return server->Root().ReadFile(name); }

  std::unique_ptr<FtpServerFixture> server;
};

TEST_P(WindowRemoteTest, BrowsesMakesRenamesAndRemovesWithBothAnswers) {
  ASSERT_TRUE(server->Root().MakeDirectory("sub"));
  ASSERT_TRUE(server->Root().WriteFile("sub/inner.txt", "in"));
  ASSERT_TRUE(server->Root().WriteFile("a.txt", "a"));
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();
  EXPECT_NE(LogText().find("Connecté à l'adresse " + server->Host() + ", port"), std::string::npos) << LogText();
  EXPECT_EQ(Rows(*form->ui.ListBox1), (Names{"..", "sub"}));
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"a.txt"}));

  DoubleClick(*form->ui.ListBox1, "sub");
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"inner.txt"}));
  DoubleClick(*form->ui.ListBox1, "..");
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"a.txt"}));

  dialogs.Expect(Type("made"));
  Click(form->ui.MkDirFTPBtn);
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Rows(*form->ui.ListBox1), (Names{"..", "made", "sub"}));

  Select(*form->ui.ListBox2, {"a.txt"});
  dialogs.Expect(Type("b.txt"));
  Click(form->ui.Button12);
  ASSERT_TRUE(Settled());
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"b.txt"}));
  EXPECT_EQ(Remote("b.txt"), "a");

  Select(*form->ui.ListBox1, {"made"});
  dialogs.Expect(Press("&Non"));
  Click(form->ui.RmDirFTPBtn);
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(server->Root().Exists("made"));
  Select(*form->ui.ListBox1, {"made"});
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.RmDirFTPBtn);
  ASSERT_TRUE(Settled());
  EXPECT_FALSE(server->Root().Exists("made"));
  EXPECT_EQ(Rows(*form->ui.ListBox1), (Names{"..", "sub"}));
  EXPECT_EQ(dialogs.Seen()[5].text, "Etes-vous sûr de vouloir supprimer made ?");
  EXPECT_EQ(dialogs.Seen()[5].caption, "Confirmation");
}

// A command of the pane that the server refuses is told: what was asked, in French words
// why, and the server's own reply; a delete batch tells each file refused. (The file is
// removed behind the server's back once listed; the folder is there already.)
TEST_P(WindowRemoteTest, ARefusalOfTheServerIsToldWithItsReply) {
  ASSERT_TRUE(server->Root().MakeDirectory("made") && server->Root().WriteFile("lost.txt", "x"));
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();
  dialogs.Expect(Type("made")).Expect(Press("OK"));
  Click(form->ui.MkDirFTPBtn);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  ASSERT_TRUE(RemoveTree(server->Root().PathOf("lost.txt")));
  Select(*form->ui.ListBox2, {"lost.txt"});
  dialogs.Expect(Press("&Oui")).Expect(Press("OK"));
  Click(form->ui.Button13);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  const std::vector<SeenDialog>& seen = dialogs.Seen();
  ASSERT_EQ(seen.size(), 7u) << dialogs.Describe();
  for (const auto& [told, asked] : {std::pair{seen[4].text, "de créer le dossier « made »"},
                                    std::pair{seen[6].text, "de supprimer le fichier « lost.txt »"}}) {
    EXPECT_EQ(told.rfind(std::string("Le serveur a refusé ") + asked + " : ", 0), 0u) << told;
    EXPECT_NE(told.find("\n\nRéponse du serveur : 550"), std::string::npos) << told;
  }
  EXPECT_TRUE(form->Ftp1.Connected);
}

// Each key does what its button or double click does, questions included; the arrows have
// keys of their own, named in their tool tips.
TEST_P(WindowRemoteTest, TheKeysOfBothPanesDoWhatTheirButtonsDo) {
  ASSERT_TRUE(server->Root().MakeDirectory("sub"));
  ASSERT_TRUE(server->Root().WriteFile("a.txt", "a"));
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();
  const auto press = [&](TListBox* list, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    list->setFocus();
    QTest::keyClick(list, key, modifiers);
    return Settled();
  };
  Select(*form->ui.ListBox1, {"sub"});
  ASSERT_TRUE(press(form->ui.ListBox1, Qt::Key_Enter, Qt::KeypadModifier));  // the keypad's Enter
  EXPECT_EQ(Rows(*form->ui.ListBox2), Names{});
  ASSERT_TRUE(press(form->ui.ListBox2, Qt::Key_Backspace));
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"a.txt"}));
  ASSERT_TRUE(server->Root().WriteFile("b.txt", "b"));
  ASSERT_TRUE(server->Root().WriteFile("B10.txt", "10"));
  ASSERT_TRUE(server->Root().WriteFile("b9.txt", "9"));
  ASSERT_TRUE(press(form->ui.ListBox2, Qt::Key_F5));
  // In name order, whatever order the server lists in: case aside, numbers as numbers.
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"a.txt", "b.txt", "b9.txt", "B10.txt"}));
  Select(*form->ui.ListBox2, {"b.txt"});
  dialogs.Expect(Press("&Oui"));
  ASSERT_TRUE(press(form->ui.ListBox2, Qt::Key_Delete));
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"a.txt", "b9.txt", "B10.txt"}));

  ASSERT_TRUE(local.WriteFile("l.txt", "l"));
  ASSERT_TRUE(press(form->ui.FileListBox1, Qt::Key_F5));
  Select(*form->ui.FileListBox1, {"l.txt"});
  dialogs.Expect(Press("&Non"));
  ASSERT_TRUE(press(form->ui.FileListBox1, Qt::Key_Delete));
  EXPECT_EQ(local.ReadFile("l.txt"), "l");
  ASSERT_TRUE(local.MakeDirectory("made elsewhere"));
  ASSERT_TRUE(press(form->ui.DirectoryListBox1, Qt::Key_F5));
  const Names tree = Rows(*form->ui.DirectoryListBox1);
  EXPECT_TRUE(std::any_of(tree.begin(), tree.end(), [](const std::string& row) { return row.ends_with("made elsewhere"); }));
  ASSERT_TRUE(press(form->ui.FileListBox1, Qt::Key_Backspace));
  EXPECT_EQ(form->ui.DirectoryListBox1->Directory() + "/", local.Path().substr(0, local.Path().rfind('/') + 1));

  // Enter on the server's files, and the arrows' keys from anywhere in the window.
  form->ui.DirectoryListBox1->SetDirectory(local.Path());
  Select(*form->ui.ListBox2, {"a.txt"});
  ASSERT_TRUE(press(form->ui.ListBox2, Qt::Key_Return));
  EXPECT_EQ(local.ReadFile("a.txt"), "a");
  // As the keyboard sends them, to the window: the focus is in the other pane.
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  Select(*form->ui.ListBox2, {"b9.txt"});
  form->ui.FileListBox1->setFocus();
  QTest::keyClick(form->windowHandle(), Qt::Key_Left, Qt::ControlModifier);
  ASSERT_TRUE(WaitUntil([&] { return local.Exists("b9.txt") && Idle(); })) << LogText();
  Select(*form->ui.FileListBox1, {"l.txt"});
  form->ui.ListBox2->setFocus();
  QTest::keyClick(form->windowHandle(), Qt::Key_Right, Qt::ControlModifier);
  ASSERT_TRUE(WaitUntil([&] { return server->Root().Exists("l.txt") && Idle(); })) << LogText();
  EXPECT_TRUE(form->ui.SpeedButton2->toolTip().endsWith(QStringLiteral("(Ctrl+Gauche)")));
  EXPECT_TRUE(form->ui.SpeedButton1->toolTip().endsWith(QStringLiteral("(Ctrl+Droite)")));
}

TEST_P(WindowRemoteTest, DeletesDownloadsAndUploadsSeveralFilesInOneBatch) {
  const Names files = {"one.bin", "two.bin", "three.bin"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(server->Root().WritePatternFile(files[i], 300000 + i * 5000));
  }
  ASSERT_TRUE(server->Root().WriteFile("keep.txt", "keep"));
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();

  Select(*form->ui.ListBox2, files);
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << LogText();
  for (const std::string& name : files) {
    EXPECT_EQ(local.ReadFile(name), Remote(name)) << name;
    EXPECT_GE(form->ui.FileListBox1->IndexOf(name), 0) << name;
  }
  EXPECT_FALSE(form->ui.ByteCounter->Caption().isEmpty());  // the last count stays after a download

  // Answered "&Non": nothing goes, and the directory is still listed again.
  Select(*form->ui.ListBox2, files);
  dialogs.Expect(Press("&Non"));
  Click(form->ui.Button13);
  ASSERT_TRUE(Settled());
  EXPECT_TRUE(server->Root().Exists("one.bin"));
  Select(*form->ui.ListBox2, files);
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.Button13);
  ASSERT_TRUE(Settled()) << LogText();
  EXPECT_EQ(dialogs.Seen().back().text, "Etes-vous sûr de vouloir supprimer ces fichiers ?");
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"keep.txt"}));

  // The counters each stored file ends with, read when the window reads them.
  std::vector<std::pair<std::int64_t, std::int64_t>> stored;
  const TNotifyEvent windowHandler = form->Ftp1.OnFileStored;
  form->Ftp1.OnFileStored = [&](TObject* sender) {
    stored.emplace_back(form->Ftp1.BytesTransferred, form->Ftp1.TransferTime);
    windowHandler(sender);
  };
  Select(*form->ui.FileListBox1, files);
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(Settled()) << LogText();
  for (const std::string& name : files) EXPECT_EQ(Remote(name), local.ReadFile(name)) << name;
  EXPECT_EQ(form->ui.ListBox2->Count(), 4);
  EXPECT_TRUE(form->ui.ByteCounter->Caption().isEmpty());
  // One throughput line, on a line of its own, for each stored file that took a millisecond
  // or more; none for a file stored within the same millisecond (its time reads 0).
  // (The files go in the local list's order, the directory's.)
  std::vector<std::int64_t> sizes, counted;
  std::vector<std::string> expected;
  for (const std::string& name : files) sizes.push_back(static_cast<std::int64_t>(local.FileSize(name).value_or(0)));
  for (const auto& [bytes, milliseconds] : stored) {
    counted.push_back(bytes);
    if (milliseconds != 0) expected.push_back(ThroughputLine(bytes, milliseconds));
  }
  std::sort(sizes.begin(), sizes.end());
  std::sort(counted.begin(), counted.end());
  EXPECT_EQ(counted, sizes);
  std::istringstream log(LogText());
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) {
    if (line.find("octets") != std::string::npos) lines.push_back(line);
  }
  EXPECT_EQ(lines, expected) << LogText();
  for (const std::string& line : lines) EXPECT_TRUE(IsThroughputLine(line)) << line;
}

// Names with blanks, accents and an arrow are shown whole (the accents as UTF-8) and
// download byte for byte: pyftpdlib lists them by MLSD, vsftpd by LIST.
TEST_P(WindowRemoteTest, ShowsAndDownloadsNamesWithBlanksAccentsAndArrowsExactly) {
  const Names files = {"-> arrow.txt", "caf\xc3\xa9 d\xc3\xa9j\xc3\xa0.bin", "file with blank.txt",
                       "two  blanks.txt"};
  for (std::size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(server->Root().WritePatternFile(files[i], 1000 + i));
  }
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();
  Names shown = Rows(*form->ui.ListBox2);
  std::sort(shown.begin(), shown.end());
  EXPECT_EQ(shown, files);
  const QAbstractItemModel& model = *form->ui.ListBox2->model();
  const int accented = form->ui.ListBox2->IndexOf(files[1]);
  ASSERT_GE(accented, 0);
  EXPECT_EQ(model.data(model.index(accented, 0), Qt::DisplayRole).toString(), QStringLiteral("café déjà.bin"));

  Select(*form->ui.ListBox2, files);
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << LogText();
  for (const std::string& name : files) EXPECT_TRUE(local.ReadFile(name) == Remote(name)) << name;
}

TEST_P(WindowRemoteTest, AStoppedDownloadAndUploadLeaveTheConnectionUsable) {
  constexpr std::uint64_t kBig = 256ULL << 20;
  ASSERT_TRUE(server->Root().WritePatternFile("big.bin", kBig));
  ASSERT_TRUE(server->Root().WriteFile("small.txt", "small"));
  ASSERT_TRUE(local.WritePatternFile("up.bin", kBig));
  ASSERT_TRUE(local.WriteFile("up.txt", "up"));
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();
  form->ui.FileListBox1->Update();

  const auto stopAfter = [&](std::int64_t bytes) {
    return std::make_unique<Trigger>([&, bytes] { return form->Ftp1.BytesTransferred > bytes; },
                                     [&] { Click(form->ui.Button4); });
  };
  {
    Select(*form->ui.ListBox2, {"big.bin"});
    auto stop = stopAfter(1 << 20);
    Click(form->ui.SpeedButton2);
    ASSERT_TRUE(Settled()) << LogText();
    EXPECT_TRUE(stop->Fired());
    EXPECT_FALSE(form->Ftp1.Success);
    EXPECT_FALSE(local.Exists("big.bin"));
    EXPECT_LT(local.FileSize("big.bin.part").value_or(kBig), kBig);
  }
  Select(*form->ui.ListBox2, {"small.txt"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << LogText();
  EXPECT_EQ(local.ReadFile("small.txt"), "small");

  {
    Select(*form->ui.FileListBox1, {"up.bin"});
    auto stop = stopAfter(1 << 20);
    Click(form->ui.SpeedButton1);
    ASSERT_TRUE(Settled()) << LogText();
    EXPECT_TRUE(stop->Fired());
    EXPECT_LT(server->Root().FileSize("up.bin").value_or(0), kBig);
  }
  Select(*form->ui.FileListBox1, {"up.txt"});
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(Settled()) << LogText();
  EXPECT_EQ(Remote("up.txt"), "up");
  EXPECT_TRUE(form->Ftp1.Connected);
}

INSTANTIATE_TEST_SUITE_P(Servers, WindowRemoteTest, ::testing::Values(PyFtpdKind(), VsftpdKind(), PyFtpdIpv6Kind()),
                         ServerKindName);

// A server that refuses active mode, as from behind a router: the window goes passive on
// its own, says so once in the log, and the remote pane, a download and an upload work.
TEST_F(WindowTest, AServerRefusingActiveModeIsUsedInPassiveMode) {
  VsftpdServer server({"port_enable=NO"});
  ASSERT_TRUE(server.Start()) << server.Error();
  const std::string content = PatternBytes(200000);
  ASSERT_TRUE(server.Root().WriteFile("down.bin", content));
  ASSERT_TRUE(local.WriteFile("up.bin", content));
  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe() << LogText();
  EXPECT_EQ(Rows(*form->ui.ListBox2), (Names{"down.bin"}));

  Select(*form->ui.ListBox2, {"down.bin"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && Idle(); })) << LogText();
  EXPECT_TRUE(local.ReadFile("down.bin") == content);
  form->ui.FileListBox1->Update();
  Select(*form->ui.FileListBox1, {"up.bin"});
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && form->ui.ListBox2->Count() == 2; }))
      << LogText();
  EXPECT_TRUE(server.Root().ReadFile("up.bin") == content);

  const std::string log = LogText();
  const std::string line = "passage en mode passif";
  EXPECT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << "said more than once:\n" << log;
  EXPECT_NE(log.find("EPSV"), std::string::npos) << log;
  EXPECT_TRUE(Disconnect());
}

}  // namespace
}  // namespace talvo::test
