// Batches against a scripted server, for what real servers do not produce: listed names
// that would leave the local directory, and a connection that ends in the middle of a
// batch. Also the throughput line's arithmetic.
#include "tests/gui/WindowHarness.h"
#include "tests/support/ScriptedPeer.h"
#include "ui/Screen.h"
#include "ui/ThroughputLine.h"

namespace talvo::test {
namespace {

using Names = std::vector<std::string>;

class WindowBatchTest : public WindowTest {
 protected:
  bool LogInTo(ScriptedPeer& peer) {
    peer.Start();
    form->Ftp1.FtpPort = peer.Port();
    dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect(Type("p"));
    Click(form->ui.ConnectBtn);
    return WaitUntil([&] { return Idle() && form->ui.ListBox2->Count() > 0; });
  }
};

TEST_F(WindowBatchTest, ADownloadNeverWritesOutsideTheLocalDirectory) {
  const Names hostile = {"../escaped", "/tmp/absolute", "..", "."};
  Names listed = hostile;
  listed.push_back("good.txt");
  ScriptedPeer peer;
  peer.Login();
  ScriptListing(peer, listed);
  peer.Expect("TYPE I").Reply("200 ok\r\n").Expect("PORT").Reply("200 ok\r\n").Expect("RETR good.txt")
      .DataConnect().Reply("150 here\r\n").DataSend("hello").DataClose().Reply("226 done\r\n")
      .Expect("QUIT").Reply("221 bye\r\n").Close();
  ASSERT_TRUE(LogInTo(peer)) << dialogs.Describe() << LogText();
  ASSERT_EQ(Rows(*form->ui.ListBox2).size(), listed.size()) << LogText();

  Select(*form->ui.ListBox2, listed);
  for (std::size_t i = 0; i < hostile.size(); ++i) dialogs.Expect(Press("OK"));
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && dialogs.Pending() == 0; })) << LogText();
  EXPECT_EQ(local.ReadFile("good.txt"), "hello");
  EXPECT_FALSE(local.Exists("../escaped"));
  EXPECT_NE(dialogs.Seen()[3].text.find("../escaped"), std::string::npos) << dialogs.Describe();
  ASSERT_TRUE(Disconnect());
  ASSERT_TRUE(peer.WaitFinished(Millis(5000)));
  EXPECT_EQ(peer.Failure(), "");
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
  ASSERT_TRUE(WaitUntil([&] { return Idle() && peer.Commands().size() >= 14; })) << LogText();
  EXPECT_EQ(LogText().find("octets transférés"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("553 not allowed"), std::string::npos);
  ASSERT_TRUE(Disconnect());
  EXPECT_EQ(peer.Failure(), "");
}

TEST(ThroughputLineTest, ShowsSecondsMillisecondsAndRateFromSixtyFourBitCounters) {
  EXPECT_EQ(ThroughputLine(600, 50), "600 octets transférés en 0.050 secondes (12Ko par seconde)");
  EXPECT_EQ(ThroughputLine(5, 1005), "5 octets transférés en 1.005 secondes (0Ko par seconde)");
  EXPECT_EQ(ThroughputLine(3LL << 30, 2000),
            "3221225472 octets transférés en 2.000 secondes (1610612Ko par seconde)");
}

}  // namespace
}  // namespace talvo::test
