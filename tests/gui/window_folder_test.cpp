// Folder transfers in the window, clicked as a user does, against pyftpdlib and vsftpd: a
// folder selected in the remote folder list comes down with the files selected beside it,
// after a question that names it with its counts ("&Non" sends nothing); a folder clicked
// once in the local tree goes up; folders and files dropped from a file manager on the
// remote pane go up. Meanwhile the progress bar counts the folder's files, a dialog opened
// during the transfer does not hold it up, a second click as an operation ends starts
// nothing, and the stop ends the folder transfer after the running file.
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QTest>
#include <QUrl>

#include "tests/gui/WindowHarness.h"
#include "tests/support/FolderTrees.h"
#include "tests/support/RealServerSession.h"
#include "ui/DirectoryListBox.h"
#include "ui/Screen.h"

namespace talvo::test {
namespace {

constexpr std::uint64_t kBig = 50 << 20;

class WindowFolderTest : public WindowTest, public ::testing::WithParamInterface<ServerKind> {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    server = GetParam().make();
    ASSERT_TRUE(MakeFolderTree(server->Root(), "site", kBig));
    ASSERT_TRUE(server->Root().WriteFile("plain.txt", "plain"));
    ASSERT_TRUE(server->Start()) << server->Error();
    ASSERT_TRUE(ConnectTo(*server, server->User(), server->Password())) << dialogs.Describe() << LogText();
  }
  void TearDown() override {
    WindowTest::TearDown();
    server.reset();
  }
  // A single click on the row of a list, as a user highlights it.
  void ClickRow(TListBox& list, int row) {
    ASSERT_GE(row, 0);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(row, 0)).center());
  }
  int TreeRow(const std::string& path) {
    for (int row = 0; row < form->ui.DirectoryListBox1->Count(); ++row) {
      if (form->ui.DirectoryListBox1->PathOf(row) == path) return row;
    }
    return -1;
  }
  bool Settled() {
    return WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && !form->BatchRunning(); }, 60000);
  }
  const TFolderTransfer& Walk() const { return form->FolderTransfer(); }
  bool Transferring() const { return Walk().phase() == TFolderTransfer::Phase::Transferring; }

  std::unique_ptr<FtpServerFixture> server;
};

TEST_P(WindowFolderTest, FoldersGoBothWaysThroughTheArrows) {
  ClickRow(*form->ui.ListBox1, form->ui.ListBox1->IndexOf("site"));
  Select(*form->ui.ListBox2, {"plain.txt"});
  dialogs.Expect(Press("&Non"));
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe();
  const std::string question = dialogs.Seen().back().text;
  // 52 498 815 octets, grouped by thousands, and the file selected beside the folder.
  EXPECT_NE(question.find("le dossier « site » et tout ce qu'il contient, ainsi que 1 fichier sélectionné à côté "
                          "(5 fichiers en tout, 52\u202f498\u202f820 octets)"),
            std::string::npos)
      << question;
  EXPECT_FALSE(local.Exists("site"));
  EXPECT_FALSE(local.Exists("plain.txt"));

  // While the folder comes: the bar counts its files; a dialog opened meanwhile holds
  // nothing up; a second click when a file ends starts nothing.
  QPointer<QWidget> prompt;
  dialogs.Expect(Press("&Oui")).ExpectLeftOpen(&prompt);
  QString barText;
  Trigger opens([&] { return Transferring() && form->ui.TransferProgress->isVisible(); },
                [&] {
                  barText = form->ui.TransferProgress->text();
                  Click(form->ui.Button2);
                });
  Trigger again([&] { return Walk().FilesDone() == 1; }, [&] { Click(form->ui.SpeedButton2); });
  Trigger closes([&] { return Walk().phase() == TFolderTransfer::Phase::Done && prompt; },
                 [&] { prompt->close(); });
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  EXPECT_TRUE(again.Fired() && closes.Fired());
  EXPECT_TRUE(barText.endsWith("/4")) << barText.toStdString();
  EXPECT_EQ(dialogs.Seen().size(), 6u) << dialogs.Describe();  // the login's three, two questions, the prompt
  EXPECT_FALSE(form->ui.TransferProgress->isVisible());
  const auto original = TreeContents(server->Root().PathOf("site"));
  EXPECT_EQ(TreeContents(local.PathOf("site")), original);
  EXPECT_EQ(local.ReadFile("plain.txt"), "plain");

  // Up, into another folder of the server: the folder clicked once in the local tree.
  ASSERT_TRUE(server->Root().MakeDirectory("up"));
  Click(form->ui.Button15);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && form->ui.ListBox1->IndexOf("up") >= 0; }));
  DoubleClick(*form->ui.ListBox1, "up");
  ASSERT_TRUE(WaitUntil([&] { return Idle() && form->Ftp1.InitialDirectory.ends_with("up"); }));
  ClickRow(*form->ui.DirectoryListBox1, TreeRow(local.PathOf("site")));
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  EXPECT_NE(dialogs.Seen().back().text.find("Envoyer sur le serveur le dossier « site »"), std::string::npos);
  EXPECT_EQ(TreeContents(server->Root().PathOf("up/site")), original);
  // Back where it was: the closing listing is that of "up".
  EXPECT_EQ(form->ui.ListBox1->IndexOf("site"), 1) << form->ui.ListBox1->Count();
  EXPECT_EQ(form->ui.DirectoryListBox1->Directory(), local.Path());
}

// The stop ends the whole folder transfer once the running file has stopped.
TEST_P(WindowFolderTest, StopEndsTheFolderTransfer) {
  ClickRow(*form->ui.ListBox1, form->ui.ListBox1->IndexOf("site"));
  dialogs.Expect(Press("&Oui"));
  Trigger stop([&] { return form->Ftp1.RemoteFile == "big.bin" && form->Ftp1.BytesTransferred > (1 << 20); },
               [&] { Click(form->ui.Button4); });
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  ASSERT_TRUE(stop.Fired());
  EXPECT_EQ(Walk().outcome(), TFolderTransfer::Outcome::Stopped);
  EXPECT_FALSE(local.Exists("site/big.bin"));
  const std::string log = LogText();
  EXPECT_EQ(log.find("RETR ", log.find("RETR big.bin") + 1), std::string::npos) << log;
  // The session goes on in the folder the pane shows.
  Click(form->ui.Button15);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && form->ui.ListBox2->IndexOf("plain.txt") >= 0; }));
}

// A link back up inside the folder is named in the question, skipped, and named again with
// the count of what was not copied once the rest has come.
TEST_P(WindowFolderTest, AFolderThatLoopsIsNamedBeforeAndAfterAndTheRestComes) {
  const auto original = TreeContents(server->Root().PathOf("site"));
  ASSERT_TRUE(server->Root().MakeSymlink("site/empty/loop", ".."));
  ClickRow(*form->ui.ListBox1, form->ui.ListBox1->IndexOf("site"));
  dialogs.Expect(Press("&Oui")).Expect(Press("OK"));
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  ASSERT_EQ(dialogs.Seen().size(), 5u) << dialogs.Describe();
  EXPECT_NE(dialogs.Seen()[3].text.find("1 dossier n'est pas copié : il ramène à un dossier qui le contient "
                                        "(« /site/empty/loop »)."),
            std::string::npos)
      << dialogs.Seen()[3].text;
  EXPECT_EQ(dialogs.Seen()[4].text, "1 élément n'a pas été copié : « /site/empty/loop ».");
  EXPECT_EQ(TreeContents(local.PathOf("site")), original);
}

INSTANTIATE_TEST_SUITE_P(Servers, WindowFolderTest, ::testing::Values(PyFtpdKind(), VsftpdKind()), ServerKindName);

// A folder and a file dropped from a file manager on the remote file list go to the
// server's folder, the folder after its question.
TEST_F(WindowTest, FoldersAndFilesDroppedOnTheRemotePaneGoUp) {
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(local.WriteFile("drop/in/x.txt", "x"));
  ASSERT_TRUE(local.WriteFile("loose.txt", "loose"));
  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe();
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(local.PathOf("drop"))),
                QUrl::fromLocalFile(QString::fromStdString(local.PathOf("loose.txt")))});
  // As the platform delivers a drag: entering makes the list the drop's target.
  QWidget* target = form->ui.ListBox2->viewport();
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  dialogs.Expect(Press("&Oui"));
  QCoreApplication::sendEvent(target, &drop);
  EXPECT_TRUE(drop.isAccepted());
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && !form->BatchRunning(); })) << dialogs.Describe() << LogText();
  EXPECT_EQ(server.Root().ReadFile("drop/in/x.txt"), "x");
  EXPECT_EQ(server.Root().ReadFile("loose.txt"), "loose");
  EXPECT_GE(form->ui.ListBox2->IndexOf("loose.txt"), 0);
  EXPECT_TRUE(Disconnect());  // before the server goes
}

// The bar and the time left: shown only with a known size, the time once a second has gone.
TEST_F(WindowTest, ProgressShowsOnlyWhatIsKnown) {
  int refreshes = 0;
  TTransferProgress progress(form->ui.TransferProgress, form->ui.TimeLeft, [&refreshes] { ++refreshes; });
  progress.Show(10, -1, 5000, QStringLiteral("%p %"));
  EXPECT_FALSE(form->ui.TransferProgress->isVisible());
  progress.Show(50, 100, 500, QStringLiteral("%p %"));
  EXPECT_EQ(form->ui.TransferProgress->text(), QStringLiteral("50 %"));
  EXPECT_FALSE(form->ui.TimeLeft->isVisible());
  progress.Show(50, 100, 63000, QStringLiteral("%p %"));
  EXPECT_TRUE(form->ui.TimeLeft->isVisible());
  EXPECT_EQ(form->ui.TimeLeft->text(), QStringLiteral("reste 1:03"));
  // Redrawn ten times a second: a Show put off comes once the 100 ms are over.
  EXPECT_FALSE(progress.Due());
  EXPECT_TRUE(QTest::qWaitFor([&refreshes] { return refreshes == 1; }, 2000));
  EXPECT_TRUE(progress.Due());
  progress.Hide();
  EXPECT_FALSE(form->ui.TransferProgress->isVisible() || form->ui.TimeLeft->isVisible());
}

}  // namespace
}  // namespace talvo::test
