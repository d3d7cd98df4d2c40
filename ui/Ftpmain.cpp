// Start-up of the main window, the busy tests and the batch wait shared by every handler,
// connecting, disconnecting and closing.
#include "ui/Ftpmain.h"

#include <unistd.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>
#include <QTimer>
#include <exception>
#include <utility>

#include "session/KnownServers.h"
#include "session/RecentServers.h"
#include "session/WalkEvents.h"
#include "ui/ArrowIcon.h"
#include "ui/Dialogs.h"
#include "ui/FormUnits.h"
#include "ui/QtLoopBridge.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"

TForm1* Form1 = nullptr;

namespace {

// Runs one handler; a failure it raises (a local file operation) ends that handler and is
// shown by the application's handler of unhandled errors, never crossing into Qt or the
// engine.
template <typename Fn>
void Shielded(QWidget* window, Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    ShowApplicationError(window, DisplayText(e.what()));
  }
}

void SetBackground(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, color);
  palette.setColor(QPalette::Button, color);
  widget->setPalette(palette);
}

std::string CurrentDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("/");
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  ui.setupUi(this);
  UsePixelFonts(this);
  // A fixed single border with the system menu and a minimize button, no maximize.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(592, 403);
  if (const QScreen* screen = this->screen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  ui.SpeedButton2->setIcon(ArrowIcon(Qt::LeftArrow));
  ui.SpeedButton1->setIcon(ArrowIcon(Qt::RightArrow));
  FProgress.emplace(ui.TransferProgress, ui.TimeLeft, [this] { Shielded(this, [this] { ShowProgress(); }); });
  AcceptDrops();

  // The stored settings of the engines.
  Ftp1.SetFtpServer("localhost");
  Ftp1.FtpPort = 21;
  Ftp1.TransferMode = BinaryTransfer;
  Ftp1.DataConnectionMode = dcmAutomatic;
  Ftp1.TlsMode = tlsmAuto;
  Ftp1.KnownServersFile = DefaultKnownServersPath();
  RecentServersFile = DefaultRecentServersPath();
  Ftp1.ServerType = ftpstDefault;
  Ftp1.TimeOutConnect = 30;
  Ftp1.TimeOutArp = 20;
  Ftp1.SetWinsockStarted(false);
  Sftp1.TimeOutConnect = 30;
  Sftp1.TimeOutArp = 20;

  // The local controls are bound to one another and start at the process's directory.
  ui.DriveComboBox1->SetDirList(ui.DirectoryListBox1);
  ui.DirectoryListBox1->SetFileList(ui.FileListBox1);
  const std::string start = CurrentDirectory();
  try {
    ui.DriveComboBox1->SetDrive(ui.DriveComboBox1->DriveOf(start));
    ui.DirectoryListBox1->SetDirectory(start);
  } catch (const std::exception&) {
    ui.DirectoryListBox1->SetDirectory("/");  // a start directory that cannot be read
  }

  ConnectHandlers();
  BindEngineEvents();
  FormCreate();
  ShowSession();
}

TForm1::~TForm1() {
  // The engines outlive nothing of the window: their events are unbound before they go.
  Ftp1.OnFtpInfo = nullptr;
  Ftp1.OnFtpNeedInfo = nullptr;
  Ftp1.OnFtpError = nullptr;
  Ftp1.OnFtpQuit = nullptr;
  Sftp1.OnFtpInfo = nullptr;
  Sftp1.OnFtpNeedInfo = nullptr;
  Sftp1.OnFtpError = nullptr;
  Sftp1.OnFtpQuit = nullptr;
}

void TForm1::ConnectHandlers() {
  const auto click = [this](QAbstractButton* button, void (TForm1::*handler)()) {
    connect(button, &QAbstractButton::clicked, this, [this, handler] { Shielded(this, [&] { (this->*handler)(); }); });
  };
  click(ui.ConnectBtn, &TForm1::ConnectBtnClick);
  click(ui.Button11, &TForm1::Button11Click);
  click(ui.Button10, &TForm1::Button10Click);
  click(ui.MkDirFTPBtn, &TForm1::MkDirFTPBtnClick);
  click(ui.RmDirFTPBtn, &TForm1::RmDirFTPBtnClick);
  click(ui.Button12, &TForm1::Button12Click);
  click(ui.Button13, &TForm1::Button13Click);
  click(ui.Button15, &TForm1::Button15Click);
  click(ui.SpeedButton2, &TForm1::SpeedButton2Click);
  click(ui.SpeedButton1, &TForm1::SpeedButton1Click);
  click(ui.Button4, &TForm1::Button4Click);
  click(ui.Button6, &TForm1::Button6Click);
  click(ui.Button7, &TForm1::Button7Click);
  click(ui.Button8, &TForm1::Button8Click);
  click(ui.Button9, &TForm1::Button9Click);
  click(ui.Button2, &TForm1::Button2Click);
  click(ui.Button3, &TForm1::Button3Click);
  click(ui.Button14, &TForm1::Button14Click);
  connect(ui.ListBox1, &QAbstractItemView::doubleClicked, this,
          [this] { Shielded(this, [this] { ListBox1DblClick(); }); });
  ConnectKeys();
}

// The keyboard habits of both panes. Each key does what its button or double click does,
// with the same busy tests and questions: Delete asks to delete the selection (the files
// of a file list, the folder of the remote folder list), F5 lists again (in the local tree,
// its folders too), Enter opens the remote folder (the local tree opens its own) or
// downloads the remote files selected, Backspace goes to the parent folder. The arrows'
// own keys (Ctrl+Left, Ctrl+Right) are their buttons' shortcuts, in the form.
void TForm1::ConnectKeys() {
  const auto bind = [this](QWidget* widget, std::initializer_list<int> keys, void (TForm1::*handler)()) {
    Keys.Bind(widget, keys, [this, handler] { Shielded(this, [&] { (this->*handler)(); }); });
  };
  bind(ui.FileListBox1, {Qt::Key_Delete}, &TForm1::Button9Click);
  bind(ui.ListBox2, {Qt::Key_Delete}, &TForm1::Button13Click);
  bind(ui.ListBox1, {Qt::Key_Delete}, &TForm1::RmDirFTPBtnClick);
  bind(ui.ListBox1, {Qt::Key_Return, Qt::Key_Enter}, &TForm1::ListBox1DblClick);
  bind(ui.ListBox2, {Qt::Key_Return, Qt::Key_Enter}, &TForm1::DownloadFiles);
  for (QWidget* local : std::initializer_list<QWidget*>{ui.DriveComboBox1, ui.DirectoryListBox1, ui.FileListBox1}) {
    bind(local, {Qt::Key_F5}, local == ui.DirectoryListBox1 ? &TForm1::RereadLocalTree : &TForm1::Button14Click);
    bind(local, {Qt::Key_Backspace}, &TForm1::OpenLocalParent);
  }
  for (QWidget* remote : std::initializer_list<QWidget*>{ui.ListBox1, ui.ListBox2}) {
    bind(remote, {Qt::Key_F5}, &TForm1::Button15Click);
    bind(remote, {Qt::Key_Backspace}, &TForm1::OpenRemoteParent);
  }
}

void TForm1::BindEngineEvents() {
  const auto notify = [this](void (TForm1::*handler)(TObject*)) {
    return [this, handler](TObject* sender) { Shielded(this, [&] { (this->*handler)(sender); }); };
  };
  BindComponentEvents(Ftp1, FFolder);
  BindComponentEvents(Sftp1, FSftpFolder);
  Ftp1.OnFtpCertificate = [this](TObject* sender, const TFtpCertificateQuestion& question, bool& trust) {
    Shielded(this, [&] { Ftp1FtpCertificate(sender, question, trust); });
  };
  Sftp1.OnSftpHostKey = [this](TObject* sender, const TSftpHostKeyQuestion& question, bool& trust) {
    Shielded(this, [&] { Sftp1SftpHostKey(sender, question, trust); });
  };
  // A change of the pane's folder that the server refused is told once the listing is asked.
  const auto changed = [this](TObject* sender) {
    Shielded(this, [&] {
      const bool success = Session().Success;
      const std::string reply = LastServerReply();
      NeedNewFTPListing(sender);
      ReportRefusal(success, reply);
    });
  };
  const auto bindSession = [&](auto& session, TFolderTransfer& walk) {
    session.OnLoggedIn = notify(&TForm1::Ftp1LoggedIn);
    session.OnDirectoryChanged = changed;
    session.OnDirectoryCreated = changed;
    session.OnDirectoryDeleted = changed;
    session.OnFileRenamed = changed;
    session.OnListingDone = notify(&TForm1::Ftp1ListingDone);
    session.OnFileDeleted = notify(&TForm1::Ftp1FileDeleted);
    session.OnFileReceived = notify(&TForm1::Ftp1FileReceived);
    session.OnFileStored = notify(&TForm1::Ftp1FileStored);
    session.OnFtpQuit = notify(&TForm1::Ftp1FtpQuit);
    session.OnFtpReady = notify(&TForm1::Ftp1FtpReady);
    // A completion that ends a step of the running folder transfer is that transfer's alone.
    PutWalkFirst(session, walk);
    // A transfer that failed, alone or in a folder transfer, leaves neither bar nor counter.
    session.OnFileReceived = [this, next = std::move(session.OnFileReceived)](TObject* sender) {
      Shielded(this, [&] { NoteTransferEnd(true); });
      next(sender);
    };
    session.OnFileStored = [this, next = std::move(session.OnFileStored)](TObject* sender) {
      Shielded(this, [&] { NoteTransferEnd(false); });
      next(sender);
    };
    // A file of a folder sent has its throughput line and empties the counter too.
    walk.OnFileDone = [this, &session, &walk] {
      if (walk.direction() == TFolderTransfer::Direction::Upload) Shielded(this, [&] { Ftp1FileStored(&session); });
    };
  };
  bindSession(Ftp1, FFolder);
  bindSession(Sftp1, FSftpFolder);
}

// The information, request and error events, which both engines raise alike.
template <typename Component>
void TForm1::BindComponentEvents(Component& component, TFolderTransfer& walk) {
  component.OnFtpInfo = [this](TObject* sender, FtpInfo info, const std::string& addinfo) {
    Shielded(this, [&] { Ftp1FtpInfo(sender, info, addinfo); });
  };
  component.OnFtpNeedInfo = [this](TObject* sender, TFtpInfoNeeded need, std::string& value) {
    Shielded(this, [&] { Ftp1FtpNeedInfo(sender, need, value); });
  };
  // The walk hears of an error before the message box, whose loop may bring the step's end.
  component.OnFtpError = WalkFirst(walk, TFtpErrorEvent([this](TObject* sender, FtpError error, std::string addinfo) {
    Shielded(this, [&] { Ftp1FtpError(sender, error, addinfo); });
  }));
}

void TForm1::FormCreate() {
  const QColor paleCyan(235, 255, 255);
  const QColor palePink(255, 235, 235);
  SetBackground(ui.DriveComboBox1, paleCyan);
  SetBackground(ui.DirectoryListBox1, paleCyan);
  SetBackground(ui.FileListBox1, paleCyan);
  SetBackground(ui.ListBox1, palePink);
  SetBackground(ui.ListBox2, palePink);
  FOperationFailed = false;
}

bool TForm1::MayStartOperation() const {
  return Session().Connected && !Screen::IsHourglass() && !FBatchRunning && !FClosing;
}

bool TForm1::MakeRequest(const std::function<void()>& request) {
  FRequestRefused = false;
  const bool watching = std::exchange(FWatchingRefusal, true);
  request();
  FWatchingRefusal = watching;
  return FRequestRefused;
}

void TForm1::StartOperation(const std::function<void()>& request) {
  Screen::SetHourglass();
  if (MakeRequest(request)) Screen::SetArrow();
}

std::vector<std::string> SelectedNames(const TListBox& list) {
  std::vector<std::string> names;
  for (const int row : list.SelectedRows()) names.push_back(list.Item(row));
  return names;
}

bool TForm1::BeginBatch() {
  if (FBatchRunning) return false;  // the marks belong to the running batch: untouched
  FOperationFailed = false;
  FRequestRefused = false;
  return MayStartOperation();
}

bool TForm1::WaitForItem(const std::function<void()>& request) {
  if (FOperationFailed || FRequestRefused || FEnding || FClosing || !Session().Connected) return false;
  FOperationDone = false;
  StartOperation(request);
  // Every request ends in an event (its completion, an error, the end of the connection)
  // or is refused at once; the program's end stops the wait too.
  while (!FOperationDone && !FOperationFailed && !FRequestRefused && !FEnding) {
    TQtLoopBridge::WaitForEvents();
  }
  FOperationDone = false;
  return !FOperationFailed && !FRequestRefused && !FEnding && Session().Connected;
}

void TForm1::ConnectBtnClick() {
  if (Session().Connected || Screen::IsHourglass() || FBatchRunning || FClosing) return;
  Screen::SetHourglass();
  ConnectAsked();
}

// Also between two files of a batch: the batch ends there, since its connection ends.
void TForm1::Button11Click() {
  if (!Session().Connected || Screen::IsHourglass() || FClosing) return;
  StartOperation([this] { Session().Quit(); });
}

void TForm1::Button10Click() {
  close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool CanClose = true;
  Shielded(this, [&] { FormCloseQuery(CanClose); });
  if (CanClose) {
    FEnding = true;
    event->accept();
  } else {
    event->ignore();
  }
}

// Closing while connected ends the session first. During a transfer the user is asked
// first ("Non", the default, goes on with it). Then a running transfer is stopped as the
// stop button does (a download keeps its part), a batch ends after its running item, and
// QUIT goes as soon as the engine is free; the end of the connection ends the program.
// The engine's waits are all bounded, so that end always comes.
void TForm1::FormCloseQuery(bool& CanClose) {
  CanClose = false;
  if (FAskingToClose) return;
  if (Session().Connected && !FClosing && TransferUnderWay()) {
    const TBatch asking(FAskingToClose);
    if (!Confirm(this,
                 QStringLiteral("Un transfert est en cours. Fermer quand même ?\n\nLe transfert sera arrêté. La "
                                "partie déjà reçue d'un téléchargement est gardée à côté du fichier, sous son nom "
                                "suivi de « .part » (ou de « ~1.part »… quand ce nom est déjà pris), et le prochain "
                                "téléchargement pourra la reprendre ; un envoi "
                                "arrêté laisse sur le serveur une copie incomplète."),
                 true)) {
      return;
    }
  }
  if (!Session().Connected) {  // the session may have ended while the question was open
    CanClose = true;
    return;
  }
  FClosing = true;
  if (FSession == &Sftp1 ? Sftp1.Busy : Ftp1.TransferRunning()) Session().Abort();
  QuitForClose();
}

void TForm1::QuitForClose() {
  if (!FClosing || FEnding || !Session().Connected || Session().Busy) return;
  // That request is not one the window's own waits are watching.
  const bool watching = std::exchange(FWatchingRefusal, false);
  Session().Quit();
  FWatchingRefusal = watching;
}

// The engine is free again: a close that waited for it goes on, once the event that ended
// the operation has been handled.
void TForm1::Ftp1FtpReady(TObject*) {
  if (FClosing) QTimer::singleShot(0, this, [this] { QuitForClose(); });
}

void TForm1::Ftp1FtpQuit(TObject*) {
  Screen::SetArrow();
  ShowSession();
  if (FClosing) {
    FEnding = true;
    QCoreApplication::exit(0);
    return;
  }
  // A remembered password was refused: the same server again, its password asked for.
  if (FLogin.Retry) QTimer::singleShot(0, this, [this] { Shielded(this, [this] { ConnectBtnClick(); }); });
}
