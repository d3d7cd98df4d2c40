// The remote pane: the two lists filled from each listing (".." first, then the names in
// order), and the buttons that enter, make and remove directories, rename and delete
// files, and list again. Every change ends in a new listing; the lists keep the last
// listing between listings. A change the server refuses is told with its reply.
#include "ui/Dialogs.h"
#include "ui/FailureTexts.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/NameOrder.h"
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
  std::erase(directories, "..");
  SortNames(directories);
  directories.insert(directories.begin(), "..");
  ui.ListBox1->Assign(std::move(directories));
  std::vector<std::string> files = Session().FileNames;
  SortNames(files);
  ui.ListBox2->Assign(std::move(files));
  SelectStartFile();
  FRemoteSizes.clear();
  for (std::size_t i = 0; i < Session().FileNames.size() && i < Session().FileFacts.size(); ++i) {
    FRemoteSizes[Session().FileNames[i]] = Session().FileFacts[i].Size;
  }
  if (Session().Connected) {
    FView.Folder = Session().InitialDirectory;  // as PWD gave it
    RememberPlace();
    ShowSession();
  }
  Screen::SetArrow();
}

std::int64_t TForm1::ListedSize(const std::string& name) const {
  const auto it = FRemoteSizes.find(name);
  return it == FRemoteSizes.end() ? -1 : it->second;
}

void TForm1::ListBox1DblClick() {
  if (!MayStartOperation()) {
    // Ignored while busy: the row it selected must not make a later download a folder's.
    ui.ListBox1->clearSelection();
    return;
  }
  const int row = ui.ListBox1->ItemIndex();
  if (row < 0) return;
  const std::string directory = ui.ListBox1->Item(row);
  StartRemoteCommand(QStringLiteral("ouvrir le dossier ") + Quoted(directory),
                     [&] { Session().ChangeDirectory(directory); });
}

void TForm1::MkDirFTPBtnClick() {
  if (!MayStartOperation()) return;
  QString name;
  if (!InputForm->Ask(QStringLiteral("Création de répertoire"), QStringLiteral("Nom du répertoire :"), name)) return;
  const std::string directory = TypedBytes(name);
  StartRemoteCommand(QStringLiteral("créer le dossier ") + Quoted(directory),
                     [&] { Session().CreateDirectory(directory); });
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
  StartRemoteCommand(QStringLiteral("supprimer le dossier ") + Quoted(directory),
                     [&] { Session().DeleteDirectory(directory); });
}

void TForm1::Button12Click() {
  if (!MayStartOperation()) return;
  const int row = ui.ListBox2->ItemIndex();
  if (row < 0) return;
  const std::string oldName = ui.ListBox2->Item(row);
  QString newName;
  if (!InputForm->Ask(QStringLiteral("Renommer"), QStringLiteral("Nouveau nom :"), newName)) return;
  const std::string target = TypedBytes(newName);
  StartRemoteCommand(QStringLiteral("renommer ") + Quoted(oldName) + QStringLiteral(" en ") + Quoted(target),
                     [&] { Session().RenameFile(oldName, target); });
}

void TForm1::Button13Click() {
  if (!BeginBatch() || ui.ListBox2->ItemIndex() < 0) return;
  const TBatch batch(FBatchRunning);
  const QString question = ui.ListBox2->SelCount() < 2
                               ? QStringLiteral("Etes-vous sûr de vouloir supprimer ce fichier ?")
                               : QStringLiteral("Etes-vous sûr de vouloir supprimer ces fichiers ?");
  std::vector<std::pair<std::string, std::string>> refused;  // each name with the server's reply
  if (Confirm(this, question)) {
    // The names are taken once: the window stays live during the batch and the user may
    // change the selection meanwhile.
    for (const std::string& name : SelectedNames(*ui.ListBox2)) {
      if (!WaitForItem([&] { Session().DeleteFile(name); })) break;
      if (!Session().Success) refused.emplace_back(name, LastServerReply());
    }
  }
  NeedNewFTPListing(&Ftp1);
  if (!refused.empty() && !FClosing) ShowInformation(this, RefusedDeletionsText(refused));
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
  StartRemoteCommand(QStringLiteral("ouvrir le dossier parent"), [this] { Session().ChangeDirectory(".."); });
}
