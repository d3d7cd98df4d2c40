// Transfers between the panes: the download and upload batches, the end of each file, the
// throughput line of each stored file, and the stop button. A folder selected with the
// files goes first (FtpmainFolders.cpp).
#include "session/LocalNames.h"
#include "ui/Dialogs.h"
#include "ui/FileListBox.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"
#include "ui/ThroughputLine.h"

namespace {

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

// The folder selected in the folder list (never "..") goes too, after its question.
void TForm1::SpeedButton2Click() {
  if (!BeginBatch()) return;
  const std::vector<std::string> folders = SelectedNames(*ui.ListBox1);
  const bool folder = !folders.empty() && folders.front() != "..";
  if (!folder && ui.ListBox2->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  const std::string directory = ui.FileListBox1->Directory();
  if (folder && Downloadable(this, folders.front(), QStringLiteral("Le dossier"))) {
    const bool sent =
        TransferFolders(TFolderTransfer::Direction::Download, {{folders.front(), JoinPath(directory, folders.front())}});
    // The new folder shows in the local tree (the file list follows it).
    ui.DirectoryListBox1->SetDirectory(ui.DirectoryListBox1->Directory());
    if (!sent) {
      if (!Session().Busy) Screen::SetArrow();
      return;
    }
  }
  for (const std::string& name : SelectedNames(*ui.ListBox2)) {
    // Refused, and the batch goes on with the next file.
    if (!Downloadable(this, name, QStringLiteral("Le fichier"))) continue;
    Session().RemoteFile = name;
    Session().LocalFile = JoinPath(directory, name);
    if (!WaitForItem([this] { Session().ReceiveFile(); })) break;
  }
  FProgress->Hide();
  if (!Session().Busy) Screen::SetArrow();  // a folder transfer without files after it keeps no hourglass
  RereadLocalFiles();
}

// With no file selected, a sub-folder highlighted in the local tree (clicked once, not
// opened) goes with everything in it, after its question.
void TForm1::SpeedButton1Click() {
  if (!BeginBatch()) return;
  const std::string folder = ui.DirectoryListBox1->HighlightedSubDirectory();
  const bool sendFolder = !folder.empty() && ui.FileListBox1->SelCount() == 0;
  if (!sendFolder && ui.FileListBox1->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  if (sendFolder) {
    TransferFolders(TFolderTransfer::Direction::Upload, {{BaseName(folder), folder}});
  } else {
    // Full paths, taken once: the local pane stays usable during the batch.
    std::vector<std::string> paths;
    for (const std::string& name : SelectedNames(*ui.FileListBox1)) {
      paths.push_back(JoinPath(ui.FileListBox1->Directory(), name));
    }
    StoreFiles(paths);
  }
  NeedNewFTPListing(&Ftp1);
  RereadLocalFiles();
}

void TForm1::StoreFiles(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    Session().LocalFile = path;
    Session().RemoteFile = BaseName(path);
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
