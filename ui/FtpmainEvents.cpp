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
      AppendLog(talvo::texts::ConnectedLine(addinfo, Ftp1.FtpPort), true);
      ChooseStartFolder();
      FSession.DataInClear = false;
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
      FSession.DataInClear = addinfo == "PROT";
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
    case ftpiProgress:
      // The counter follows file transfers; a listing's progress (which carries its line)
      // leaves it, so that after an upload batch and its closing listing it stays empty.
      if (addinfo.empty()) {
        ui.ByteCounter->SetCount(Ftp1.BytesTransferred);
        ShowProgress();
      }
      break;
    case ftpiTransferSize:
      // Reported when the server's 1xx announces a download's size, and when a store has
      // its data connection and begins to send.
      if (Ftp1.CurrentOperation == TVelaFtp::opStoreFile) FStoreDataOpened = true;
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
      break;  // a refused command and the rest show nothing
  }
}

void TForm1::Ftp1FtpNeedInfo(TObject*, TFtpInfoNeeded need, std::string& value) {
  if (need == ftpnServer) {
    AskServer(value);
    return;
  }
  if (need == ftpnPassword) {
    AskPassword(value);
    return;
  }
  const std::string word = talvo::texts::NeedInfoWord(need);
  QString answer;
  const bool secret = need == ftpnPassword || need == ftpnAccount;
  // "&Annuler" (or Escape) ends the connection attempt: nothing of the field is sent.
  if (!InputForm->Ask(QString::fromStdString(word), QString::fromStdString(talvo::texts::NeedInfoPrompt(word)),
                      answer, secret)) {
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

void TForm1::Ftp1FtpError(TObject*, FtpError error, const std::string& addinfo) {
  if (error == ftpeLoginRefused) NoteLoginRefused();
  // A failed transfer leaves neither the bar nor the counter where it got to.
  if (Ftp1.CurrentOperation == TVelaFtp::opReceiveFile || Ftp1.CurrentOperation == TVelaFtp::opStoreFile) {
    FProgress->Hide();
    ui.ByteCounter->Clear();
  }
  // Once the window is closing, a failure only hastens the end: no message holds it up.
  const auto message = talvo::texts::ErrorMessage(error, addinfo);
  if (message && !FClosing) ShowInformation(this, ErrorText(error, QString::fromStdString(*message)));
  FOperationFailed = true;
  Screen::SetArrow();
}
