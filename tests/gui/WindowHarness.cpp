#include "tests/gui/WindowHarness.h"

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdlib>

#include "ui/QtLoopBridge.h"
#include "ui/Screen.h"

namespace talvo::test {

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    const qint64 left = timeoutMs - clock.elapsed();
    if (left <= 0) return false;
    TQtLoopBridge::WaitForEvents(static_cast<int>(std::min<qint64>(left, 50)));
  }
  return true;
}

int RunProgramLoop(int timeoutMs) {
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
  guard.start(timeoutMs);
  return QCoreApplication::exec();
}

DialogAnswers::DialogAnswers() {
  timer_.setInterval(20);
  connect(&timer_, &QTimer::timeout, this, &DialogAnswers::Check);
  timer_.start();
}

DialogAnswers::~DialogAnswers() {
  timer_.stop();
}

DialogAnswers& DialogAnswers::Expect(Action action) {
  actions_.push_back(std::move(action));
  return *this;
}

DialogAnswers& DialogAnswers::ExpectLeftOpen(QPointer<QWidget>* kept) {
  return Expect([this, kept](QWidget* dialog) {
    *kept = dialog;
    leftOpen_.emplace_back(dialog);
  });
}

std::string DialogAnswers::Describe() const {
  std::string out;
  for (const SeenDialog& d : seen_) out += "[" + d.caption + "] " + d.text + "\n";
  return out.empty() ? "(no dialog)" : out;
}

void DialogAnswers::Check() {
  // An action may itself wait (and so run this timer again): one at a time.
  if (busy_) return;
  QWidget* dialog = QApplication::activeModalWidget();
  if (dialog == nullptr || !dialog->isVisible()) return;
  for (const QPointer<QWidget>& kept : leftOpen_) {
    if (kept == dialog) return;
  }
  SeenDialog seen{dialog->windowTitle().toStdString(), ""};
  if (auto* box = qobject_cast<QMessageBox*>(dialog)) seen.text = box->text().toStdString();
  if (auto* prompt = dynamic_cast<TInputForm*>(dialog)) seen.text = prompt->ui.Prompt->text().toStdString();
  seen_.push_back(seen);
  if (actions_.empty()) {
    ADD_FAILURE() << "unexpected dialog [" << seen.caption << "] " << seen.text;
    dialog->close();
    return;
  }
  Action action = std::move(actions_.front());
  actions_.pop_front();
  busy_ = true;
  action(dialog);
  busy_ = false;
}

Trigger::Trigger(std::function<bool()> condition, std::function<void()> action)
    : condition_(std::move(condition)), action_(std::move(action)) {
  timer_.setInterval(2);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (fired_ || !condition_()) return;
    fired_ = true;
    timer_.stop();
    action_();
  });
  timer_.start();
}

DialogAnswers::Action Type(const std::string& text, bool ok) {
  return [text, ok](QWidget* dialog) {
    auto* prompt = dynamic_cast<TInputForm*>(dialog);
    if (prompt == nullptr) {
      ADD_FAILURE() << "expected the prompt dialog, got [" << dialog->windowTitle().toStdString() << "]";
      dialog->close();
      return;
    }
    QTest::keyClicks(prompt->ui.Input, QString::fromStdString(text));
    QTest::mouseClick(ok ? prompt->ui.Button1 : prompt->ui.Button2, Qt::LeftButton);
    if (prompt->isVisible()) prompt->reject();  // "&OK" was disabled: the test sees it in the state
  };
}

DialogAnswers::Action Press(const std::string& caption) {
  return [caption](QWidget* dialog) {
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
      if (button->text().toStdString() == caption) {
        QTest::mouseClick(button, Qt::LeftButton);
        return;
      }
    }
    ADD_FAILURE() << "no button \"" << caption << "\" in [" << dialog->windowTitle().toStdString() << "]";
    dialog->close();
  };
}

void ScriptListing(ScriptedPeer& peer, const std::vector<std::string>& files, bool held, bool mlsd,
                   const std::vector<std::string>& folders) {
  std::string text;
  for (const std::string& name : folders) {
    text += (mlsd ? "type=dir; " : "drwxr-xr-x 2 u g 0 Jan 01 00:00 ") + name + "\r\n";
  }
  for (const std::string& name : files) {
    text += (mlsd ? "type=file;size=5; " : "-rw-r--r-- 1 u g 5 Jan 01 00:00 ") + name + "\r\n";
  }
  peer.Expect("PWD");
  if (held) peer.Hold();
  peer.Reply("257 \"/\" is current\r\n").Expect("TYPE A").Reply("200 ok\r\n")
      .Expect("PORT").Reply("200 ok\r\n").Expect(mlsd ? "MLSD" : "LIST").DataConnect().Reply("150 here\r\n")
      .DataSend(text).DataClose().Reply("226 done\r\n");
}

bool Sent(const ScriptedPeer& peer, const std::string& prefix) {
  const std::vector<std::string> commands = peer.Commands();
  return std::any_of(commands.begin(), commands.end(),
                     [&](const std::string& command) { return command.rfind(prefix, 0) == 0; });
}

void WindowTest::SetUp() {
  ASSERT_TRUE(local.Valid());
  ASSERT_EQ(::chdir(local.Path().c_str()), 0);
  // The user's keyring is never reached: a test that wants one starts its own.
  ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + config.PathOf("no-bus")).c_str(), 1);
  form = std::make_unique<TForm1>();
  Form1 = form.get();
  // The scripted servers speak the plain protocol; the tests of the encrypted session ask
  // for it themselves.
  form->Ftp1.TlsMode = tlsmOff;
  form->Ftp1.KnownServersFile = config.PathOf("known-servers");
  form->RecentServersFile = config.PathOf("recent-servers");
  input = std::make_unique<TInputForm>();
  InputForm = input.get();
  form->ui.DirectoryListBox1->SetDirectory(local.Path());
  form->show();
}

void WindowTest::TearDown() {
  if (form && form->Ftp1.Connected) Disconnect();
  EXPECT_EQ(dialogs.Pending(), 0u) << "dialogs that never opened; seen:\n" << dialogs.Describe();
  Form1 = nullptr;
  InputForm = nullptr;
  form.reset();
  input.reset();
  Screen::SetArrow();
  ASSERT_EQ(::chdir("/"), 0);
}

void WindowTest::Click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

void WindowTest::DoubleClick(TListBox& list, const std::string& row) {
  const int index = list.IndexOf(row);
  ASSERT_GE(index, 0) << row;
  const QRect rect = list.visualRect(list.model()->index(index, 0));
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rect.center());
}

bool WindowTest::ConnectTo(const FtpServerFixture& server, const std::string& user, const std::string& password) {
  form->Ftp1.FtpPort = server.Port();
  dialogs.Expect(Type(server.TypedHost())).Expect(Type(user)).Expect(Type(password));
  Click(form->ui.ConnectBtn);
  return WaitUntil([&] { return form->Ftp1.Connected && Idle() && form->ui.ListBox1->Count() > 0; });
}

bool WindowTest::LogInTo(ScriptedPeer& peer) {
  peer.Start();
  form->Ftp1.FtpPort = peer.Port();
  dialogs.Expect(Type("127.0.0.1")).Expect(Type("u")).Expect(Type("p"));
  Click(form->ui.ConnectBtn);
  return WaitUntil([&] { return Idle() && form->ui.ListBox1->Count() > 0; });
}

bool WindowTest::Disconnect() {
  if (!form->Session().Connected) return true;
  if (!WaitUntil([&] { return Idle(); }, 20000)) return false;
  Click(form->ui.Button11);
  return WaitUntil([&] { return !form->Session().Connected && !Screen::IsHourglass(); }, 20000);
}

bool WindowTest::Idle() const {
  return !form->Session().Busy && !Screen::IsHourglass();
}

void WindowTest::Select(TListBox& list, const std::vector<std::string>& names) {
  list.clearSelection();
  bool first = true;
  for (const std::string& name : names) {
    const int row = list.IndexOf(name);
    ASSERT_GE(row, 0) << name;
    if (first) list.SetItemIndex(row);
    list.SetSelected(row, true);
    first = false;
  }
}

std::string WindowTest::LogText() const {
  return form->ui.Log->toPlainText().toStdString();
}

}  // namespace talvo::test
