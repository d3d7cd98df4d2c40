// Folder transfers in the window: the question that names the folders with their counts
// (and the files that go beside them), the wait for the walk (which runs in the nested
// loop, like a batch's items), the question before a file replaces one that is there, the
// one message that ends a walk that could not go through, the progress of the running file
// or folder, and the files and folders dropped on the remote pane.
#include <sys/stat.h>

#include <QDropEvent>
#include <QLocale>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "texts/FrenchMessages.h"
#include "ui/Dialogs.h"
#include "ui/FailureTexts.h"
#include "ui/Ftpmain.h"
#include "ui/QtLoopBridge.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"

namespace {

using Walk = TFolderTransfer;

// The files that go after the folders: how many, and their bytes where known.
struct TBeside {
  std::size_t Files = 0;
  std::int64_t KnownBytes = 0;
  std::size_t UnknownSizes = 0;
};

// A name the session's last listing (the folder the walk is in) holds as a file: its size
// (-1: not given); -2 when it is not listed.
std::int64_t ListedInFolder(const TFileSession& session, const std::string& name) {
  for (std::size_t i = 0; i < session.FileNames.size(); ++i) {
    if (session.FileNames[i] == name) return i < session.FileFacts.size() ? session.FileFacts[i].Size : -1;
  }
  return -2;
}

QString Count(std::size_t n, const char* singular, const char* plural) {
  return QString::number(n) + QLatin1Char(' ') + QString::fromUtf8(n < 2 ? singular : plural);
}

// The first few names, quoted: "« a », « b », « c », …".
QString FirstNames(const std::vector<std::string>& names) {
  QStringList quoted;
  for (const std::string& name : names) {
    if (quoted.size() == 3) {
      quoted << QStringLiteral("…");
      break;
    }
    quoted << Quoted(name);
  }
  return quoted.join(QStringLiteral(", "));
}

std::vector<std::string> SkippedFor(const Walk& walk, Walk::SkipReason reason) {
  std::vector<std::string> paths;
  for (const Walk::Skip& skip : walk.Skipped()) {
    if (skip.Reason == reason) paths.push_back(skip.Path);
  }
  return paths;
}

// "Télécharger le dossier « site » et tout ce qu'il contient (12 fichiers, 3456 octets) ?";
// files beside it: "…, ainsi que 2 fichiers sélectionnés à côté (14 fichiers en tout, …) ?"
QString Question(const Walk& walk, const TBeside& beside) {
  QStringList names;
  for (const Walk::Folder& folder : walk.Folders()) {
    if (folder.Parent < 0) names << Quoted(folder.Name);
  }
  const bool one = names.size() == 1;
  const bool download = walk.direction() == Walk::Direction::Download;
  QString text = download ? QStringLiteral("Télécharger ") : QStringLiteral("Envoyer sur le serveur ");
  text += (one ? QStringLiteral("le dossier ") : QStringLiteral("les dossiers ")) + names.join(QStringLiteral(", ")) +
          (one ? QStringLiteral(" et tout ce qu'il contient") : QStringLiteral(" et tout ce qu'ils contiennent"));
  if (beside.Files > 0) {
    text += QStringLiteral(", ainsi que ") +
            (download ? Count(beside.Files, "fichier sélectionné à côté", "fichiers sélectionnés à côté")
                      : Count(beside.Files, "fichier déposé avec", "fichiers déposés avec"));
  }
  text += QStringLiteral(" (") + Count(walk.Files().size() + beside.Files, "fichier", "fichiers") +
          (beside.Files > 0 ? QStringLiteral(" en tout, ") : QStringLiteral(", "));
  if (walk.UnknownSizes() + beside.UnknownSizes > 0) text += QStringLiteral("au moins ");
  // Grouped by thousands, as French writes numbers: 30 070 005.
  text += QLocale(QLocale::French).toString(static_cast<qlonglong>(walk.KnownBytes() + beside.KnownBytes)) +
          QStringLiteral(" octets) ?");
  if (!walk.RefusedNames().empty()) {
    text += QStringLiteral("\n\n") + Count(walk.RefusedNames().size(), "nom n'est pas téléchargé", "noms ne sont pas téléchargés") +
            QStringLiteral(" : ils désignent un emplacement hors du répertoire local (") + FirstNames(walk.RefusedNames()) +
            QStringLiteral(").");
  }
  if (const auto links = SkippedFor(walk, Walk::SkipReason::LinkLeaves); !links.empty()) {
    text += QStringLiteral("\n\n") + Count(links.size(), "lien n'est pas suivi", "liens ne sont pas suivis") +
            (links.size() < 2 ? QStringLiteral(" : il mène") : QStringLiteral(" : ils mènent")) +
            QStringLiteral(" hors du dossier choisi (") + FirstNames(links) + QStringLiteral(").");
  }
  if (const auto loops = SkippedFor(walk, Walk::SkipReason::Loop); !loops.empty()) {
    text += QStringLiteral("\n\n") + Count(loops.size(), "dossier n'est pas copié", "dossiers ne sont pas copiés") +
            (loops.size() < 2 ? QStringLiteral(" : il ramène à un dossier qui le contient (")
                              : QStringLiteral(" : ils ramènent à un dossier qui les contient (")) +
            FirstNames(loops) + QStringLiteral(").");
  }
  return text;
}

// After a walk that went through: what was not copied, counted, the first few named.
QString SkippedMessage(const Walk& walk) {
  if (walk.Skipped().empty() || walk.outcome() != Walk::Outcome::Sent) return {};
  std::vector<std::string> paths;
  for (const Walk::Skip& skip : walk.Skipped()) paths.push_back(skip.Path);
  return Count(paths.size(), "élément n'a pas été copié", "éléments n'ont pas été copiés") + QStringLiteral(" : ") +
         FirstNames(paths) + QStringLiteral(".");
}

// The one message of a walk that could not go through; none when it went, was declined
// or stopped, or when the engine's error has been shown already.
QString OutcomeMessage(const Walk& walk) {
  switch (walk.outcome()) {
    case Walk::Outcome::TooDeep:
      return QStringLiteral("Le dossier ") + Quoted(walk.Problem()) +
             QStringLiteral(" n'est pas transféré : il contient des dossiers sur plus de ") +
             QString::number(Walk::kMaxDepth) +
             QStringLiteral(" niveaux.");
    case Walk::Outcome::FolderUnreadable:
      return QStringLiteral("Le dossier ") + Quoted(walk.Problem()) +
             QStringLiteral(" ne peut pas être ouvert : le transfert du dossier s'arrête.");
    case Walk::Outcome::LocalFolderFailed:
      return QStringLiteral("Le dossier ") + Quoted(walk.Problem()) + QStringLiteral(" ne peut pas être créé (") +
             QString::fromStdString(talvo::texts::LocalErrorReason(walk.ProblemError())) +
             QStringLiteral(") : le transfert du dossier s'arrête.");
    default:
      return SkippedMessage(walk);
  }
}

}  // namespace

bool TForm1::TransferFolders(TFolderTransfer::Direction direction, std::vector<TFolderTransfer::Top> tops,
                             const std::vector<std::string>& beside, TOverwriteQuestion& overwrite) {
  TBeside besideCounts;
  for (const std::string& file : beside) {
    struct stat st {};
    const std::int64_t size = direction == Walk::Direction::Download ? ListedSize(file)
                              : ::stat(file.c_str(), &st) == 0   ? static_cast<std::int64_t>(st.st_size)
                                                                 : -1;
    ++besideCounts.Files;
    if (size >= 0) {
      besideCounts.KnownBytes += size;
    } else {
      ++besideCounts.UnknownSizes;
    }
  }
  // Before each file: the question when it would replace one; "Annuler" ends the walk.
  Walk& folder = Folder();
  folder.BeforeFile = [&](const Walk::File& file) {
    const bool more = folder.FilesDone() + 1 < folder.Files().size() || !beside.empty();
    const TOverwriteQuestion::Answer answer =
        direction == Walk::Direction::Download
            ? AskBeforeDownload(overwrite, file.Name, file.Local, file.Facts.Size, more)
            : AskBeforeUpload(overwrite, file.Local, ListedInFolder(Session(), file.Name), more);
    if (answer == TOverwriteQuestion::Answer::Stop) folder.Stop();
    return answer == TOverwriteQuestion::Answer::Replace || answer == TOverwriteQuestion::Answer::Resume;
  };
  struct TForgetHook {
    Walk& walk;
    ~TForgetHook() { walk.BeforeFile = nullptr; }
  } forget{folder};
  Screen::SetHourglass();
  Folder().Start(direction, std::move(tops));
  WaitForFolders();
  if (Folder().phase() == Walk::Phase::Scanned) {
    if (Confirm(this, Question(Folder(), besideCounts))) {
      FFolderClock.start();
      Folder().Go();
    } else {
      Folder().Decline();
    }
    WaitForFolders();
  }
  Folder().Abandon();  // when the wait ended without it: the connection or the program ended
  FProgress->Hide();
  const QString message = OutcomeMessage(Folder());
  if (!message.isEmpty() && !FClosing) ShowInformation(this, message);
  return Folder().outcome() == Walk::Outcome::Sent && !FOperationFailed;
}

// Until the walk waits for its question or is done; the end of the connection or of the
// program ends the wait too, since no event would come.
void TForm1::WaitForFolders() {
  while (Folder().Running() && Folder().phase() != Walk::Phase::Scanned && Session().Connected && !FEnding &&
         !FClosing) {
    TQtLoopBridge::WaitForEvents();
  }
}

void TForm1::ShowProgress() {
  const bool folder = Folder().phase() == Walk::Phase::Transferring;
  if (!FProgress->Due()) return;
  if (folder) {
    const QString format = QString::number(Folder().RunningFileNumber()) + QLatin1Char('/') +
                           QString::number(Folder().Files().size());
    FProgress->Show(Folder().BytesDone() + Session().ResumedFrom + Session().BytesTransferred,
                    Folder().KnownBytes(), FFolderClock.elapsed(), format);
  } else {
    FProgress->Show(Session().ResumedFrom + Session().BytesTransferred, Session().ExpectedSize,
                    Session().TransferTime, QStringLiteral("%p %"), Session().ResumedFrom);
  }
}

// --- Dropped on the remote pane ---

void TForm1::AcceptDrops() {
  for (QWidget* target : {static_cast<QWidget*>(ui.Panel2), ui.ListBox1->viewport(), ui.ListBox2->viewport()}) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
    return QWidget::eventFilter(watched, event);
  }
  auto* drop = static_cast<QDropEvent*>(event);
  std::vector<std::string> paths;
  for (const QUrl& url : drop->mimeData()->urls()) {
    if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
  }
  if (paths.empty()) return false;
  drop->acceptProposedAction();
  // The transfer runs after the drop has been answered: the file manager waits for that.
  if (type == QEvent::Drop) {
    QTimer::singleShot(0, this, [this, paths] {
      try {
        Panel2DragDrop(paths);
      } catch (const std::exception& e) {
        ShowApplicationError(this, DisplayText(e.what()));
      }
    });
  }
  return true;
}

// Folders go first, after their question; then the files, as an upload batch sends them.
void TForm1::Panel2DragDrop(const std::vector<std::string>& paths) {
  if (!BeginBatch()) return;
  const TBatch batch(FBatchRunning);
  const TBatch transfer(FTransferBatch);
  std::vector<TFolderTransfer::Top> folders;
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      folders.push_back({BaseName(path), path});
    } else if (S_ISREG(st.st_mode)) {
      files.push_back(path);
    }
  }
  TOverwriteQuestion overwrite(this);
  if (folders.empty() || TransferFolders(TFolderTransfer::Direction::Upload, std::move(folders), files, overwrite)) {
    StoreFiles(files, overwrite);
  }
  NeedNewFTPListing(&Ftp1);
  RereadLocalFiles();
  TellCutShort();
}
