// The window when handlers run inside other handlers: a modal prompt or message runs the
// engine underneath it, and a batch waits in a loop of its own. A full disk during a
// download, a login prompt arriving while a local prompt is open, a click handled in the
// middle of a batch, a server that stops answering, the window closed in the middle of a
// transfer, and a message left open during an upload.
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <fstream>

#include "ftp/FtpProbe.h"
#include "tests/gui/WindowHarness.h"
#include "tests/support/CliRun.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SmallDisk.h"
#include "ui/Screen.h"

namespace talvo::test {
namespace {

using Names = std::vector<std::string>;

bool SameFiles(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::string ba(1 << 20, '\0'), bb(1 << 20, '\0');
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || ba.compare(0, fa.gcount(), bb, 0, fb.gcount()) != 0) return false;
  }
  return fa.eof() && fb.eof();
}

class WindowReentryTest : public WindowTest {
 protected:
  bool Settled() { return WaitUntil([&] { return dialogs.Pending() == 0 && Idle(); }); }
  int MessagesSaying(const std::string& text) const {
    int count = 0;
    for (const SeenDialog& seen : dialogs.Seen()) count += seen.text == text ? 1 : 0;
    return count;
  }
};

// A download into a small file system that fills up: "Disque plein", once (the message
// box of the first failed write runs the loop: the chunks that keep coming must not open a
// box each), and the session goes on; the console tool says the same.
TEST_F(WindowReentryTest, AFullDiskSaysSoOnceInTheWindowAndTheConsoleToolAndTheSessionGoesOn) {
  const SmallDisk disk(local.Path(), 256 << 10);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Error();
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.Root().WritePatternFile("big.bin", 8 << 20));
  ASSERT_TRUE(server.Root().WriteFile("small.txt", "small"));
  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe() << LogText();
  Select(*form->ui.ListBox2, {"big.bin"});
  dialogs.Expect([](QWidget* box) {
    WaitUntil([] { return false; }, 200);  // the rest of the download comes meanwhile
    Press("OK")(box);
  });
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return Settled() && !form->Ftp1.Busy; })) << dialogs.Describe() << LogText();
  const std::string full = "Erreur d'écriture vers " + local.PathOf("big.bin") + " : Disque plein.";
  EXPECT_EQ(MessagesSaying(full), 1) << dialogs.Describe();
  EXPECT_FALSE(local.Exists("big.bin"));
  ASSERT_EQ(::unlink(local.PathOf("big.bin.part").c_str()), 0);

  Click(form->ui.Button15);
  ASSERT_TRUE(Settled()) << LogText();
  Names rows = Rows(*form->ui.ListBox2);
  std::sort(rows.begin(), rows.end());  // pyftpdlib's MLSD lists in the folder's own order
  EXPECT_EQ(rows, (Names{"big.bin", "small.txt"}));
  Select(*form->ui.ListBox2, {"small.txt"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << LogText();
  EXPECT_EQ(local.ReadFile("small.txt"), "small");

  // In a folder, in the window and the console tool: the failed file ends the walk,
  // whichever of the two comes first.
  ASSERT_TRUE(server.Root().WritePatternFile("d/big.bin", 8 << 20) && server.Root().WriteFile("d/small.txt", "s"));
  Click(form->ui.Button15);
  ASSERT_TRUE(Settled()) << LogText();
  Select(*form->ui.ListBox1, {"d"});
  dialogs.Expect(Press("&Oui")).Expect(Press("OK"));
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return Settled() && !form->Ftp1.Busy; })) << dialogs.Describe() << LogText();
  EXPECT_EQ(form->FolderTransfer().outcome(), TFolderTransfer::Outcome::Failed) << dialogs.Describe();
  ASSERT_EQ(::unlink(local.PathOf("d/big.bin.part").c_str()), 0);
  EXPECT_TRUE(Disconnect());

  const CliRun run = RunCli({"--port", std::to_string(server.Port()), "--user", server.User(), "--password",
                             server.Password(), "--quiet", server.Host(), "get", "-r", "d", local.PathOf("d2")},
                            "", Millis(30000));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.out.find("error ftpeLocalFileWrite Erreur d'écriture vers " + local.PathOf("d2/big.bin") +
                         " : Disque plein."),
            std::string::npos)
      << run.out << run.err;
  EXPECT_NE(run.out.find("done folder 0 files "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("done folder 0 files 2"), std::string::npos) << run.out;
}

// The greeting comes while the local rename prompt is open: the login prompts open over
// it, the user name and the hidden password go to the server, and the name typed in the
// rename prompt renames the file.
TEST_F(WindowReentryTest, ALoginPromptNeverTakesOverAnOpenPrompt) {
  ScriptedPeer peer;
  peer.Pause(600).Login();
  ScriptListing(peer, {"r.txt"});
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  peer.Start();
  ASSERT_TRUE(local.WriteFile("file.txt", "x"));
  form->ui.FileListBox1->Update();
  Select(*form->ui.FileListBox1, {"file.txt"});
  form->Ftp1.FtpPort = peer.Port();
  dialogs.Expect(Type("127.0.0.1"));
  Click(form->ui.ConnectBtn);  // returns with the greeting still on its way

  bool passwordHidden = false;
  std::string renameCaption;
  QPointer<QWidget> rename;
  dialogs.ExpectLeftOpen(&rename).Expect(Type("u")).Expect([&](QWidget* password) {
    passwordHidden = dynamic_cast<TInputForm*>(password)->ui.Input->echoMode() == QLineEdit::Password;
    Type("p")(password);
  });
  // Once logged in, the rename prompt, still open under the login prompts, is answered.
  Trigger answer([&] { return rename && Idle() && form->ui.ListBox2->Count() == 1; },
                 [&] {
                   renameCaption = rename->windowTitle().toStdString();
                   Type("renamed.txt")(rename);
                 });
  Click(form->ui.Button8);
  ASSERT_TRUE(WaitUntil([&] { return answer.Fired() && Idle(); }, 10000)) << dialogs.Describe() << LogText();
  EXPECT_EQ(renameCaption, "Renommer");
  EXPECT_EQ(dialogs.Seen().size(), 4u) << dialogs.Describe();
  EXPECT_TRUE(passwordHidden);
  EXPECT_TRUE(local.Exists("renamed.txt"));
  EXPECT_FALSE(local.Exists("file.txt"));
  const Names sent = peer.Commands();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], "USER u");
  EXPECT_EQ(sent[1], "PASS p");
  EXPECT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

// Clicks on the remote "Supprimer" and "Actualiser" handled right when the first file of a
// download batch has come (the arrow shows for a moment) start nothing: no second batch
// inside the first, no listing between two files, and the download goes on with its next
// file.
TEST_F(WindowReentryTest, ABatchNeverStartsInsideAnother) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"a", "b"});
  for (const char* name : {"a", "b"}) {
    peer.Expect("TYPE I").Reply("200 ok\r\n").Expect(std::string("SIZE ") + name).Reply("213 3\r\n").Expect("PORT")
        .Reply("200 ok\r\n").Expect(std::string("RETR ") + name)
        .DataConnect().Reply("150 here\r\n").DataSend(std::string(3, name[0])).DataClose().Reply("226 done\r\n");
  }
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  const std::size_t dialogsBefore = dialogs.Seen().size();

  bool clicked = false;
  const TNotifyEvent received = form->Ftp1.OnFileReceived;
  form->Ftp1.OnFileReceived = [&, received](TObject* sender) {
    received(sender);
    if (clicked) return;
    clicked = true;
    Select(*form->ui.ListBox2, {"a", "b"});
    Click(form->ui.Button13);
    Click(form->ui.Button15);
  };
  Select(*form->ui.ListBox2, {"a", "b"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(Settled()) << LogText();
  form->Ftp1.OnFileReceived = received;
  EXPECT_TRUE(clicked);
  EXPECT_EQ(dialogs.Seen().size(), dialogsBefore) << dialogs.Describe();
  EXPECT_EQ(local.ReadFile("a"), "aaa");
  EXPECT_EQ(local.ReadFile("b"), "bbb");
  EXPECT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

// CWD never answered: the time-out message, the arrow back, the connection closed, and the
// window connects again.
TEST_F(WindowReentryTest, AServerThatStopsAnsweringLeavesAUsableWindow) {
  ScriptedPeer peer;
  peer.SetStepTimeout(Millis(10000));
  peer.Login();
  peer.Expect("PWD").Reply("257 \"/\"\r\n").Expect("TYPE A").Reply("200 ok\r\n").Expect("PORT").Reply("200 ok\r\n")
      .Expect("LIST").DataConnect().Reply("150 here\r\n")
      .DataSend("drwxr-xr-x 2 u g 0 Jan 01 00:00 sub\r\n-rw-r--r-- 1 u g 5 Jan 01 00:00 f\r\n").DataClose()
      .Reply("226 done\r\n");
  // The next login, on the same server, goes back to the folder the pane showed, not to the
  // one asked for and never answered.
  peer.Expect("CWD sub").AwaitClose().AcceptNext().Login().Expect("CWD /").Reply("250 ok\r\n");
  ScriptListing(peer, {"again.txt"});
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  TFtpProbe(form->Ftp1).GuardTimes().Reply = 1;

  dialogs.Expect(Press("OK"));
  DoubleClick(*form->ui.ListBox1, "sub");
  EXPECT_TRUE(Screen::IsHourglass());
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && !form->Ftp1.Connected && Idle(); }, 10000))
      << dialogs.Describe() << LogText();
  EXPECT_EQ(dialogs.Seen().back().text, "Le délai de réponse du serveur a été dépassé.");

  dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect(Type("p"));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && Rows(*form->ui.ListBox2) == Names{"again.txt"}; })) << LogText();
  EXPECT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

// Fermer in the middle of a download batch asks first: "&Non", the default, goes on; "&Oui"
// stops the file as the stop button does (its part is kept), the batch's next file is never
// asked for, QUIT goes, and the program ends.
TEST_F(WindowReentryTest, ClosingDuringATransferAsksThenStopsItAndEndsTheProgram) {
  VsftpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  constexpr std::uint64_t kBig = 128ULL << 20;
  ASSERT_TRUE(server.Root().WritePatternFile("big.bin", kBig));
  ASSERT_TRUE(server.Root().WriteFile("next.txt", "next"));
  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe() << LogText();

  Select(*form->ui.ListBox2, {"big.bin", "next.txt"});
  std::string defaultAnswer;
  bool closingAfterNon = true;
  dialogs.Expect([&](QWidget* box) {
    defaultAnswer = static_cast<QMessageBox*>(box)->defaultButton()->text().toStdString();
    Press("&Non")(box);
    closingAfterNon = form->Closing();
    QTimer::singleShot(0, form.get(), [&] { Click(form->ui.Button10); });
  });
  dialogs.Expect(Press("&Oui"));
  Trigger close([&] { return form->Ftp1.BytesTransferred > (1 << 20); }, [&] { Click(form->ui.Button10); });
  QTimer::singleShot(0, form.get(), [&] { Click(form->ui.SpeedButton2); });
  EXPECT_EQ(RunProgramLoop(30000), 0) << LogText();
  EXPECT_TRUE(close.Fired());
  EXPECT_EQ(defaultAnswer, "&Non");
  EXPECT_FALSE(closingAfterNon);
  EXPECT_EQ(dialogs.Seen().back().text.rfind("Un transfert est en cours.", 0), 0u) << dialogs.Describe();
  EXPECT_FALSE(form->Ftp1.Connected);
  const std::string log = LogText();
  EXPECT_NE(log.find("ABOR"), std::string::npos) << log;
  EXPECT_NE(log.find("QUIT"), std::string::npos) << log;
  EXPECT_EQ(log.find("RETR next.txt"), std::string::npos) << log;
  EXPECT_FALSE(local.Exists("big.bin"));
  EXPECT_GT(local.FileSize("big.bin.part").value_or(0), 0u) << "the part received is kept";
}

// A confirmation left open during an upload: the loop under the box runs the store, so the
// file keeps going out, and it arrives whole.
TEST_F(WindowReentryTest, AnUploadKeepsGoingWhileAMessageIsOpen) {
  VsftpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  constexpr std::uint64_t kBig = 256ULL << 20;
  ASSERT_TRUE(local.WritePatternFile("up.bin", kBig));
  ASSERT_TRUE(local.WriteFile("other.txt", "other"));
  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe() << LogText();
  form->ui.FileListBox1->Update();
  Select(*form->ui.FileListBox1, {"up.bin"});

  std::int64_t atOpen = -1, atClose = -1;
  dialogs.Expect([&](QWidget* box) {
    atOpen = form->Ftp1.BytesTransferred;
    WaitUntil([] { return false; }, 300);
    atClose = form->Ftp1.BytesTransferred;
    Press("&Non")(box);
  });
  Trigger ask([&] { return TFtpProbe(form->Ftp1).Storing() && form->Ftp1.BytesTransferred > (1 << 20); },
              [&] {
                Select(*form->ui.FileListBox1, {"other.txt"});
                Click(form->ui.Button9);
              });
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(Settled()) << LogText();
  EXPECT_TRUE(ask.Fired());
  EXPECT_LT(atOpen, static_cast<std::int64_t>(kBig));
  EXPECT_GT(atClose, atOpen) << "the store stood still while the box was open";
  EXPECT_TRUE(local.Exists("other.txt"));
  EXPECT_TRUE(SameFiles(local.PathOf("up.bin"), server.Root().PathOf("up.bin")));
  EXPECT_TRUE(Disconnect());
}

}  // namespace
}  // namespace talvo::test
