// The login's prompts and what follows the login: the server read as typed (a name,
// host:port or a link, with the servers used before offered), which also chooses the
// engine (sftp:// is SFTP's, anything else FTP's), the password from the desktop's keyring
// or asked for (with "Mémoriser le mot de passe" where a keyring runs), a refused
// remembered password asked for again, the recent servers, and the link's folder entered
// once logged in.
#include <QStringList>
#include <QTimer>
#include <utility>

#include "credentials/Keyring.h"
#include "session/RecentServers.h"
#include "texts/FrenchMessages.h"
#include "ui/Dialogs.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"

TKeyringKey TForm1::KeyringKey() const {
  const std::string& host = FLogin.Target.Host.empty() ? SessionSocket().FtpServer : FLogin.Target.Host;
  return KeyringKeyFor(SchemeName(FLogin.Target.Protocol), host, SessionSocket().FtpPort, Session().UserName);
}

// Asks the keyring once for this server, port and user: whether it runs, and what it
// remembers (unless the remembered password was just refused). Bounded (see Keyring.h);
// called before the connection starts when a link or a recent server gives the user.
void TForm1::AskKeyring() {
  if (FLogin.KeyringRuns && FLogin.KeyringUser == Session().UserName) return;
  FLogin.KeyringRuns = TKeyring::Running();
  FLogin.KeyringUser = Session().UserName;
  FLogin.Remembered.reset();
  if (*FLogin.KeyringRuns && !FLogin.OfferReplace) FLogin.Remembered = TKeyring::Lookup(KeyringKey());
}

void TForm1::ConnectToServer(const std::string& server) {
  FLogin.PresetServer = server;
  ConnectBtnClick();
}

// The server is asked for before an engine connects, since what is typed chooses the
// engine. FTP is then asked for it by its own request and given the answer, so that an
// empty one ends as it always has (no server).
void TForm1::ConnectAsked() {
  FSession = &Ftp1;
  for (TFileSession* session : {static_cast<TFileSession*>(&Ftp1), static_cast<TFileSession*>(&Sftp1)}) {
    session->UserName.clear();
    session->UserPassword.clear();
  }
  Ftp1.SetFtpServer("");
  Ftp1.UserAccount.clear();
  // Chosen once the server is known (ChooseStartFolder), never left from the last session.
  Ftp1.InitialDirectory.clear();
  Sftp1.InitialDirectory.clear();
  FBackToPlace = false;
  FLogin.BeginConnection(Ftp1.FtpPort, Ftp1.TlsMode);
  std::string server;
  AskServer(server);
  if (std::exchange(Ftp1.InfoRequestCancelled, false)) {  // the engine then says it was cancelled
    if (MakeRequest([this] { Ftp1.Connect(); })) Screen::SetArrow();
    return;
  }
  if (FSession == &Sftp1) {
    Sftp1.SetFtpServer(server);
    if (MakeRequest([this] { Sftp1.Connect(); })) Screen::SetArrow();
    return;
  }
  FLogin.ServerAnswer = server;
  if (MakeRequest([this] { Ftp1.Connect(); })) Screen::SetArrow();
  FLogin.ServerAnswer.reset();
}

// Asks until the text can be read (each problem said in one message) or is empty, which
// the engine reports as no server; "&Annuler" ends the connection attempt.
void TForm1::AskServer(std::string& value) {
  if (FLogin.Retry) {
    UseServer(*std::exchange(FLogin.Retry, std::nullopt), value);
    return;
  }
  const std::string word = talvo::texts::NeedInfoWord(ftpnServer);
  for (;;) {
    std::string typed = std::exchange(FLogin.PresetServer, std::string());
    if (typed.empty()) {
      TPromptOffer offer;
      std::vector<std::string> links;
      TRecentServers(RecentServersFile).Read(links);  // one that cannot be read offers nothing
      for (const std::string& link : links) offer.Suggestions << DisplayText(link);
      QString answer;
      if (!InputForm->Ask(QString::fromStdString(word), QString::fromStdString(talvo::texts::NeedInfoPrompt(word)),
                          answer, offer)) {
        Ftp1.InfoRequestCancelled = true;
        return;
      }
      typed = TypedBytes(answer);
    }
    if (TakeServer(typed, value)) return;
  }
}

// Reads the text; false after saying what is wrong with it.
bool TForm1::TakeServer(const std::string& typed, std::string& value) {
  value.clear();
  if (typed.find_first_not_of(" \t") == std::string::npos) return true;  // no server
  TServerTarget target;
  std::string problem;
  if (!ParseServerText(typed, target, problem)) {
    ShowInformation(this, DisplayText(problem));
    return false;
  }
  UseServer(target, value);
  return true;
}

// Takes what the server's text gave: the engine, the host (handed to it), the port and
// encryption of this connection, the user and password of a link, and its folder.
void TForm1::UseServer(TServerTarget target, std::string& value) {
  if (target.Protocol == TServerProtocol::Sftp) {
    FSession = &Sftp1;
    Sftp1.FtpPort = target.Port != 0 ? target.Port : DefaultPort(target.Protocol);
  } else if (target.Port != 0 || target.Link) {
    FLogin.LinkSettings = true;
    Ftp1.FtpPort = target.Port != 0 ? target.Port : DefaultPort(target.Protocol);
  }
  if (target.Protocol == TServerProtocol::Ftps) {
    FLogin.LinkSettings = true;
    Ftp1.TlsMode = tlsmRequire;
  }
  if (target.User) Session().UserName = *target.User;
  if (target.Password) Session().UserPassword = *target.Password;
  if (target.Link) {
    // A link names its folder from the login folder, not from where an earlier session was.
    Session().InitialDirectory.clear();
    FLogin.StartPath = StartFolder(target);
    FLogin.PathStep = FLogin.StartPath.empty() ? TLoginState::Path::None : TLoginState::Path::Enter;
  }
  target.Password.reset();
  FLogin.Target = target;
  value = target.Host;
  if (target.User && Session().UserPassword.empty()) AskKeyring();
}

void TForm1::AskPassword(std::string& value) {
  AskKeyring();
  const bool keyring = *FLogin.KeyringRuns;
  if (std::optional<std::string> remembered = std::exchange(FLogin.Remembered, std::nullopt)) {
    value = std::move(*remembered);
    FLogin.FromKeyring = true;
    AppendLog(talvo::texts::PasswordFromKeyringLine(), true);
    return;
  }
  const std::string word = talvo::texts::NeedInfoWord(ftpnPassword);
  TPromptOffer offer;
  offer.Secret = true;
  offer.OfferRemember = keyring;
  offer.RememberChecked = std::exchange(FLogin.OfferReplace, false);
  QString answer;
  bool remember = false;
  if (!InputForm->Ask(QString::fromStdString(word), QString::fromStdString(talvo::texts::NeedInfoPrompt(word)),
                      answer, offer, &remember)) {
    Ftp1.InfoRequestCancelled = true;
    return;
  }
  value = TypedBytes(answer);
  FLogin.Remember = remember;
  if (remember) FLogin.TypedPassword = value;
}

// A refused remembered password is asked for again once the connection has ended, on a
// new connection to the same server, with the offer to replace it.
void TForm1::NoteLoginRefused() {
  if (!FLogin.FromKeyring || FClosing) return;
  AppendLog(talvo::texts::KeyringPasswordRefusedLine(), true);
  TServerTarget again = FLogin.Target;
  again.User = Session().UserName;
  again.Port = SessionSocket().FtpPort;
  FLogin.Retry = again;
  FLogin.OfferReplace = true;
}

void TForm1::Ftp1LoggedIn(TObject* Sender) {
  if (std::exchange(FLogin.Remember, false)) {
    // Kept once the engine's event is over, not inside it.
    QTimer::singleShot(0, this, [this, key = KeyringKey(), password = std::exchange(FLogin.TypedPassword, {})] {
      if (!TKeyring::Store(key, password)) AppendLog(talvo::texts::PasswordNotRememberedLine(), true);
    });
  }
  FLogin.TypedPassword.clear();
  TServerTarget used = FLogin.Target;
  if (used.Host.empty()) used.Host = SessionSocket().FtpServer;
  used.Port = SessionSocket().FtpPort;
  used.User = Session().UserName;
  if (const TRecentServers recent(RecentServersFile); !recent.Path().empty() && !recent.Add(used)) {
    AppendLog(talvo::texts::RecentServersNotChangedLine(recent.Path()), true);
  }
  NeedNewFTPListing(Sender);
}

bool TForm1::FollowStartPath() {
  using Path = TLoginState::Path;
  const auto enter = [this](const std::string& folder) {
    return !MakeRequest([&] { Session().ChangeDirectory(folder); });
  };
  switch (FLogin.PathStep) {
    case Path::None:
      return false;
    case Path::Enter:
      FLogin.PathStep = Path::Entering;
      if (enter(FLogin.StartPath)) return true;
      break;
    case Path::Entering: {
      if (Session().Success) break;
      // Not a folder: a file, whose folder is entered and the file selected.
      std::string path = FLogin.StartPath;
      if (path.empty() || path.back() == '/') break;
      const std::size_t slash = path.rfind('/');
      FLogin.SelectName = slash == std::string::npos ? path : path.substr(slash + 1);
      if (slash == std::string::npos) break;  // in the login folder
      FLogin.PathStep = Path::EnteringParent;
      if (enter(slash == 0 ? "/" : path.substr(0, slash))) return true;
      break;
    }
    case Path::EnteringParent:
      break;
  }
  FLogin.PathStep = Path::None;
  return false;
}

void TForm1::SelectStartFile() {
  const std::string name = std::exchange(FLogin.SelectName, std::string());
  const int row = name.empty() ? -1 : ui.ListBox2->IndexOf(name);
  if (row < 0) return;
  ui.ListBox2->SetItemIndex(row);
  ui.ListBox2->SetSelected(row, true);
}
