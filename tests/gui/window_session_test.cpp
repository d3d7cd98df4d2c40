// The window's session against real servers and a scripted peer: the three prompts, the
// conversation in the log, the French message of each failure to connect, disconnecting,
// closing while connected or busy, a prompt left open while the server goes away (and the
// cursor after it), the prompt dialog's own manners, the log's bound and the byte counter.
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "ftp/FtpProbe.h"
#include "tests/gui/WindowHarness.h"
#include "tests/support/LoopbackSockets.h"
#include "tests/support/ScriptedPeer.h"
#include "ui/Screen.h"

namespace talvo::test {
namespace {

class WindowSessionTest : public WindowTest {};

TEST_F(WindowSessionTest, ConnectsThroughThePromptsShowsTheConversationAndKeepsTheListAfterDisconnecting) {
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.Root().MakeDirectory("pub"));
  ASSERT_TRUE(server.Root().WriteFile("a.txt", "hello"));
  EXPECT_EQ(form->windowTitle().toStdString(), "Talvo FTP — non connecté");

  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe() << LogText();
  // The server, its port (not 21), the folder shown, and a session in clear.
  EXPECT_EQ(form->windowTitle().toStdString(),
            "Talvo FTP — 127.0.0.1:" + std::to_string(server.Port()) + " : / — en clair");

  const std::vector<SeenDialog> expected = {{"Serveur FTP", "Saisissez le serveur ftp :"},
                                            {"Nom d'utilisateur", "Saisissez le nom d'utilisateur :"},
                                            {"Mot de passe", "Saisissez le mot de passe :"}};
  ASSERT_EQ(dialogs.Seen().size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(dialogs.Seen()[i].caption, expected[i].caption);
    EXPECT_EQ(dialogs.Seen()[i].text, expected[i].text);
  }
  // Each command line keeps its CR LF, then the log's own line break: an empty line.
  const std::string log = LogText();
  EXPECT_NE(log.find("USER talvo\n\n"), std::string::npos) << log;
  EXPECT_NE(log.find("PASS ********\n\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("vela-pass-42"), std::string::npos) << log;
  EXPECT_NE(log.find("230"), std::string::npos) << log;
  EXPECT_EQ(Rows(*form->ui.ListBox1), (std::vector<std::string>{"..", "pub"}));
  EXPECT_EQ(Rows(*form->ui.ListBox2), (std::vector<std::string>{"a.txt"}));

  ASSERT_TRUE(Disconnect()) << LogText();
  EXPECT_EQ(form->windowTitle().toStdString(), "Talvo FTP — non connecté");
  EXPECT_NE(LogText().find("QUIT\n"), std::string::npos);
  EXPECT_EQ(Rows(*form->ui.ListBox2), (std::vector<std::string>{"a.txt"}));
  EXPECT_FALSE(Screen::IsHourglass());
}

// A session on another server starts in that server's own folder, never in the folder
// the last one showed; back on the same server, the pane goes back where it was.
TEST_F(WindowSessionTest, AnotherServerStartsInItsOwnFolderAndTheSameOneGoesBack) {
  PyFtpdServer first, second;
  ASSERT_TRUE(first.Root().MakeDirectory("pub") && first.Root().WriteFile("pub/in-pub.txt", "p"));
  ASSERT_TRUE(second.Root().WriteFile("second.txt", "s"));
  ASSERT_TRUE(first.Start()) << first.Error();
  ASSERT_TRUE(second.Start()) << second.Error();
  ASSERT_TRUE(ConnectTo(first, first.User(), first.Password())) << dialogs.Describe() << LogText();
  DoubleClick(*form->ui.ListBox1, "pub");
  ASSERT_TRUE(WaitUntil([&] { return Idle() && Rows(*form->ui.ListBox2) == std::vector<std::string>{"in-pub.txt"}; }));
  ASSERT_TRUE(Disconnect());

  form->ui.Log->clear();
  ASSERT_TRUE(ConnectTo(second, second.User(), second.Password())) << dialogs.Describe() << LogText();
  EXPECT_EQ(LogText().find("CWD"), std::string::npos) << LogText();
  EXPECT_EQ(Rows(*form->ui.ListBox2), std::vector<std::string>{"second.txt"});
  ASSERT_TRUE(Disconnect());

  ASSERT_TRUE(ConnectTo(first, first.User(), first.Password())) << dialogs.Describe() << LogText();
  EXPECT_EQ(Rows(*form->ui.ListBox2), std::vector<std::string>{"in-pub.txt"}) << LogText();
  EXPECT_EQ(form->windowTitle().toStdString(),
            "Talvo FTP — 127.0.0.1:" + std::to_string(first.Port()) + " : /pub — en clair");
  EXPECT_TRUE(Disconnect());  // while the servers still run
}

// "&Annuler" at a prompt ends the attempt, with nothing of it sent; a service that is not
// FTP (another's banner, then nothing) is given up at once.
TEST_F(WindowSessionTest, EachFailureToConnectShowsItsFrenchMessageAndLeavesTheArrow) {
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ScriptedPeer notFtp;
  notFtp.Reply("SSH-2.0-OpenSSH_9.2p1 Debian-2+deb12u3\r\n").AwaitClose();
  notFtp.Start();
  const std::string cancelled = "Transaction annulée.";
  struct Case {
    const char* what;
    std::uint16_t port;
    std::vector<DialogAnswers::Action> answers;
    std::string message;
    std::string notSent = {};  // a command that must not have gone
  };
  const std::vector<Case> cases = {
      {"refused connection", PickFreePort(), {Type("127.0.0.1")},
       "Le serveur refuse la connection. Veuillez vérifier que vous avez correctement saisi le nom du serveur FTP."},
      {"server prompt cancelled empty", server.Port(), {Type("", false)}, cancelled},
      {"server prompt cancelled after typing", server.Port(), {Type("127.0.0.1", false)}, cancelled},
      {"user prompt cancelled", server.Port(), {Type("127.0.0.1"), Type(server.User(), false)}, cancelled, "USER"},
      {"password prompt cancelled", server.Port(),
       {Type("127.0.0.1"), Type(server.User()), Type(server.Password(), false)}, cancelled, "PASS"},
      {"wrong password", server.Port(), {Type("127.0.0.1"), Type(server.User()), Type("wrong")},
       "Accès refusé. Veuillez vérifier votre nom d'utilisateur et votre mot de passe."},
      {"not an FTP service", notFtp.Port(), {Type("127.0.0.1")}, "Le serveur FTP ne répond pas."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = dialogs.Seen().size();
    form->ui.Log->clear();
    form->Ftp1.FtpPort = c.port;
    for (const auto& answer : c.answers) dialogs.Expect(answer);
    dialogs.Expect(Press("OK"));
    Click(form->ui.ConnectBtn);
    ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && !form->Ftp1.Connected && !Screen::IsHourglass(); }))
        << dialogs.Describe() << LogText();
    ASSERT_EQ(dialogs.Seen().size(), before + c.answers.size() + 1);
    EXPECT_EQ(dialogs.Seen().back().caption, "Talvo FTP");
    EXPECT_EQ(dialogs.Seen().back().text, c.message);
    if (!c.notSent.empty()) {
      EXPECT_EQ(LogText().find(c.notSent), std::string::npos) << LogText();
    }
  }
}

TEST_F(WindowSessionTest, ThePromptEnablesOkOnlyWithTextAndEscapeCancels) {
  bool okAtShow = true, okWithText = false, okWhenErased = true, stillOpenAfterEnter = false;
  dialogs.Expect([&](QWidget*) {
    okAtShow = input->ui.Button1->isEnabled();
    // The dialog's window becomes active a moment after it shows.
    EXPECT_TRUE(WaitUntil([&] { return input->ui.Input->hasFocus(); }, 2000));
    QTest::keyClick(input->ui.Input, Qt::Key_A);
    okWithText = input->ui.Button1->isEnabled();
    QTest::keyClick(input->ui.Input, Qt::Key_Backspace);
    okWhenErased = input->ui.Button1->isEnabled();
    QTest::keyClick(input->ui.Input, Qt::Key_Return);
    stillOpenAfterEnter = input->isVisible();
    QTest::keyClicks(input->ui.Input, " ");  // a blank counts as text
    EXPECT_TRUE(input->ui.Button1->isEnabled());
    QTest::keyClick(input->ui.Input, Qt::Key_Escape);
  });
  QString answer;
  const bool ok = input->Ask("Renommer", "Nouveau nom :", answer);
  EXPECT_FALSE(okAtShow);
  EXPECT_TRUE(okWithText);
  EXPECT_FALSE(okWhenErased);
  EXPECT_TRUE(stillOpenAfterEnter);
  EXPECT_FALSE(ok);
  EXPECT_EQ(answer, " ");
  EXPECT_EQ(input->windowTitle(), "Renommer");
}

TEST_F(WindowSessionTest, ClosingWhileConnectedEndsTheProgramOnceTheConnectionEnds) {
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(ConnectTo(server, server.User(), server.Password())) << dialogs.Describe() << LogText();

  QTimer::singleShot(0, form.get(), [&] { Click(form->ui.Button10); });
  EXPECT_EQ(RunProgramLoop(20000), 0) << LogText();
  EXPECT_FALSE(form->Ftp1.Connected);
  EXPECT_NE(LogText().find("QUIT"), std::string::npos);
}

// A server that never answers the QUIT sent by the close: the engine's bounded wait ends
// the connection, and with it the program.
TEST_F(WindowSessionTest, ClosingEndsTheProgramEvenWhenTheServerNeverAnswersTheQuit) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"a.txt"});
  peer.Expect("QUIT").Pause(30000);
  peer.Start();
  form->Ftp1.FtpPort = peer.Port();
  TFtpProbe(form->Ftp1).GuardTimes().QuitReply = 1;
  dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect(Type("p"));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && form->ui.ListBox2->Count() == 1; })) << LogText();

  QTimer::singleShot(0, form.get(), [&] { form->close(); });
  EXPECT_EQ(RunProgramLoop(20000), 0) << LogText();
  EXPECT_FALSE(form->Ftp1.Connected);
}

// The scripted server holds the first listing, so the engine is busy when the window is
// closed: the listing is stopped, the window stays, and the program ends at the end of the
// connection, here the server's close, without a message to hold it up.
TEST_F(WindowSessionTest, ClosingWhileBusyKeepsTheWindowUntilTheConnectionEnds) {
  ScriptedPeer peer;
  peer.Login().Expect("PWD").Pause(1500).Close();
  peer.Start();
  form->Ftp1.FtpPort = peer.Port();
  dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect(Type("p"));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(WaitUntil([&] { return form->Ftp1.Busy && TFtpProbe(form->Ftp1).State() == csAwaitPwd; })) << LogText();

  form->close();
  EXPECT_TRUE(form->isVisible());
  EXPECT_TRUE(form->Closing());
  EXPECT_EQ(RunProgramLoop(20000), 0) << LogText();
  EXPECT_FALSE(form->Ftp1.Connected);
  EXPECT_FALSE(Screen::IsHourglass());
}

// While the password prompt is open, Qt's nested loop keeps running the engine: the
// server's last words and its close arrive meanwhile. Answering afterwards must neither
// crash nor leave the window busy.
TEST_F(WindowSessionTest, TheServerGoingAwayWhileAPromptIsOpenLeavesAUsableWindow) {
  ScriptedPeer peer;
  peer.Reply("220 ready\r\n").Expect("USER").Reply("331 Password required\r\n").Pause(100)
      .Reply("421 Timeout.\r\n").Close();
  peer.Start();
  form->Ftp1.FtpPort = peer.Port();
  dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect([&](QWidget* dialog) {
    EXPECT_TRUE(WaitUntil([&] { return peer.Finished(); }, 10000));
    WaitUntil([] { return false; }, 300);
    Type("late")(dialog);
  });
  // The server's 421 refuses the login; nothing else is reported, whatever the close did
  // while the message was open.
  dialogs.Expect(Press("OK"));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && !form->Ftp1.Connected && Idle(); }))
      << dialogs.Describe() << LogText();
  EXPECT_NE(LogText().find("421 Timeout."), std::string::npos) << LogText();
  EXPECT_EQ(dialogs.Seen().back().text,
            "Accès refusé. Veuillez vérifier votre nom d'utilisateur et votre mot de passe.");
  EXPECT_EQ(peer.Failure(), "");
}

// The password prompt is open (the arrow shows in place of the hourglass) when the server
// closes the connection: the end of the connection puts the arrow back for good, and the
// prompt closing afterwards must not bring the hourglass back, since nothing would end it.
TEST_F(WindowSessionTest, TheArrowPutBackWhileAPromptIsOpenStaysWhenItCloses) {
  ScriptedPeer peer;
  peer.Reply("220 ready\r\n").Expect("USER").Reply("331 Password required\r\n").Close();
  peer.Start();
  form->Ftp1.FtpPort = peer.Port();
  int quits = 0;
  const TNotifyEvent windowHandler = form->Ftp1.OnFtpQuit;
  form->Ftp1.OnFtpQuit = [&](TObject* sender) {
    ++quits;
    windowHandler(sender);
  };
  dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect([&](QWidget* dialog) {
    EXPECT_TRUE(WaitUntil([&] { return quits == 1; }, 10000)) << "the connection never ended";
    Type("late")(dialog);
  });
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0; })) << dialogs.Describe();
  WaitUntil([] { return false; }, 200);
  EXPECT_FALSE(Screen::IsHourglass());
  EXPECT_FALSE(form->Ftp1.Connected);
  EXPECT_EQ(dialogs.Seen().size(), 3u) << dialogs.Describe();
  EXPECT_EQ(peer.Failure(), "");
}

TEST_F(WindowSessionTest, TheLogStaysUnderItsBoundAndKeepsTheNewestText) {
  // Reads of 2048 bytes holding lines of 80, as a long session brings them: 2.5 MiB in all.
  // The bound holds after every append, the one that crosses it included.
  std::string chunk;
  while (chunk.size() < 2048 - 82) chunk += std::string(78, 'x') + "\r\n";
  int largest = 0;
  for (int i = 0; i < 1300; ++i) {
    form->Ftp1FtpInfo(&form->Ftp1, ftpiReceived, chunk + std::to_string(i) + "\r\n");
    largest = std::max(largest, form->ui.Log->document()->characterCount());
  }
  EXPECT_LE(largest, TForm1::kLogCapacity);
  EXPECT_GT(largest, TForm1::kLogCapacity - 4096) << "the log was emptied long before it was full";
  EXPECT_NE(LogText().find("1299\n\n"), std::string::npos);
}

// The byte counter shows the count of each progress report: again after being emptied by
// a store when the next transfer counts the same, and 0 when that is the count.
TEST_F(WindowSessionTest, TheByteCounterShowsEveryCountItIsGiven) {
  const auto progress = [&](std::int64_t bytes) {
    form->Ftp1.BytesTransferred = bytes;
    form->Ftp1FtpInfo(&form->Ftp1, ftpiProgress, "");
    return form->ui.ByteCounter->Caption().toStdString();
  };
  EXPECT_EQ(progress(0), "0");
  EXPECT_EQ(progress(2048), "2048");
  form->ui.ByteCounter->Clear();
  EXPECT_EQ(progress(2048), "2048");
  form->ui.ByteCounter->Clear();
  EXPECT_EQ(progress(0), "0");
}

}  // namespace
}  // namespace talvo::test
