// The remote pane: the two lists filled from each listing, and the buttons that enter,
// make and remove directories, rename and delete files, and list again. Every change ends
// in a new listing; the lists keep the last listing between listings.
#include <algorithm>

#include "ui/Dialogs.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"

void TForm1::NeedNewFTPListing(TObject*) {
  if (FClosing) return;  // the session is ending: QUIT comes next, not a listing
  if (FollowStartPath()) return;
  // No busy test and no cursor change; but a listing refused at once ends nothing, so the
  // hourglass of the operation that led here must not stay.
  if (MakeRequest([this] { Session().GetListing(); })) Screen::SetArrow();
}

void TForm1::Ftp1ListingDone(TObject*) {
  std::vector<std::string> directories = Session().DirectoryNames;
  if (std::find(directories.begin(), directories.end(), "..") == directories.end()) {
    directories.insert(directories.begin(), "..");
  }
  ui.ListBox1->Assign(std::move(directories));
  ui.ListBox2->Assign(Session().FileNames);
  SelectStartFile();
  Screen::SetArrow();
}

void TForm1::ListBox1DblClick() {
  if (!MayStartOperation()) return;
  const int row = ui.ListBox1->ItemIndex();
  if (row < 0) return;
  const std::string directory = ui.ListBox1->Item(row);
  StartOperation([&] { Session().ChangeDirectory(directory); });
}

void TForm1::MkDirFTPBtnClick() {
  if (!MayStartOperation()) return;
  QString name;
  if (!InputForm->Ask(QStringLiteral("Création de répertoire"), QStringLiteral("Nom du répertoire :"), name)) return;
  StartOperation([&] { Session().CreateDirectory(TypedBytes(name)); });
}

void TForm1::RmDirFTPBtnClick() {
  if (!MayStartOperation()) return;
  const int row = ui.ListBox1->ItemIndex();
  if (row < 0) return;
  const std::string directory = ui.ListBox1->Item(row);
  if (!Confirm(this, QStringLiteral("Etes-vous sûr de vouloir supprimer ") + DisplayText(directory) +
                         QStringLiteral(" ?"))) {
    return;
  }
  StartOperation([&] { Session().DeleteDirectory(directory); });
}

void TForm1::Button12Click() {
  if (!MayStartOperation()) return;
  const int row = ui.ListBox2->ItemIndex();
  if (row < 0) return;
  const std::string oldName = ui.ListBox2->Item(row);
  QString newName;
  if (!InputForm->Ask(QStringLiteral("Renommer"), QStringLiteral("Nouveau nom :"), newName)) return;
  StartOperation([&] { Session().RenameFile(oldName, TypedBytes(newName)); });
}

void TForm1::Button13Click() {
  if (!BeginBatch() || ui.ListBox2->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  const QString question = ui.ListBox2->SelCount() < 2
                               ? QStringLiteral("Etes-vous sûr de vouloir supprimer ce fichier ?")
                               : QStringLiteral("Etes-vous sûr de vouloir supprimer ces fichiers ?");
  if (Confirm(this, question)) {
    // The names are taken once: the window stays live during the batch and the user may
    // change the selection meanwhile.
    for (const std::string& name : SelectedNames(*ui.ListBox2)) {
      if (!WaitForItem([&] { Session().DeleteFile(name); })) break;
    }
  }
  NeedNewFTPListing(&Ftp1);
}

void TForm1::Ftp1FileDeleted(TObject*) {
  FOperationDone = true;
}

void TForm1::Button15Click() {
  if (!MayStartOperation()) return;
  Session().GetListing();
}

void TForm1::OpenRemoteParent() {
  if (!MayStartOperation()) return;
  StartOperation([this] { Session().ChangeDirectory(".."); });
}
