// The engine's information, requests and errors: the log and the byte counter, the
// prompts for a missing server, user name, password or account, and the French message of
// each error.
#include <QScrollBar>

#include "texts/FrenchMessages.h"
#include "ui/Dialogs.h"
#include "ui/Ftpinput.h"
#include "ui/Ftpmain.h"
#include "ui/Screen.h"
#include "ui/TextCodec.h"

namespace {

// Control-connection text keeps its own line ends: CR LF (or a lone CR) is one line break.
QString LogText(const std::string& text) {
  QString shown = DisplayText(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

}  // namespace

void TForm1::AppendLog(const std::string& text, bool emptyWhenFull) {
  const QString line = LogText(text) + QLatin1Char('\n');
  QTextDocument* document = ui.Log->document();
  if (emptyWhenFull && document->characterCount() + line.size() > kLogCapacity) {
    // The log is full: the append counts as failed, so the log starts again with this text.
    ui.Log->clear();
  }
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(line);
  ui.Log->verticalScrollBar()->setValue(ui.Log->verticalScrollBar()->maximum());
}

void TForm1::Ftp1FtpInfo(TObject*, FtpInfo info, const std::string& addinfo) {
  switch (info) {
    case ftpiReceived:
    case ftpiSent:
      AppendLog(addinfo, true);
      break;
    case ftpiConnected:
      AppendLog(talvo::texts::ConnectedLine(addinfo, SessionSocket().FtpPort), true);
      ChooseStartFolder();
      FView.DataInClear = false;
      ShowSession();
      break;
    case ftpiPassiveMode:
      AppendLog(talvo::texts::PassiveModeLine(addinfo), true);
      break;
    case ftpiPassiveAddress:
      AppendLog(talvo::texts::PassiveAddressLine(addinfo, Ftp1.ServerAddress), true);
      break;
    case ftpiTlsSession:
      AppendLog(talvo::texts::TlsSessionLine(addinfo), true);
      ShowSession();
      break;
    case ftpiTlsRefused:
      AppendLog(talvo::texts::TlsRefusedLine(addinfo), true);
      FView.DataInClear = addinfo == "PROT";
      ShowSession();
      break;
    case ftpiResumed:
      AppendLog(talvo::texts::ResumedLine(addinfo), true);
      break;
    case ftpiCertificateExpired:
      AppendLog(talvo::texts::CertificateExpiredLine(), true);
      break;
    case ftpiServerNotRemembered:
      AppendLog(talvo::texts::ServerNotRememberedLine(addinfo), true);
      break;
    case ftpiLocalFileInPlace:
      AppendLog(talvo::texts::InPlaceLine(addinfo), true);
      break;
    case ftpiLocalFileChanged:
      AppendLog(talvo::texts::ChangedWhileSentLine(addinfo), true);
      break;
    case ftpiProgress:
      // The counter follows file transfers; a listing's progress (which carries its line)
      // leaves it, so that after an upload batch and its closing listing it stays empty.
      if (addinfo.empty()) {
        ui.ByteCounter->SetCount(Session().BytesTransferred);
        ShowProgress();
      }
      break;
    case ftpiTransferSize:
      // Reported when the server's 1xx announces a download's size, and when a store has
      // its data connection and begins to send.
      if (FSession == &Sftp1 ? Sftp1.CurrentOperation == TVelaSftp::opStoreFile
                             : Ftp1.Operation() == TVelaFtp::opStoreFile) {
        FStoreDataOpened = true;
      }
      break;
    case ftpiBusy:
      if (FWatchingRefusal) FRequestRefused = true;
      break;
    case ftpiDisconnected:
      // Empty: a request refused because there is no connection. "Disconnected" is the
      // server's close, which ends with the quit notification.
      if (FWatchingRefusal && addinfo.empty()) FRequestRefused = true;
      break;
    default:
      // The SFTP engine's own lines (its key, how it logged in); a refused command and the
      // rest show nothing.
      if (const std::string line = talvo::texts::SshInfoLine(info, addinfo); !line.empty()) AppendLog(line, true);
      break;
  }
}

void TForm1::Ftp1FtpNeedInfo(TObject*, TFtpInfoNeeded need, std::string& value) {
  if (need == ftpnServer) {
    // Asked already, before the engine was chosen (ConnectAsked); none when cancelled.
    if (!FLogin.ServerAnswer) Ftp1.InfoRequestCancelled = true;
    value = FLogin.ServerAnswer.value_or(std::string());
    return;
  }
  if (need == ftpnPassword) {
    AskPassword(value);
    return;
  }
  const std::string word = talvo::texts::NeedInfoWord(need);
  const bool passphrase = static_cast<int>(need) == sftpnPassphrase;
  const std::string prompt = passphrase ? talvo::texts::PassphrasePrompt(value) : talvo::texts::NeedInfoPrompt(word);
  QString answer;
  const bool secret = need == ftpnPassword || need == ftpnAccount || passphrase;
  // "&Annuler" (or Escape) ends an FTP connection attempt: nothing of the field is sent.
  // SFTP takes what the field holds.
  if (!InputForm->Ask(QString::fromStdString(word), DisplayText(prompt), answer, secret) && FSession == &Ftp1) {
    Ftp1.InfoRequestCancelled = true;
    return;
  }
  value = TypedBytes(answer);
  if (need == ftpnUserName) ChooseStartFolder();  // another user has another folder
}

// Trusted only on "&Oui"; a certificate that changed, or that names another host, asks with
// a warning, "&Non" by default.
void TForm1::Ftp1FtpCertificate(TObject*, const TFtpCertificateQuestion& question, bool& trust) {
  trust = !FClosing && Confirm(this, DisplayText(talvo::texts::CertificateQuestion(question)),
                               talvo::texts::CertificateWarning(question));
}

// An unknown server key: trusted only on "&Oui", "&Non" by default.
void TForm1::Sftp1SftpHostKey(TObject*, const TSftpHostKeyQuestion& question, bool& trust) {
  trust = !FClosing && Confirm(this, DisplayText(talvo::texts::HostKeyQuestion(question)), true);
}

void TForm1::Ftp1FtpError(TObject*, FtpError error, const std::string& addinfo) {
  if (error == ftpeLoginRefused || error == AsFtpError(sftpeLoginRefused)) NoteLoginRefused();
  // A failed transfer leaves neither the bar nor the counter where it got to.
  if (Running(Operation::Receive) || Running(Operation::Store)) {
    FProgress->Hide();
    ui.ByteCounter->Clear();
  }
  // Once the window is closing, a failure only hastens the end: no message holds it up.
  const auto message = talvo::texts::ErrorMessage(error, addinfo, talvo::texts::LocalContextOf(Session()));
  if (message && !FClosing) ShowInformation(this, ErrorText(error, QString::fromStdString(*message)));
  FOperationFailed = true;
  Screen::SetArrow();
}
