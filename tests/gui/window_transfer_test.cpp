// Against pyftpdlib: the question before a file is replaced (replace, resume, skip, the
// same for the rest), in a batch and in a folder download, and what the window says and
// shows when the server goes away in the middle of a download.
#include <QCheckBox>
#include <QMessageBox>

#include "tests/gui/WindowHarness.h"
#include "tests/support/TestPattern.h"

namespace talvo::test {
namespace {

using Names = std::vector<std::string>;

class WindowTransferTest : public WindowTest {
 protected:
  bool LogIn() { return ConnectTo(server, server.User(), server.Password()); }
  bool Settled() { return WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && !form->BatchRunning(); }); }
  // A question about a file that is there: its buttons, then `caption` pressed, with
  // "Faire de même pour les fichiers suivants" ticked first when `forTheRest`.
  DialogAnswers::Action Answer(const std::string& caption, bool forTheRest = false) {
    return [this, caption, forTheRest](QWidget* box) {
      QStringList buttons;
      for (QAbstractButton* button : static_cast<QMessageBox*>(box)->buttons()) buttons << button->text();
      offered.push_back(buttons.join(QLatin1Char(' ')).toStdString());
      if (forTheRest) box->findChild<QCheckBox*>()->setChecked(true);
      Press(caption)(box);
    };
  }

  PyFtpdServer server;
  Names offered;  // the buttons of each question, in order
};

// "Reprendre" is offered only for a part this program kept of that very file (here the
// part of a download stopped on its way), and continues it; a "NAME.part" that is not
// this program's is neither offered nor removed by "Remplacer"; "Ignorer" leaves the file
// there as it was; a file that is not there is not asked about; an upload onto a file the
// server lists is asked about too.
TEST_F(WindowTransferTest, ABatchAsksBeforeReplacingAndResumesOnlyAPartItKept) {
  server.Throttle(64 << 10);  // a first burst, then a pause in which the download is stopped
  const std::string a = PatternBytes(200000);
  ASSERT_TRUE(server.Root().WriteFile("a.bin", a));
  for (const char* name : {"b", "c", "d"}) {
    ASSERT_TRUE(server.Root().WriteFile(std::string(name) + ".txt", std::string("server ") + name));
  }
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(local.WriteFile("a.bin", "old a"));
  ASSERT_TRUE(local.WriteFile("b.txt", "local b"));
  ASSERT_TRUE(local.WriteFile("d.txt", "local d"));
  ASSERT_TRUE(local.WriteFile("d.txt.part", "not ours"));
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();

  dialogs.Expect(Answer("&Remplacer"));
  Select(*form->ui.ListBox2, {"a.bin"});
  {
    Trigger stop([&] { return form->Ftp1.BytesTransferred > 40000; }, [&] { Click(form->ui.Button4); });
    Click(form->ui.SpeedButton2);
    ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
    ASSERT_TRUE(stop.Fired());
  }
  EXPECT_EQ(local.ReadFile("a.bin"), "old a");
  const std::uint64_t kept = local.FileSize("a.bin.part").value_or(0);
  ASSERT_GT(kept, 0u);

  dialogs.Expect(Answer("Re&prendre")).Expect(Answer("&Ignorer")).Expect(Answer("&Remplacer"));
  Select(*form->ui.ListBox2, {"a.bin", "b.txt", "c.txt", "d.txt"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  EXPECT_EQ(offered, (Names{"&Remplacer &Ignorer Annuler", "&Remplacer Re&prendre &Ignorer Annuler",
                            "&Remplacer &Ignorer Annuler", "&Remplacer &Ignorer Annuler"}));
  EXPECT_TRUE(local.ReadFile("a.bin") == a);
  EXPECT_NE(LogText().find("Reprise à " + std::to_string(kept) + " octets."), std::string::npos) << LogText();
  EXPECT_EQ(local.ReadFile("b.txt"), "local b");
  EXPECT_EQ(local.ReadFile("c.txt"), "server c");
  EXPECT_EQ(local.ReadFile("d.txt"), "server d");
  EXPECT_EQ(local.ReadFile("d.txt.part"), "not ours");

  dialogs.Expect(Answer("&Ignorer"));
  Select(*form->ui.FileListBox1, {"b.txt"});
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  EXPECT_EQ(offered.back(), "&Remplacer &Ignorer Annuler");
  EXPECT_EQ(server.Root().ReadFile("b.txt"), "server b");
}

// A folder download asks about each local file it would replace; an answer kept for the
// rest holds for the files of the sub-folders too.
TEST_F(WindowTransferTest, AFolderDownloadAsksBeforeReplacingAndKeepsTheAnswerForTheRest) {
  for (const char* file : {"site/a.txt", "site/c.txt", "site/sub/b.txt"}) {
    ASSERT_TRUE(server.Root().WriteFile(file, "new"));
  }
  ASSERT_TRUE(server.Start()) << server.Error();
  for (const char* file : {"site/a.txt", "site/sub/b.txt"}) {
    ASSERT_TRUE(local.WriteFile(file, "old"));
  }
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();

  dialogs.Expect(Press("&Oui")).Expect(Answer("&Remplacer", true));
  Select(*form->ui.ListBox1, {"site"});
  form->ui.ListBox2->clearSelection();
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  EXPECT_EQ(dialogs.Seen().size(), 5u) << dialogs.Describe();  // the login's three, the folder's, one file's
  for (const char* file : {"site/a.txt", "site/c.txt", "site/sub/b.txt"}) EXPECT_EQ(local.ReadFile(file), "new");
}

// The server goes away in the middle of a download: the window says that the file did
// not come whole and where its part is kept, the counter and the bar do not stay at what
// the download reached, and the title says there is no session.
TEST_F(WindowTransferTest, AServerGoneInTheMiddleOfADownloadIsToldWithThePartKept) {
  server.Throttle(256 << 10);
  ASSERT_TRUE(server.Root().WritePatternFile("big.bin", 4 << 20));
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(LogIn()) << dialogs.Describe() << LogText();

  dialogs.Expect(Press("OK"));
  Select(*form->ui.ListBox2, {"big.bin"});
  Trigger gone([&] { return form->Ftp1.BytesTransferred > (100 << 10); }, [&] { server.Stop(); });
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << dialogs.Describe() << LogText();
  EXPECT_TRUE(gone.Fired());
  const std::string told = dialogs.Seen().back().text;
  EXPECT_EQ(told.rfind("Le fichier « big.bin » n'a pas été reçu en entier : la connexion avec le serveur a été "
                       "coupée. Aucun fichier local n'a été créé ; la partie reçue (",
                       0),
            0u)
      << told;
  EXPECT_NE(told.find("est gardée dans « big.bin.part »"), std::string::npos) << told;
  EXPECT_FALSE(local.Exists("big.bin"));
  EXPECT_GT(local.FileSize("big.bin.part").value_or(0), 0u);
  EXPECT_TRUE(form->ui.ByteCounter->Caption().isEmpty());
  EXPECT_FALSE(form->ui.TransferProgress->isVisible());
  EXPECT_EQ(form->windowTitle().toStdString(), "Talvo FTP — non connecté");
}

}  // namespace
}  // namespace talvo::test
