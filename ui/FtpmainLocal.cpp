// The local pane: view, open, rename and delete local files, make and remove local
// directories, and read the file list again. Nothing here reaches the engine. A refused
// file operation throws InOutError, which ends the handler at that point (the steps after
// it do not run) and is shown by the application's error box.
#include "ui/Dialogs.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/LocalFiles.h"
#include "ui/TextCodec.h"

void TForm1::Button6Click() {
  if (ui.FileListBox1->ItemIndex() < 0) return;
  Launcher.EditText(ui.FileListBox1->FileName());
}

void TForm1::Button7Click() {
  if (ui.FileListBox1->ItemIndex() < 0) return;
  Launcher.Open(ui.FileListBox1->FileName());
}

void TForm1::Button8Click() {
  if (ui.FileListBox1->ItemIndex() < 0) return;
  QString typed;
  if (!InputForm->Ask(QStringLiteral("Renommer"), QStringLiteral("Nouveau nom :"), typed)) return;
  const std::string fileName = ui.FileListBox1->FileName();
  RenameWithoutReplacing(fileName, RenameTarget(fileName, TypedBytes(typed)));
  RereadLocalFiles();
}

void TForm1::Button9Click() {
  if (ui.FileListBox1->ItemIndex() < 0) return;
  const QString question = ui.FileListBox1->SelCount() < 2
                               ? QStringLiteral("Etes-vous sûr de vouloir supprimer ce fichier ?")
                               : QStringLiteral("Etes-vous sûr de vouloir supprimer ces fichiers ?");
  if (Confirm(this, question)) {
    // First to last; the first refusal ends the handler, so the later files stay and the
    // list is not read again.
    const std::string directory = ui.FileListBox1->Directory();
    for (const std::string& name : SelectedNames(*ui.FileListBox1)) DeleteLocalFile(JoinPath(directory, name));
  }
  RereadLocalFiles();
}

void TForm1::Button2Click() {
  if (ui.DirectoryListBox1->ItemIndex() < 0) return;
  QString typed;
  if (!InputForm->Ask(QStringLiteral("Création de répertoire"), QStringLiteral("Nom du répertoire :"), typed)) {
    return;
  }
  const std::string path = JoinPath(ui.DirectoryListBox1->Directory(), TypedBytes(typed));
  MakeLocalDirectory(path);
  ui.DirectoryListBox1->SetDirectory(path);
}

void TForm1::Button3Click() {
  if (ui.DirectoryListBox1->ItemIndex() < 0) return;
  const std::string directory = ui.DirectoryListBox1->Directory();
  if (!Confirm(this, QStringLiteral("Etes-vous sûr de vouloir supprimer ") + DisplayText(directory) +
                         QStringLiteral(" ?"))) {
    return;
  }
  // Out of the directory first, so that it is no longer the current one when removed; if
  // the removal fails, the tree stays on the parent.
  const std::string parent = ParentDirectory(directory);
  ui.DirectoryListBox1->SetDirectory(parent);
  RemoveLocalDirectory(directory);
  ui.DirectoryListBox1->Clear();
  ui.DriveComboBox1->SetDrive(ui.DriveComboBox1->DriveOf(parent));
  ui.DirectoryListBox1->SetDirectory(parent);
}

void TForm1::Button14Click() {
  RereadLocalFiles();
}

// Folders made or removed by other programs show only when the tree is read again.
void TForm1::RereadLocalTree() {
  ui.DirectoryListBox1->SetDirectory(ui.DirectoryListBox1->Directory());
}

void TForm1::OpenLocalParent() {
  const std::string directory = ui.DirectoryListBox1->Directory();
  const std::string parent = ParentDirectory(directory);
  if (parent != directory) ui.DirectoryListBox1->SetDirectory(parent);
}
