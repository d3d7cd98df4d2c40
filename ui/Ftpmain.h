// TForm1: the main window. It owns the FTP engine `Ftp1` and the SFTP engine `Sftp1`, one
// of which is the session of the moment (the server typed says which: sftp:// is SFTP's),
// starts its operations from the buttons and reacts to its events; the local pane works on the disk directly. The
// window's shared state is the busy cursor (Screen), the three private marks, the log and
// the byte counter.
//
// The class is split over a few files by concern: start-up, connection and closing
// (Ftpmain.cpp), the engine's information, requests and errors (FtpmainEvents.cpp), the
// remote pane (FtpmainRemote.cpp), the transfers between the panes (FtpmainTransfers.cpp),
// folder transfers and files dropped on the remote pane (FtpmainFolders.cpp), the local
// pane (FtpmainLocal.cpp), and the title and the failures that the window tells of
// (FtpmainSession.cpp).
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "session/FolderTransfer.h"
#include "credentials/Keyring.h"
#include "ftp/Ftp.h"
#include "sftp/Sftp.h"
#include "ui/DesktopLauncher.h"
#include "ui/KeyBindings.h"
#include "ui/ListBox.h"
#include "ui/LoginState.h"
#include "ui/OverwriteQuestion.h"
#include "ui/TransferProgress.h"
#include "ui/WindowTitle.h"
#include "ui_Ftpmain.h"

class TForm1 : public QWidget {
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  Ui::TForm1 ui;
  TVelaFtp Ftp1;
  TVelaSftp Sftp1;
  // The session the panes show and the buttons drive: Ftp1 unless SFTP was asked for.
  TFileSession& Session() { return *FSession; }
  const TFileSession& Session() const { return *FSession; }
  // The same engine as the socket that carries it (its server and port).
  const TVelaSocket& SessionSocket() const {
    return FSession == &Sftp1 ? static_cast<const TVelaSocket&>(Sftp1) : static_cast<const TVelaSocket&>(Ftp1);
  }
  // The text editor and the opener of the local pane (desktop defaults unless set).
  TDesktopLauncher Launcher;

  // Where the servers logged in to are remembered, for the server prompt to offer.
  std::string RecentServersFile;

  // Most text the log holds: an append that would go past it counts as failed, which
  // empties the log before the new text goes in.
  static constexpr qsizetype kLogCapacity = 1 << 20;

  // Window events.
  void FormCreate();
  void FormCloseQuery(bool& CanClose);

  // Connection and closing.
  void ConnectBtnClick();
  // Connects to `server` (as typed at the server prompt: a name, host:port or a link)
  // without asking for it: the server of the command line.
  void ConnectToServer(const std::string& server);
  void Button11Click();
  void Button10Click();
  void Ftp1FtpQuit(TObject* Sender);
  void Ftp1FtpReady(TObject* Sender);

  // The engine's information, requests and errors.
  void Ftp1FtpInfo(TObject* Sender, FtpInfo info, const std::string& addinfo);
  void Ftp1FtpNeedInfo(TObject* Sender, TFtpInfoNeeded need, std::string& value);
  void Ftp1FtpError(TObject* Sender, FtpError error, const std::string& addinfo);
  void Ftp1FtpCertificate(TObject* Sender, const TFtpCertificateQuestion& question, bool& trust);
  void Sftp1SftpHostKey(TObject* Sender, const TSftpHostKeyQuestion& question, bool& trust);

  // The end of the login: the keyring and the recent servers, then the link's folder or
  // the listing.
  void Ftp1LoggedIn(TObject* Sender);

  // Remote pane.
  void NeedNewFTPListing(TObject* Sender);
  void Ftp1ListingDone(TObject* Sender);
  void ListBox1DblClick();
  void MkDirFTPBtnClick();
  void RmDirFTPBtnClick();
  void Button12Click();
  void Button13Click();
  void Ftp1FileDeleted(TObject* Sender);
  void Button15Click();

  // Transfers between the panes.
  void SpeedButton2Click();
  // Enter in the server's file list: the files selected there, without any folder.
  void DownloadFiles();
  void SpeedButton1Click();
  void Ftp1FileReceived(TObject* Sender);
  void Ftp1FileStored(TObject* Sender);
  void Button4Click();
  // Files and folders dropped from the desktop's file manager on the remote pane go to
  // the server's current folder.
  void Panel2DragDrop(const std::vector<std::string>& paths);

  // Local pane.
  void Button6Click();
  void Button7Click();
  void Button8Click();
  void Button9Click();
  void Button2Click();
  void Button3Click();
  void Button14Click();

  // Backspace in either pane: the parent folder.
  void OpenLocalParent();
  void RereadLocalTree();
  void OpenRemoteParent();

  // Read by tests.
  bool Closing() const { return FClosing; }
  bool BatchRunning() const { return FBatchRunning; }
  const TFolderTransfer& FolderTransfer() const { return FSession == &Sftp1 ? FSftpFolder : FFolder; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ConnectHandlers();
  void ConnectKeys();  // the keyboard habits of both panes
  void BindEngineEvents();
  template <typename Component>
  void BindComponentEvents(Component& component, TFolderTransfer& walk);
  // Asks for the server and connects the engine it names (FtpmainLogin.cpp).
  void ConnectAsked();
  TFolderTransfer& Folder() { return FSession == &Sftp1 ? FSftpFolder : FFolder; }
  // The busy tests of every command that starts an engine operation.
  bool MayStartOperation() const;
  // Makes a request of the component; true when it refused it at once (busy, or no
  // connection), which ends nothing and fires no event.
  bool MakeRequest(const std::function<void()>& request);
  // Sets the hourglass and makes the request; a refused request puts the arrow back.
  void StartOperation(const std::function<void()>& request);
  // Waits for the end of one item of a batch; false when the batch must stop (the item
  // failed or was refused, the connection is gone, or the program is ending).
  bool WaitForItem(const std::function<void()>& request);
  // True when the batch may run: no other batch runs (a click handled inside a batch's
  // wait would otherwise start one inside it) and the window is not closing.
  bool BeginBatch();
  // Sends QUIT for a close request once the engine is free.
  void QuitForClose();
  void AppendLog(const std::string& text, bool emptyWhenFull);
  void RereadLocalFiles();
  // Stores local files (full paths) in the server's current folder, one item at a time.
  void StoreFiles(const std::vector<std::string>& paths, TOverwriteQuestion& overwrite);
  // Copies folders and all they hold, after the question that names them; true when
  // everything went and the batch may go on.
  // `beside`: the files that go after the folders, which the question counts too.
  bool TransferFolders(TFolderTransfer::Direction direction, std::vector<TFolderTransfer::Top> tops,
                       const std::vector<std::string>& beside, TOverwriteQuestion& overwrite);
  void WaitForFolders();
  void AcceptDrops();
  void ShowProgress();
  void DownloadSelection(bool withFolder);
  // What to do with a file that would go where one is already (a download's local file,
  // an upload's name listed by the server): the question's answer; Replace when nothing
  // is there.
  TOverwriteQuestion::Answer AskBeforeDownload(TOverwriteQuestion& overwrite, const std::string& name,
                                               const std::string& target, std::int64_t size, bool moreToCome);
  TOverwriteQuestion::Answer AskBeforeUpload(TOverwriteQuestion& overwrite, const std::string& path,
                                             std::int64_t listedSize, bool moreToCome);
  std::int64_t ListedSize(const std::string& name) const;

  // The session as the title shows it (FtpmainSession.cpp).
  void ShowSession();
  void ChooseStartFolder();
  void RememberPlace();
  // Starts a remote command of the pane whose refusal is told: `what` it asks for.
  void StartRemoteCommand(const QString& what, const std::function<void()>& request);
  void ReportRefusal(bool success, const std::string& reply);
  // A transfer that did not succeed: neither the bar nor the counter stays at what it
  // reached; one cut short by the end of the connection is told after its batch.
  void NoteTransferEnd(bool download);
  void TellCutShort();
  QString ErrorText(FtpError error, const QString& message) const;
  bool TransferUnderWay() const;
  // The running engine's file operation, its last error, and an FTP server's last reply.
  enum class Operation : std::uint8_t { Receive, Store };
  bool Running(Operation operation) const;
  FtpError SessionError() const;
  std::string LastServerReply() const;

  // The login's prompts (FtpmainLogin.cpp): the server, read as typed, and the password,
  // from the keyring or asked for.
  void AskServer(std::string& value);
  bool TakeServer(const std::string& typed, std::string& value);
  void UseServer(TServerTarget target, std::string& value);
  void AskPassword(std::string& value);
  void AskKeyring();
  TKeyringKey KeyringKey() const;
  void NoteLoginRefused();
  // Enters the link's folder after the login, step by step; false once there is nothing
  // more to do than list.
  bool FollowStartPath();
  void SelectStartFile();

  bool FClosing = false;
  bool FOperationDone = false;
  bool FOperationFailed = false;
  bool FRequestRefused = false;  // the component refused the request being made
  bool FWatchingRefusal = false; // a request is being made: a refusal now is its answer
  bool FEnding = false;          // the program has been asked to end
  bool FBatchRunning = false;    // a download, upload or delete batch is under way
  bool FStoreDataOpened = false; // the running store has opened its data connection
  bool FTransferBatch = false;   // the running batch downloads or uploads
  bool FAskingToClose = false;   // the question of a close during a transfer is open
  TSessionView FView;            // what the title shows
  // Where the pane was on each server (its name as typed, and port) in this run: the user
  // of that session and the folder shown last.
  struct TPlace {
    std::string User;
    std::string Folder;
  };
  std::map<std::pair<std::string, std::uint16_t>, TPlace> FPlaces;
  bool FBackToPlace = false;    // the running login goes back to a folder of FPlaces
  QString FPendingCommand;      // what the remote command under way asks for
  // A transfer the end of the connection cut short: download or not, and its file.
  std::optional<std::pair<bool, std::string>> FCutShort;
  std::unordered_map<std::string, std::int64_t> FRemoteSizes;  // the pane's files, as listed
  TKeyBindings Keys;
  TFileSession* FSession = &Ftp1;
  TLoginState FLogin;
  TFolderTransfer FFolder{Ftp1};  // the folder transfer of the running batch, if any
  TFolderTransfer FSftpFolder{Sftp1};
  QElapsedTimer FFolderClock;     // since the folder transfer began, for its time left
  std::optional<TTransferProgress> FProgress;  // made once the form's widgets are
};

// Sets a mark (a batch running, a question open) for as long as its handler runs, whatever
// way it ends.
class TBatch {
 public:
  explicit TBatch(bool& running) : running_(running) { running_ = true; }
  ~TBatch() { running_ = false; }
  TBatch(const TBatch&) = delete;
  TBatch& operator=(const TBatch&) = delete;

 private:
  bool& running_;
};

// The last part of a local path: the name of the file or folder.
std::string BaseName(const std::string& path);

// The rows selected in a list, first to last.
std::vector<std::string> SelectedNames(const TListBox& list);

extern TForm1* Form1;
