// Transfers between the panes: the download and upload batches, the end of each file, the
// throughput line of each stored file, and the stop button.
#include "ui/Dialogs.h"
#include "ui/FileListBox.h"
#include "ui/Ftpmain.h"
#include "ui/LocalNames.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"
#include "ui/ThroughputLine.h"

void TForm1::SpeedButton2Click() {
  if (!BeginBatch() || ui.ListBox2->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  const std::string directory = ui.FileListBox1->Directory();
  for (const std::string& name : SelectedNames(*ui.ListBox2)) {
    if (!IsPlainFileName(name)) {
      // A listed name that would write outside the local directory (or nowhere): refused,
      // and the batch goes on with the next file.
      ShowInformation(this, QStringLiteral("Le fichier « ") + DisplayText(name) +
                                QStringLiteral(" » n'est pas téléchargé : son nom désigne un emplacement "
                                               "hors du répertoire local."));
      continue;
    }
    Ftp1.RemoteFile = name;
    Ftp1.LocalFile = JoinPath(directory, name);
    if (!WaitForItem([this] { Ftp1.ReceiveFile(); })) break;
  }
  RereadLocalFiles();
}

void TForm1::SpeedButton1Click() {
  if (!BeginBatch() || ui.FileListBox1->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  // Full paths, taken once: the local pane stays usable during the batch.
  const std::string directory = ui.FileListBox1->Directory();
  for (const std::string& name : SelectedNames(*ui.FileListBox1)) {
    Ftp1.LocalFile = JoinPath(directory, name);
    Ftp1.RemoteFile = name;
    FStoreDataOpened = false;
    if (!WaitForItem([this] { Ftp1.StoreFile(); })) break;
  }
  NeedNewFTPListing(&Ftp1);
  RereadLocalFiles();
}

void TForm1::Ftp1FileReceived(TObject*) {
  FOperationDone = true;
  Screen::SetArrow();
}

void TForm1::Ftp1FileStored(TObject*) {
  // Only a store that opened its data connection has counters of its own to show.
  if (FStoreDataOpened && Ftp1.TransferTime != 0) {
    AppendLog(ThroughputLine(Ftp1.BytesTransferred, Ftp1.TransferTime), false);
  }
  FStoreDataOpened = false;
  ui.ByteCounter->Clear();
  FOperationDone = true;
}

void TForm1::Button4Click() {
  Ftp1.Abort();
}

void TForm1::RereadLocalFiles() {
  ui.FileListBox1->SetMask("");
  ui.FileListBox1->SetMask("*.*");
}
