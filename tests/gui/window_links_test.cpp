// Coming back without retyping, in the window: a link given at start logs in and enters its
// folder (or a file's folder, the file selected) with no prompt; host:port at the server
// prompt; the recent servers offered under its field, filtered as one types, one chosen
// from the list; and the password in a real keyring on a private bus: remembered, reused,
// asked again when refused (replacing it), and not offered where no keyring runs.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QLineEdit>
#include <QTest>

#include "credentials/Keyring.h"
#include "tests/gui/WindowHarness.h"
#include "tests/support/FolderTrees.h"
#include "tests/support/SecretService.h"

namespace talvo::test {
namespace {

// Types the password; records whether "Mémoriser le mot de passe" was offered and ticked,
// and leaves it ticked or not as `remember` says.
DialogAnswers::Action TypePassword(const std::string& password, bool remember, bool* offered, bool* ticked) {
  return [=](QWidget* dialog) {
    auto* prompt = dynamic_cast<TInputForm*>(dialog);
    ASSERT_NE(prompt, nullptr);
    *offered = prompt->ui.RememberBox->isVisible();
    *ticked = prompt->ui.RememberBox->isChecked();
    if (*offered) prompt->ui.RememberBox->setChecked(remember);
    Type(password)(dialog);
  };
}

// Every file under the tree, read whole.
std::string EverythingIn(const TempTree& tree) {
  std::string all;
  for (const auto& [path, kind] : TreeContents(tree.Path())) {
    if (kind != "dir") all += tree.ReadFile(path);
  }
  return all;
}

class WindowLinksTest : public WindowTest {
 protected:
  bool LoggedIn() {
    return WaitUntil([&] { return form->Ftp1.Connected && Idle() && form->ui.ListBox1->Count() > 0; });
  }
  std::string Link(const PyFtpdServer& server, const std::string& userInfo, const std::string& path = "") const {
    return "ftp://" + userInfo + "127.0.0.1:" + std::to_string(server.Port()) + path;
  }
};

TEST_F(WindowLinksTest, ALinkLogsInAndEntersItsFolderOrSelectsItsFileWithoutAPrompt) {
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(server.Root().WriteFile("pub/docs/a b.txt", "x") && server.Root().WriteFile("pub/docs/c.txt", "y"));
  const std::string login = server.User() + ":" + server.Password() + "@";
  const struct {
    std::string path;
    std::vector<std::string> folders;
    std::string selected;
  } rows[] = {{"/pub/", {"..", "docs"}, ""}, {"/pub/docs/a%20b.txt", {".."}, "a b.txt"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    form->ConnectToServer(Link(server, login, r.path));
    ASSERT_TRUE(LoggedIn()) << dialogs.Describe() << LogText();
    EXPECT_EQ(Rows(*form->ui.ListBox1), r.folders);
    const std::vector<int> selected = form->ui.ListBox2->SelectedRows();
    EXPECT_EQ(selected.empty() ? std::string() : form->ui.ListBox2->Item(selected.front()), r.selected);
    ASSERT_TRUE(Disconnect());
  }
  EXPECT_TRUE(dialogs.Seen().empty()) << dialogs.Describe();
  // The server is remembered, its password nowhere.
  EXPECT_EQ(config.ReadFile("recent-servers"), Link(server, server.User() + "@") + "\n");
}

TEST_F(WindowLinksTest, APortTypedAndARecentServerChosenFromTheList) {
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  form->Ftp1.FtpPort = 21;  // the port comes from what is typed
  // A text that cannot be read: one message, and the prompt again.
  dialogs.Expect(Type("127.0.0.1:70000")).Expect(Press("OK")).Expect(Type("127.0.0.1:" + std::to_string(server.Port())))
      .Expect(Type(server.User())).Expect(Type(server.Password()));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(LoggedIn()) << dialogs.Describe() << LogText();
  EXPECT_EQ(dialogs.Seen()[1].text,
            "Adresse du serveur illisible : le port « 70000 » n'est pas un nombre de 1 à 65535.");
  ASSERT_TRUE(Disconnect());
  EXPECT_EQ(form->Ftp1.FtpPort, server.Port());

  // The list shows under the empty field; typing filters it; a row is chosen with the keys.
  std::vector<int> shown;
  dialogs
      .Expect([&](QWidget* dialog) {
        auto* prompt = dynamic_cast<TInputForm*>(dialog);
        ASSERT_NE(prompt, nullptr);
        QCompleter* list = prompt->Suggestions();
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return list->popup()->isVisible(); }, 5000));
        shown.push_back(list->completionCount());
        QTest::keyClicks(prompt->ui.Input, "nowhere");
        shown.push_back(list->completionCount());
        prompt->ui.Input->clear();
        QTest::keyClicks(prompt->ui.Input, "TALVO@");
        shown.push_back(list->completionCount());
        QTest::keyClick(list->popup(), Qt::Key_Down);
        QTest::keyClick(list->popup(), Qt::Key_Return);
        Type("")(dialog);
      })
      .Expect(Type(server.Password()));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(LoggedIn()) << dialogs.Describe() << LogText();
  EXPECT_EQ(shown, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(form->Ftp1.UserName, server.User());
  ASSERT_TRUE(Disconnect());
}

class WindowKeyringTest : public WindowLinksTest {
 protected:
  // Logs in through the prompts, the server given with its port; the password prompt's
  // offer is recorded.
  bool ConnectWithPassword(const PyFtpdServer& server, const std::string& password, bool remember) {
    dialogs.Expect(Type("127.0.0.1:" + std::to_string(server.Port()))).Expect(Type(server.User()))
        .Expect(TypePassword(password, remember, &offered, &ticked));
    Click(form->ui.ConnectBtn);
    return LoggedIn();
  }
  TKeyringKey Key(const PyFtpdServer& server) const {
    return KeyringKeyFor("ftp", "127.0.0.1", server.Port(), server.User());
  }

  SecretService secrets;
  bool offered = false, ticked = false;
};

TEST_F(WindowKeyringTest, APasswordRememberedGoesToTheKeyringAndNowhereElse) {
  ASSERT_TRUE(secrets.Start(true)) << secrets.Error();
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(ConnectWithPassword(server, server.Password(), true)) << dialogs.Describe() << LogText();
  EXPECT_TRUE(offered);
  EXPECT_FALSE(ticked);
  // Kept from a zero timer once the login's event is over: it may come after the login.
  EXPECT_TRUE(WaitUntil([&] { return TKeyring::Lookup(Key(server)) == server.Password(); }, 5000)) << LogText();
  EXPECT_EQ(EverythingIn(config).find(server.Password()), std::string::npos);
  EXPECT_NE(config.ReadFile("recent-servers").find(server.User()), std::string::npos);
  ASSERT_TRUE(Disconnect());
}

TEST_F(WindowKeyringTest, ARememberedPasswordIsTakenWithoutAskingAndNeverShown) {
  ASSERT_TRUE(secrets.Start(true)) << secrets.Error();
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(TKeyring::Store(Key(server), server.Password()));
  dialogs.Expect(Type("127.0.0.1:" + std::to_string(server.Port()))).Expect(Type(server.User()));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(LoggedIn()) << dialogs.Describe() << LogText();
  EXPECT_NE(LogText().find("Mot de passe pris dans le trousseau de clés.\nPASS ********"), std::string::npos)
      << LogText();
  EXPECT_EQ(LogText().find(server.Password()), std::string::npos);
  ASSERT_TRUE(Disconnect());
}

TEST_F(WindowKeyringTest, ARefusedRememberedPasswordIsAskedAgainAndReplaced) {
  ASSERT_TRUE(secrets.Start(true)) << secrets.Error();
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(TKeyring::Store(Key(server), "an-old-password"));
  dialogs.Expect(Type("127.0.0.1:" + std::to_string(server.Port()))).Expect(Type(server.User()))
      .Expect(Press("OK"))  // "Accès refusé..."
      .Expect(TypePassword(server.Password(), true, &offered, &ticked));
  Click(form->ui.ConnectBtn);
  ASSERT_TRUE(LoggedIn()) << dialogs.Describe() << LogText();
  EXPECT_TRUE(offered);
  EXPECT_TRUE(ticked);  // offered as a replacement
  EXPECT_EQ(dialogs.Seen()[2].text.rfind("Accès refusé.", 0), 0u) << dialogs.Describe();
  EXPECT_NE(LogText().find("Le mot de passe mémorisé dans le trousseau de clés a été refusé"), std::string::npos);
  EXPECT_TRUE(WaitUntil([&] { return TKeyring::Lookup(Key(server)) == server.Password(); }, 5000)) << LogText();
  ASSERT_TRUE(Disconnect());
}

TEST_F(WindowKeyringTest, WithoutAKeyringThePasswordIsAskedAsBeforeAndRememberingIsNotOffered) {
  ASSERT_TRUE(secrets.Start(false)) << secrets.Error();  // a bus, no keyring on it
  PyFtpdServer server;
  ASSERT_TRUE(server.Start()) << server.Error();
  ASSERT_TRUE(ConnectWithPassword(server, server.Password(), true)) << dialogs.Describe() << LogText();
  EXPECT_FALSE(offered);
  EXPECT_EQ(input->height(), TInputForm::kHeight);
  ASSERT_TRUE(Disconnect());
}

}  // namespace
}  // namespace talvo::test
