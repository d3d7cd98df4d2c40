// The window over SFTP against a real sshd: sftp:// typed at the server prompt, the
// question about the unknown server key ("&Non" by default, its type and fingerprint), the
// password and a key's passphrase asked masked in the prompt dialog (the password kept in a
// real keyring when asked to, and taken from it next time), the listing, a file
// down and up with the byte counter and the throughput line, the log's own lines, and a
// link that names a file under the home folder (its folder entered, the file selected,
// the server remembered).
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "credentials/Keyring.h"
#include "tests/gui/WindowHarness.h"
#include "tests/support/SecretService.h"
#include "tests/support/SshdServer.h"
#include "ui/ByteCounter.h"

namespace talvo::test {
namespace {

class WindowSftpTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(server.Start()) << server.Error();
    ASSERT_TRUE(server.Root().WriteFile("distant.txt", "du serveur"));
    form->Sftp1.KnownHostsFile = ssh.PathOf("known_hosts");
    form->Sftp1.SshConfigFile.clear();
    form->Sftp1.AgentSocket.clear();
    form->Sftp1.DefaultIdentityFiles.clear();
  }
  void TearDown() override {
    WindowTest::TearDown();
    server.Stop();
  }
  std::string Url() const {
    return "sftp://" + server.User() + "@" + server.Host() + ":" + std::to_string(server.Port());
  }
  bool Listed(const std::vector<std::string>& files) {
    return WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && Rows(*form->ui.ListBox2) == files; });
  }

  SshdServer server;
  TempTree ssh{"window-ssh"};
};

// Records how a dialog looked, then acts on it.
DialogAnswers::Action Checked(std::function<void(QWidget*)> check, DialogAnswers::Action then) {
  return [check, then](QWidget* dialog) {
    check(dialog);
    then(dialog);
  };
}

TEST_F(WindowSftpTest, ConnectsAsksTheKeyAndThePasswordThenCopiesBothWays) {
  SecretService secrets;
  ASSERT_TRUE(secrets.Start(true)) << secrets.Error();
  std::string defaultButton;
  bool passwordMasked = false;
  dialogs.Expect(Type(Url()))
      .Expect(Checked(
          [&](QWidget* box) {
            if (auto* message = qobject_cast<QMessageBox*>(box); message && message->defaultButton()) {
              defaultButton = message->defaultButton()->text().toStdString();
            }
          },
          Press("&Oui")))
      .Expect(Checked(
          [&](QWidget* prompt) {
            passwordMasked = static_cast<TInputForm*>(prompt)->ui.Input->echoMode() == QLineEdit::Password;
            static_cast<TInputForm*>(prompt)->ui.RememberBox->setChecked(true);
          },
          Type(server.Password())));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(Listed({"distant.txt"})) << dialogs.Describe() << LogText();
  const SeenDialog& question = dialogs.Seen()[1];
  EXPECT_EQ(question.caption, "Confirmation");
  EXPECT_NE(question.text.find("ssh-ed25519"), std::string::npos) << question.text;
  EXPECT_NE(question.text.find(form->Sftp1.HostKeyFingerprint), std::string::npos) << question.text;
  EXPECT_EQ(form->Sftp1.HostKeyFingerprint.rfind("SHA256:", 0), 0u);
  EXPECT_EQ(defaultButton, "&Non");
  EXPECT_EQ(dialogs.Seen()[2].caption, "Mot de passe");
  EXPECT_TRUE(passwordMasked);
  EXPECT_NE(LogText().find("Clé du serveur : ssh-ed25519 SHA256:"), std::string::npos) << LogText();
  EXPECT_NE(LogText().find("La clé du serveur a été ajoutée à " + ssh.PathOf("known_hosts")), std::string::npos);
  EXPECT_NE(LogText().find("Connecté avec le mot de passe."), std::string::npos) << LogText();

  Select(*form->ui.ListBox2, {"distant.txt"});
  Click(form->ui.SpeedButton2);
  ASSERT_TRUE(WaitUntil([&] { return Idle() && local.Exists("distant.txt"); })) << LogText();
  EXPECT_EQ(local.ReadFile("distant.txt"), "du serveur");

  ASSERT_TRUE(local.WritePatternFile("local.txt", 4 << 20));
  form->ui.FileListBox1->Update();
  Select(*form->ui.FileListBox1, {"local.txt"});
  Click(form->ui.SpeedButton1);
  ASSERT_TRUE(Listed({"distant.txt", "local.txt"})) << LogText();
  EXPECT_EQ(server.Root().ReadFile("local.txt"), local.ReadFile("local.txt"));
  EXPECT_NE(LogText().find(std::to_string(4 << 20) + " octets transférés en "), std::string::npos) << LogText();
  ASSERT_TRUE(Disconnect());

  // The password went to the keyring under this SFTP server's own key, and comes from
  // there at the next connection, without a prompt.
  EXPECT_EQ(TKeyring::Lookup(KeyringKeyFor("sftp", server.Host(), server.Port(), server.User())), server.Password());
  dialogs.Expect(Type(Url()));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(Listed({"distant.txt", "local.txt"})) << dialogs.Describe() << LogText();
  EXPECT_NE(LogText().find("Mot de passe pris dans le trousseau de clés."), std::string::npos) << LogText();
  ASSERT_TRUE(Disconnect());
}

TEST_F(WindowSftpTest, AsksAKeysPassphraseMaskedAndRefusesAChangedKey) {
  const std::string key = server.MakeUserKey("id_window", "secret de cle");
  ASSERT_FALSE(key.empty()) << server.Error();
  form->Sftp1.DefaultIdentityFiles = {key};
  ASSERT_TRUE(ssh.WriteFile(
      "known_hosts", "[" + server.Host() + "]:" + std::to_string(server.Port()) + " " + server.HostKeyLine() + "\n"));
  bool masked = false;
  ASSERT_TRUE(server.Root().WriteFile("sous/choisi.txt", "x"));
  dialogs.Expect(Type(Url() + "/~/sous/choisi.txt"))
      .Expect(Checked(
          [&](QWidget* prompt) {
            masked = static_cast<TInputForm*>(prompt)->ui.Input->echoMode() == QLineEdit::Password;
          },
          Type("secret de cle")));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(Listed({"choisi.txt"})) << dialogs.Describe() << LogText();
  EXPECT_EQ(dialogs.Seen()[1].caption, "Phrase secrète");
  EXPECT_EQ(dialogs.Seen()[1].text, "Saisissez la phrase secrète de la clé " + key + " :");
  EXPECT_TRUE(masked);
  EXPECT_EQ(form->ui.ListBox2->SelectedRows(), std::vector<int>{0});
  EXPECT_EQ(config.ReadFile("recent-servers"), Url() + "\n");
  ASSERT_TRUE(Disconnect());

  ASSERT_TRUE(server.ChangeHostKey() && server.Restart()) << server.Error();
  dialogs.Expect(Type(Url())).Expect(Press("OK"));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(WaitUntil([&] { return dialogs.Pending() == 0 && Idle() && !form->Sftp1.Connected; }))
      << dialogs.Describe();
  EXPECT_EQ(dialogs.Seen().back().text.rfind("ATTENTION : la clé du serveur a changé", 0), 0u) << dialogs.Describe();
  EXPECT_NE(dialogs.Seen().back().text.find(ssh.PathOf("known_hosts") + ", ligne 1."), std::string::npos);
}

}  // namespace
}  // namespace talvo::test
