#include "ftp/FtpLogin.h"

#include "ftp/CommandArgument.h"
#include "ftp/Ftp.h"
#include "ftp/ReplyParsing.h"

void TFtpLogin::TakeLoginReply(const TFtpReply& Reply) {
  const int cls = Reply.Class;
  switch (ftp_.ControlState) {
    case csAwaitGreeting:
      if (cls != 2) {
        ftp_.FatalError(ftpeNoGreeting);
      } else if (ftp_.TlsMode != tlsmOff) {
        ftp_.SendCommand("AUTH TLS", csAwaitAuthTls);
      } else {
        SendUser();
      }
      return;
    case csAwaitUser:
    case csAwaitPass:
    case csAwaitAcct:
      // A 2xx to USER, PASS or ACCT ends the login; a 3xx asks for the next value.
      if (cls == 2) {
        AfterLogin();
      } else if (cls == 3 && ftp_.ControlState == csAwaitUser) {
        if (ftp_.AskFor(ftpnPassword, ftp_.UserPassword)) {
          SendLoginCommand("PASS ", ftp_.UserPassword, csAwaitPass);
        } else {
          Cancel();
        }
      } else if (cls == 3 && ftp_.ControlState == csAwaitPass) {
        if (ftp_.AskFor(ftpnAccount, ftp_.UserAccount)) {
          SendLoginCommand("ACCT ", ftp_.UserAccount, csAwaitAcct);
        } else {
          Cancel();
        }
      } else {
        Refuse();
      }
      return;
    case csAwaitSyst:
      ftp_.CurrentOperation = TVelaFtp::opLogin;
      ftp_.ServerType = ServerTypeFromSyst(Reply.Line);
      ftp_.SendCommand("FEAT", csAwaitFeat);
      return;
    case csAwaitFeat:
      // A server that refuses FEAT offers nothing beyond the basic commands.
      if (cls != 2) ftp_.Features.MlsdOffered = ftp_.Features.Utf8Offered = false;
      if (ftp_.Features.Utf8Offered) {
        ftp_.SendCommand("OPTS UTF8 ON", csAwaitOptsUtf8);
      } else {
        EnterInitialDirectory();
      }
      return;
    case csAwaitOptsUtf8:
      // Refused or not, names go back to the server as the bytes it listed.
      EnterInitialDirectory();
      return;
    case csAwaitInitialCwd:
      if (cls != 2) {
        ftp_.Info(ftpiCommandFailed, "");
      } else {
        ftp_.Place.Entered(ftp_.InitialDirectory);
      }
      End();
      return;
    default:
      return;  // not a state of the login
  }
}

// A login value holding CR, LF or a zero byte is not sent: the login is refused as if the
// server had refused it (ftpeLoginRefused, then QUIT).
void TFtpLogin::SendLoginCommand(const std::string& command, const std::string& value, TControlState nextState) {
  if (!IsSendableArgument(value)) {
    Refuse();
    return;
  }
  ftp_.SendCommand(command + value, nextState);
}

void TFtpLogin::SendUser() {
  if (ftp_.AskFor(ftpnUserName, ftp_.UserName)) {
    SendLoginCommand("USER ", ftp_.UserName, csAwaitUser);
  } else {
    Cancel();
  }
}

// Logged in: over TLS the data connections are protected too (PBSZ, PROT), then SYST.
void TFtpLogin::AfterLogin() {
  if (ftp_.SockTlsActive()) {
    ftp_.SendCommand("PBSZ 0", csAwaitPbsz);
  } else {
    ftp_.SendCommand("SYST", csAwaitSyst);
  }
}

// One line inside the FEAT reply: " MLST type*;size*;modify*;" offers MLSD, " UTF8" UTF-8
// names.
void TFtpLogin::NoteFeature(const std::string& Line) {
  const std::string feature = FeatureName(Line);
  if (feature == "MLST") ftp_.Features.MlsdOffered = true;
  if (feature == "UTF8") ftp_.Features.Utf8Offered = true;
}

// The end of the login: into InitialDirectory, when one was set.
void TFtpLogin::EnterInitialDirectory() {
  ftp_.Place.LoggedIn();
  if (ftp_.InitialDirectory.empty()) {
    End();
  } else if (!IsSendableArgument(ftp_.InitialDirectory)) {
    ftp_.Info(ftpiCommandFailed, "");  // as if the server had refused that directory
    End();
  } else {
    ftp_.SendCommand("CWD " + ftp_.InitialDirectory, csAwaitInitialCwd);
  }
}

void TFtpLogin::Refuse() {
  ftp_.ReportError(ftpeLoginRefused);
  ftp_.SendQuit();
}

// The owner's user cancelled a prompt of the login: nothing of it is sent, and the
// connection ends.
void TFtpLogin::Cancel() {
  ftp_.ReportError(ftpeCancelled);
  ftp_.SendQuit();
}

void TFtpLogin::End() {
  ftp_.Info(ftpiLoggedIn, "Logged in");
  ftp_.ControlState = csIdle;
  ftp_.PostDone();
}
