// Drives the real window on Qt's offscreen platform: a fresh TForm1 and TInputForm per
// test with a throw-away local directory, clicks through QTest, modal dialogs answered in
// the order they open by a timer that runs inside their own event loops, and bounded
// waits that let Qt (and through it the engine) run.
//
//   dialogs.Expect(Type("127.0.0.1")).Expect(Type(server.User())).Expect(Type(server.Password()));
//   Click(form->ui.ConnectBtn);
//   ASSERT_TRUE(WaitUntil([&] { return ListingShown(); }));
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/RealServers.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/TempTree.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"

class QAbstractButton;
class QWidget;

namespace talvo::test {

// Lets the event loop run until `done` or `timeoutMs`; false on time-out.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 30000);
// Runs the application's own loop, as the program does, until something ends it; the exit
// code, or -1 when nothing did within the time.
int RunProgramLoop(int timeoutMs);

// One dialog as the test saw it.
struct SeenDialog {
  std::string caption;
  std::string text;  // the prompt of TInputForm, the message of a message box
};

// Answers modal dialogs in the order they open. An action gets the dialog and must close
// it (or leave it open on purpose: the next check finds it again).
class DialogAnswers : public QObject {
 public:
  using Action = std::function<void(QWidget* dialog)>;
  DialogAnswers();
  ~DialogAnswers() override;

  DialogAnswers& Expect(Action action);
  // The next dialog stays open (in `*kept`) while the ones that open over it are answered;
  // the test closes it itself, from a Trigger.
  DialogAnswers& ExpectLeftOpen(QPointer<QWidget>* kept);
  std::size_t Pending() const { return actions_.size(); }
  const std::vector<SeenDialog>& Seen() const { return seen_; }
  // Every caption and text seen, for failure messages.
  std::string Describe() const;

 private:
  void Check();

  QTimer timer_;
  std::deque<Action> actions_;
  std::vector<QPointer<QWidget>> leftOpen_;
  std::vector<SeenDialog> seen_;
  bool busy_ = false;
};

// Runs `action` once, from the event loop, as soon as `condition` holds: how a test acts
// while a handler it started (a batch) is still running its own nested loop.
class Trigger : public QObject {
 public:
  Trigger(std::function<bool()> condition, std::function<void()> action);
  bool Fired() const { return fired_; }

 private:
  QTimer timer_;
  std::function<bool()> condition_;
  std::function<void()> action_;
  bool fired_ = false;
};

// Types `text` into the prompt dialog and presses "&OK" (or "&Annuler" when !ok).
DialogAnswers::Action Type(const std::string& text, bool ok = true);
// Presses the message box button whose caption is `caption` ("OK", "&Oui", "&Non").
DialogAnswers::Action Press(const std::string& caption);

// The scripted server's side of a listing of plain files, such as the one that follows
// every login of the window; `held`: its first reply waits for peer.Release(); `mlsd`: by
// MLSD (after a login with ScriptedPeer::MlsdLogin()) rather than LIST; `folders` listed first.
void ScriptListing(ScriptedPeer& peer, const std::vector<std::string>& files, bool held = false, bool mlsd = false,
                   const std::vector<std::string>& folders = {});
// The client has sent a command line starting with `prefix`.
bool Sent(const ScriptedPeer& peer, const std::string& prefix);

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void Click(QAbstractButton* button);
  void DoubleClick(TListBox& list, const std::string& row);
  // Logs in through the three prompts; true once the first listing is shown.
  bool ConnectTo(const FtpServerFixture& server, const std::string& user, const std::string& password);
  // Starts the peer's script and logs in to it (as "u", "p"); true once the first listing
  // is shown.
  bool LogInTo(ScriptedPeer& peer);
  // Ends the connection if there is one; true once it has ended.
  bool Disconnect();
  // The engine is idle and the arrow shows.
  bool Idle() const;
  std::vector<std::string> Rows(const TListBox& list) const { return list.Items(); }
  // Selects exactly the rows holding these names (the first becomes the focused row).
  void Select(TListBox& list, const std::vector<std::string>& names);
  std::string LogText() const;
  std::string LocalPath(const std::string& name) const { return local.PathOf(name); }

  TempTree local{"local"};
  TempTree config{"config"};  // the window's remembered servers live here, not in $HOME
  std::unique_ptr<TForm1> form;
  std::unique_ptr<TInputForm> input;
  DialogAnswers dialogs;
};

}  // namespace talvo::test
