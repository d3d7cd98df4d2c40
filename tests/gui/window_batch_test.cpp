// Batches and the busy cursor against a scripted server, for what real servers do not
// produce: listed names that would leave the local directory, a connection that ends or is
// reset in the middle of a batch, replies held back while the test clicks, and a request
// the component refuses at once. Also the throughput line's arithmetic.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTimer>

#include "tests/gui/WindowHarness.h"
#include "tests/support/ScriptedPeer.h"
#include "ui/Screen.h"
#include "ui/ThroughputLine.h"

namespace talvo::test {
namespace {

using Names = std::vector<std::string>;

using WindowBatchTest = WindowTest;

// Whether the names came by LIST or by MLSD.
TEST_F(WindowBatchTest, ADownloadNeverWritesOutsideTheLocalDirectory) {
  const Names hostile = {"../escaped", "/tmp/absolute", "..", "."};
  Names listed = hostile;
  listed.push_back("good.txt");
  for (const bool mlsd : {false, true}) {
    SCOPED_TRACE(mlsd ? "MLSD" : "LIST");
    const std::string content = mlsd ? "by MLSD" : "by LIST";
    ScriptedPeer peer;
    peer.Login(mlsd ? ScriptedPeer::MlsdLogin() : ScriptedPeer::LoginReplies{});
    ScriptListing(peer, listed, false, mlsd);
    peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("SIZE good.txt").Reply("213 7\r\n").Expect("PORT")
        .Reply("200 ok\r\n").Expect("RETR good.txt")
        .DataConnect().Reply("150 here\r\n").DataSend(content).DataClose().Reply("226 done\r\n")
        .Expect("QUIT").Reply("221 bye\r\n").Close();
    const std::size_t seenBefore = dialogs.Seen().size();
    form->Ftp1.InitialDirectory.clear();  // the first round's "/" would be entered at login
    ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
    ASSERT_EQ(Rows(*form->ui.ListBox2).size(), listed.size()) << LogText();

    Select(*form->ui.ListBox2, listed);
    for (std::size_t i = 0; i < hostile.size(); ++i) dialogs.Expect(Press("OK"));
    if (mlsd) dialogs.Expect(Press("&Remplacer"));  // the first round's good.txt is there
    Click(form->ui.SpeedButton2);
    ASSERT_TRUE(WaitUntil([&] { return Idle() && dialogs.Pending() == 0; })) << LogText();
    EXPECT_EQ(local.ReadFile("good.txt"), content);
    EXPECT_FALSE(local.Exists("../escaped"));
    // The rows are in name order: ".", "..", "../escaped", "/tmp/absolute".
    EXPECT_NE(dialogs.Seen()[seenBefore + 5].text.find("../escaped"), std::string::npos) << dialogs.Describe();
    ASSERT_TRUE(Disconnect());
    ASSERT_TRUE(peer.WaitFinished(Millis(5000)));
    EXPECT_EQ(peer.Failure(), "");
  }
}

// The server goes away after the first deletion: the batch ends there, without a request
// the component must refuse, and the arrow comes back.
TEST_F(WindowBatchTest, ABatchStopsWhenTheConnectionEnds) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"a", "b", "c"});
  peer.Expect("DELE a").Reply("250 gone\r\n").Expect("DELE b").Reply("421 closing\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  Select(*form->ui.ListBox2, {"a", "b", "c"});
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.Button13);
  ASSERT_TRUE(WaitUntil([&] { return !form->Ftp1.Connected && !Screen::IsHourglass(); })) << LogText();
  ASSERT_TRUE(peer.WaitFinished(Millis(5000)));
  EXPECT_EQ(peer.Failure(), "");
  const Names sent = peer.Commands();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(), [](const std::string& c) { return c.rfind("DELE", 0) == 0; }), 2);
}

// While an item's reply is held back the hourglass shows and every command that would
// reach the engine is refused by the window itself, silently and without ending the batch:
// the next item is still sent.
TEST_F(WindowBatchTest, WhileAnItemRunsOtherRemoteCommandsAreRefusedAndTheBatchGoesOn) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"a", "b"});
  peer.Expect("DELE a").Hold().Reply("250 gone\r\n").Expect("DELE b").Reply("250 gone\r\n");
  ScriptListing(peer, {"b"});
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  Select(*form->ui.ListBox1, {".."});
  Select(*form->ui.ListBox2, {"a", "b"});

  bool busyWhileHeld = false;
  std::vector<std::string> leftBusy;  // the commands after which the hourglass had gone
  Trigger meanwhile([&] { return Sent(peer, "DELE a"); }, [&] {
    busyWhileHeld = Screen::IsHourglass();
    const std::vector<std::pair<std::string, QAbstractButton*>> commands = {
        {"Connecter", form->ui.ConnectBtn},   {"Déconnecter", form->ui.Button11},
        {"Créer", form->ui.MkDirFTPBtn},      {"Supprimer répertoire", form->ui.RmDirFTPBtn},
        {"Renommer", form->ui.Button12},      {"Supprimer", form->ui.Button13},
        {"Actualiser", form->ui.Button15},    {"Télécharger", form->ui.SpeedButton2}};
    for (const auto& [name, button] : commands) {
      Click(button);
      if (!Screen::IsHourglass()) leftBusy.push_back(name);
    }
    DoubleClick(*form->ui.ListBox1, "..");
    if (!Screen::IsHourglass()) leftBusy.push_back("double click");
    peer.Release();
  });
  dialogs.Expect(Press("&Oui"));
  Click(form->ui.Button13);
  EXPECT_TRUE(meanwhile.Fired());
  EXPECT_TRUE(busyWhileHeld);
  EXPECT_EQ(leftBusy, std::vector<std::string>{});
  EXPECT_EQ(dialogs.Seen().size(), 4u) << dialogs.Describe();  // the three prompts, the one question
  ASSERT_TRUE(WaitUntil([&] { return Idle() && form->ui.ListBox2->Count() == 1; }, 5000)) << LogText();
  EXPECT_TRUE(form->Ftp1.Connected);
  ASSERT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "") << "the commands: " << ::testing::PrintToString(peer.Commands());
}

// A request the component refuses at once ends in no event, so the arrow must come back at
// once; an accepted one keeps the hourglass until its end. ("Actualiser" shows no
// hourglass, so a change of directory can be asked while its listing runs.)
TEST_F(WindowBatchTest, ARequestRefusedAtOncePutsTheArrowBackAndAnAcceptedOneKeepsTheHourglass) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"x"});
  ScriptListing(peer, {"x"}, true);
  peer.Expect("CWD ..").Hold().Reply("250 ok\r\n");
  ScriptListing(peer, {"y"});
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();

  Click(form->ui.Button15);
  ASSERT_TRUE(form->Ftp1.Busy);
  DoubleClick(*form->ui.ListBox1, "..");
  EXPECT_FALSE(Screen::IsHourglass()) << "refused by the component";
  peer.Release();
  ASSERT_TRUE(WaitUntil([&] { return Idle(); })) << LogText();

  DoubleClick(*form->ui.ListBox1, "..");
  ASSERT_TRUE(WaitUntil([&] { return Sent(peer, "CWD .."); }, 5000));
  EXPECT_TRUE(Screen::IsHourglass()) << "accepted, and its reply held back";
  peer.Release();
  ASSERT_TRUE(WaitUntil([&] { return Idle() && Rows(*form->ui.ListBox2) == Names{"y"}; })) << LogText();
  ASSERT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

// A reset in the middle of a delete batch is an error with no completion event: the batch
// ends at once, with one message and no further command.
TEST_F(WindowBatchTest, AResetInTheMiddleOfABatchEndsItAtOnceWithOneMessage) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"a", "b", "c"});
  peer.Expect("DELE a").Reply("250 gone\r\n").Expect("DELE b").Reset();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  Select(*form->ui.ListBox2, {"a", "b", "c"});
  // A batch that kept waiting would wait for ever: closing the window (no connection any
  // more) is the one thing that still ends it.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, form.get(), [&] { form->close(); });
  watchdog.start(10000);
  dialogs.Expect(Press("&Oui")).Expect(Press("OK"));
  QElapsedTimer clock;
  clock.start();
  Click(form->ui.Button13);
  EXPECT_LT(clock.elapsed(), 5000) << "the batch went on waiting after the error";
  watchdog.stop();
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && !Screen::IsHourglass(); })) << dialogs.Describe();
  ASSERT_EQ(dialogs.Seen().size(), 5u) << dialogs.Describe();
  EXPECT_EQ(dialogs.Seen().back().text, "La connexion a été rompue de façon inattendue par le serveur.");
  EXPECT_FALSE(form->Ftp1.Connected);
  ASSERT_TRUE(peer.WaitFinished(Millis(5000)));
  EXPECT_EQ(peer.Failure(), "");
  EXPECT_EQ(peer.Commands().back(), "DELE b");
}

// A double click on a folder while a download runs is ignored, and the row it selected
// does not make the next download of a file a folder's.
TEST_F(WindowBatchTest, AFolderLeftSelectedByAnIgnoredDoubleClickStaysBehind) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"a", "b"}, false, false, {"sub"});
  for (const char* name : {"a", "b"}) {
    peer.Expect("TYPE I").Reply("200 ok\r\n").Expect(std::string("SIZE ") + name).Reply("213 1\r\n")
        .Expect("PORT").Reply("200 ok\r\n").Expect(std::string("RETR ") + name).DataConnect();
    if (name[0] == 'a') peer.Hold();
    peer.Reply("150 here\r\n").DataSend(name).DataClose().Reply("226 done\r\n");
  }
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();

  Select(*form->ui.ListBox2, {"a"});
  Trigger meanwhile([&] { return Sent(peer, "RETR a"); }, [&] {
    DoubleClick(*form->ui.ListBox1, "sub");
    peer.Release();
  });
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && local.Exists("a"); })) << LogText();
  EXPECT_TRUE(meanwhile.Fired());
  Select(*form->ui.ListBox2, {"b"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && local.Exists("b"); })) << LogText();
  EXPECT_EQ(dialogs.Seen().size(), 3u) << dialogs.Describe();  // the login's: no folder question
  EXPECT_FALSE(Sent(peer, "CWD"));
  ASSERT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

// A store the server refuses opens no data connection: the counters still hold the last
// transfer's figures, which must not be reported as this file's.
TEST_F(WindowBatchTest, ARefusedStoreWritesNoThroughputLine) {
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, {"x"});
  peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("PORT").Reply("200 ok\r\n").Expect("STOR up.txt")
      .Reply("553 not allowed\r\n");
  ScriptListing(peer, {"x"});
  peer.Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  ASSERT_TRUE(local.WriteFile("up.txt", "data"));
  form->ui.FileListBox1->Update();
  Select(*form->ui.FileListBox1, {"up.txt"});
  form->Ftp1.BytesTransferred = 999;
  form->Ftp1.TransferTime = 1234;
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && peer.Commands().size() >= 15; })) << LogText();
  EXPECT_EQ(LogText().find("octets transférés"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("553 not allowed"), std::string::npos);
  ASSERT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

TEST(ThroughputLineTest, ShowsSecondsMillisecondsAndRateFromSixtyFourBitCounters) {
  EXPECT_EQ(ThroughputLine(600, 50), "600 octets transférés en 0.050 secondes (12Ko par seconde)");
  EXPECT_EQ(ThroughputLine(5, 1005), "5 octets transférés en 1.005 secondes (0Ko par seconde)");
  EXPECT_EQ(ThroughputLine(2468, 1234), "2468 octets transférés en 1.234 secondes (2Ko par seconde)");
  EXPECT_EQ(ThroughputLine(3LL << 30, 2000),
            "3221225472 octets transférés en 2.000 secondes (1610612Ko par seconde)");
}

}  // namespace
}  // namespace talvo::test
