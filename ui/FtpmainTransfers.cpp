// Transfers between the panes: the download and upload batches, the end of each file, the
// throughput line of each stored file, and the stop button. A folder selected with the
// files goes first (FtpmainFolders.cpp). A file that would go where one is already is
// asked about first.
#include <sys/stat.h>

#include "session/LocalNames.h"
#include "ui/Dialogs.h"
#include "ui/FailureTexts.h"
#include "ui/FileListBox.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"
#include "ui/ThroughputLine.h"

namespace {

using Answer = TOverwriteQuestion::Answer;

// A listed name that would write outside the local directory (or nowhere) is refused.
bool Downloadable(QWidget* window, const std::string& name, const QString& what) {
  if (IsPlainFileName(name)) return true;
  ShowInformation(window, what + QStringLiteral(" « ") + DisplayText(name) +
                              QStringLiteral(" » n'est pas téléchargé : son nom désigne un emplacement "
                                             "hors du répertoire local."));
  return false;
}

}  // namespace

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

void TForm1::SpeedButton2Click() {
  DownloadSelection(true);
}

void TForm1::DownloadFiles() {
  DownloadSelection(false);
}

// With `withFolder`, the folder selected in the folder list (never "..") goes too, after
// its question.
void TForm1::DownloadSelection(bool withFolder) {
  if (!BeginBatch()) return;
  const std::vector<std::string> folders = withFolder ? SelectedNames(*ui.ListBox1) : std::vector<std::string>{};
  const bool folder = !folders.empty() && folders.front() != "..";
  if (!folder && ui.ListBox2->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  const TBatch transfer(FTransferBatch);
  TOverwriteQuestion overwrite(this);
  const std::string directory = ui.FileListBox1->Directory();
  std::vector<std::string> files;
  for (const std::string& name : SelectedNames(*ui.ListBox2)) {
    // Refused, and the batch goes on with the next file.
    if (Downloadable(this, name, QStringLiteral("Le fichier"))) files.push_back(name);
  }
  if (folder && Downloadable(this, folders.front(), QStringLiteral("Le dossier"))) {
    const bool sent = TransferFolders(TFolderTransfer::Direction::Download,
                                      {{folders.front(), JoinPath(directory, folders.front())}}, files, overwrite);
    // The new folder shows in the local tree (the file list follows it).
    ui.DirectoryListBox1->SetDirectory(ui.DirectoryListBox1->Directory());
    // A folder that went has served: a later download of files must not take it again.
    if (sent) ui.ListBox1->clearSelection();
    if (!sent) {
      if (!Session().Busy) Screen::SetArrow();
      TellCutShort();
      return;
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& name = files[i];
    const std::string target = JoinPath(directory, name);
    const Answer answer = AskBeforeDownload(overwrite, name, target, ListedSize(name), i + 1 < files.size());
    if (answer == Answer::Stop) break;
    if (answer == Answer::Skip) continue;
    Session().RemoteFile = name;
    Session().LocalFile = target;
    if (!WaitForItem([this] { Session().ReceiveFile(); })) break;
  }
  FProgress->Hide();
  if (!Session().Busy) Screen::SetArrow();  // a folder transfer without files after it keeps no hourglass
  RereadLocalFiles();
  TellCutShort();
}

// A local file (or anything but a folder) of that name is there: the question. "Remplacer"
// starts over, dropping this program's part kept from an earlier try; "Reprendre" leaves
// it to be continued.
TOverwriteQuestion::Answer TForm1::AskBeforeDownload(TOverwriteQuestion& overwrite, const std::string& name,
                                                     const std::string& target, std::int64_t size, bool moreToCome) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Answer::Replace;
  if (S_ISLNK(st.st_mode) && ::stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Answer::Replace;
  // The file as the download would mark its part; its folder's path where the session has
  // an absolute one.
  TPartOrigin source;
  source.Server = SessionSocket().FtpServer;
  source.Port = SessionSocket().FtpPort;
  source.User = Session().UserName;
  const std::string& folder = Session().InitialDirectory;
  source.RemotePath = folder.starts_with('/') ? JoinPath(folder, name) : name;
  source.Size = size;
  const bool resumable = HasResumablePart(target, source);
  QString text = QStringLiteral("Le fichier ") + Quoted(name) + QStringLiteral(" existe déjà dans le dossier local (") +
                 Bytes(st.st_size) + QStringLiteral("). Le remplacer par celui du serveur") +
                 (size >= 0 ? QStringLiteral(" (") + Bytes(size) + QStringLiteral(")") : QString()) +
                 QStringLiteral(" ?");
  if (resumable) {
    text += QStringLiteral("\n\nUn téléchargement précédent de ce fichier s'est arrêté en route : « Reprendre » le "
                           "continue là où il s'est arrêté.");
  }
  const Answer answer = overwrite.Ask(text, resumable, moreToCome);
  if (answer == Answer::Replace) DiscardPart(target);
  return answer;
}

// The server listed a file of that name (`listedSize` >= -1; -2: not listed).
TOverwriteQuestion::Answer TForm1::AskBeforeUpload(TOverwriteQuestion& overwrite, const std::string& path,
                                                   std::int64_t listedSize, bool moreToCome) {
  if (listedSize < -1) return Answer::Replace;
  struct stat st {};
  const bool known = ::stat(path.c_str(), &st) == 0;
  const QString text =
      QStringLiteral("Le fichier ") + Quoted(BaseName(path)) + QStringLiteral(" existe déjà sur le serveur") +
      (listedSize >= 0 ? QStringLiteral(" (") + Bytes(listedSize) + QStringLiteral(")") : QString()) +
      QStringLiteral(". Le remplacer par le vôtre") +
      (known ? QStringLiteral(" (") + Bytes(st.st_size) + QStringLiteral(")") : QString()) + QStringLiteral(" ?");
  return overwrite.Ask(text, false, moreToCome);
}

// With no file selected, a sub-folder highlighted in the local tree (clicked once, not
// opened) goes with everything in it, after its question.
void TForm1::SpeedButton1Click() {
  if (!BeginBatch()) return;
  const std::string folder = ui.DirectoryListBox1->HighlightedSubDirectory();
  const bool sendFolder = !folder.empty() && ui.FileListBox1->SelCount() == 0;
  if (!sendFolder && ui.FileListBox1->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  const TBatch transfer(FTransferBatch);
  TOverwriteQuestion overwrite(this);
  if (sendFolder) {
    TransferFolders(TFolderTransfer::Direction::Upload, {{BaseName(folder), folder}}, {}, overwrite);
  } else {
    // Full paths, taken once: the local pane stays usable during the batch.
    std::vector<std::string> paths;
    for (const std::string& name : SelectedNames(*ui.FileListBox1)) {
      paths.push_back(JoinPath(ui.FileListBox1->Directory(), name));
    }
    StoreFiles(paths, overwrite);
  }
  NeedNewFTPListing(&Ftp1);
  RereadLocalFiles();
  TellCutShort();
}

// Into the folder the pane shows: a name it lists is asked about first.
void TForm1::StoreFiles(const std::vector<std::string>& paths, TOverwriteQuestion& overwrite) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const std::string name = BaseName(path);
    const std::int64_t listed = ui.ListBox2->IndexOf(name) >= 0 ? ListedSize(name) : -2;
    const Answer answer = AskBeforeUpload(overwrite, path, listed, i + 1 < paths.size());
    if (answer == Answer::Stop) break;
    if (answer == Answer::Skip) continue;
    Session().LocalFile = path;
    Session().RemoteFile = name;
    FStoreDataOpened = false;
    if (!WaitForItem([this] { Session().StoreFile(); })) break;
  }
  FProgress->Hide();
}

void TForm1::Ftp1FileReceived(TObject*) {
  FOperationDone = true;
  Screen::SetArrow();
}

void TForm1::Ftp1FileStored(TObject*) {
  // Only a store that opened its data connection has counters of its own to show.
  if (FStoreDataOpened && Session().TransferTime != 0) {
    AppendLog(ThroughputLine(Session().BytesTransferred, Session().TransferTime), false);
  }
  FStoreDataOpened = false;
  ui.ByteCounter->Clear();
  FOperationDone = true;
}

// A folder transfer ends after the running file, which the stop ends too.
void TForm1::Button4Click() {
  Session().Abort();
  Folder().Stop();
}

void TForm1::RereadLocalFiles() {
  ui.FileListBox1->SetMask("");
  ui.FileListBox1->SetMask("*.*");
}
