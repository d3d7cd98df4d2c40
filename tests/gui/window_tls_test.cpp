// The window and the encrypted session against vsftpd with TLS and a self-signed
// certificate: the trust question ("Confirmation", the fingerprint), "&Non" ends the
// connection, "&Oui" connects and pins, the next session asks nothing, and a changed
// certificate is asked about with a warning and refused when the answer is no; one for
// another host name is asked about with a warning too.
#include <QMessageBox>
#include <QPushButton>

#include "tests/gui/WindowHarness.h"
#include "ui/Screen.h"

namespace talvo::test {
namespace {

class WindowTlsTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    form->Ftp1.TlsMode = tlsmAuto;  // as the program runs
    server.EnableTls();
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_TRUE(server.Root().WriteFile("secret.txt", "s"));
    form->Ftp1.FtpPort = server.Port();
  }
  void TearDown() override {
    WindowTest::TearDown();
    server.Stop();
  }
  void Connect() { Click(form->ui.ConnectBtn); }
  bool Ended() {
    return WaitUntil([&] { return dialogs.Pending() == 0 && !form->Ftp1.Connected && Idle(); });
  }
  bool Listed() {
    const std::vector<std::string> listed = {"secret.txt"};
    return WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && Rows(*form->ui.ListBox2) == listed; });
  }
  const SeenDialog& Question() const { return dialogs.Seen()[dialogs.Seen().size() - 2]; }

  VsftpdServer server;
};

TEST_F(WindowTlsTest, TheTrustQuestionNonOuiThenPinnedThenChanged) {
  const std::string fingerprint = server.Certificate().fingerprint;
  // "&Non": the connection ends with the French message.
  dialogs.Expect(Type("127.0.0.1")).Expect(Press("&Non")).Expect(Press("OK"));
  Connect();
  ASSERT_TRUE(Ended()) << dialogs.Describe() << LogText();
  EXPECT_EQ(Question().caption, "Confirmation");
  EXPECT_NE(Question().text.find(fingerprint), std::string::npos) << Question().text;
  EXPECT_EQ(dialogs.Seen().back().text, "Le certificat du serveur n'a pas été accepté ; la connexion est abandonnée.");
  EXPECT_EQ(LogText().find("USER"), std::string::npos) << "logged in after all";

  // "&Oui": logged in, encrypted, and the certificate pinned.
  dialogs.Expect(Type("127.0.0.1")).Expect(Press("&Oui")).Expect(Type(server.User())).Expect(Type(server.Password()));
  Connect();
  ASSERT_TRUE(Listed()) << dialogs.Describe() << LogText();
  EXPECT_NE(LogText().find("Connexion chiffrée (TLSv1."), std::string::npos) << LogText();
  ASSERT_TRUE(Disconnect());

  // Pinned: no question.
  const std::size_t seen = dialogs.Seen().size();
  dialogs.Expect(Type("127.0.0.1")).Expect(Type(server.User())).Expect(Type(server.Password()));
  Connect();
  ASSERT_TRUE(Listed()) << dialogs.Describe() << LogText();
  EXPECT_EQ(dialogs.Seen().size(), seen + 3) << dialogs.Describe();
  ASSERT_TRUE(Disconnect());

  // Another certificate for the same server: a warning, "&Non" by default, refused.
  ASSERT_TRUE(server.ChangeCertificate());
  ASSERT_TRUE(server.Restart()) << server.Error();
  bool noByDefault = false;
  dialogs.Expect(Type("127.0.0.1")).Expect([&](QWidget* dialog) {
    auto* box = qobject_cast<QMessageBox*>(dialog);
    noByDefault = box != nullptr && box->defaultButton() != nullptr && box->defaultButton()->text() == "&Non";
    Press("&Non")(dialog);
  });
  dialogs.Expect(Press("OK"));
  Connect();
  ASSERT_TRUE(Ended()) << dialogs.Describe() << LogText();
  EXPECT_TRUE(noByDefault);
  EXPECT_EQ(Question().text.rfind("ATTENTION", 0), 0u) << Question().text;
  EXPECT_NE(Question().text.find(fingerprint), std::string::npos) << "the pinned fingerprint is shown";
  EXPECT_NE(Question().text.find(server.Certificate().fingerprint), std::string::npos) << Question().text;
  EXPECT_EQ(dialogs.Seen().back().text.rfind("Attention : le certificat du serveur a changé", 0), 0u);
}

// A certificate for another host name: a warning that names it and the name typed.
TEST_F(WindowTlsTest, ACertificateForAnotherHostNameIsAskedAboutWithAWarning) {
  ASSERT_TRUE(server.ChangeCertificate("nas.example"));
  ASSERT_TRUE(server.Restart()) << server.Error();
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  dialogs.Expect(Type("127.0.0.1")).Expect([&](QWidget* dialog) {
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) icon = box->icon();
    Press("&Oui")(dialog);
  });
  dialogs.Expect(Type(server.User())).Expect(Type(server.Password()));
  Connect();
  ASSERT_TRUE(Listed()) << dialogs.Describe() << LogText();
  EXPECT_EQ(icon, QMessageBox::Warning);
  const std::string question = dialogs.Seen()[1].text;
  EXPECT_NE(question.find("établi au nom de nas.example, et non de 127.0.0.1"), std::string::npos) << question;
}

}  // namespace
}  // namespace talvo::test
