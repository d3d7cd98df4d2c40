// The remote file-system commands that need no data connection, and QUIT. Arguments are
// sent exactly as given, after one blank.
#include "ftp/Ftp.h"
#include "ftp/ReplyParsing.h"

using namespace platform;

bool TVelaFtp::AcceptSimpleCommand(TCurrentOperation op) {
  if (!Connected) {
    Success = true;
    CurrentOperation = op;
  }
  if (!AcceptCommand()) return false;
  BeginOperation(op);
  return true;
}

void TVelaFtp::ChangeDirectory(const std::string& Directory) {
  if (!AcceptSimpleCommand(opChangeDirectory)) return;
  InitialDirectory = Directory;
  SendCommand("CWD " + Directory, 50);
}

void TVelaFtp::CreateDirectory(const std::string& Directory) {
  if (!AcceptSimpleCommand(opCreateDirectory)) return;
  SendCommand("MKD " + Directory, 50);
}

void TVelaFtp::DeleteDirectory(const std::string& Directory) {
  if (!AcceptSimpleCommand(opDeleteDirectory)) return;
  SendCommand("RMD " + Directory, 50);
}

void TVelaFtp::DeleteFile(const std::string& FileName) {
  if (!AcceptSimpleCommand(opDeleteFile)) return;
  SendCommand("DELE " + FileName, 50);
}

void TVelaFtp::RenameFile(const std::string& OldName, const std::string& NewName) {
  if (!Connected) Success = true;
  if (!AcceptCommand()) return;
  BeginOperation(opRenameFile);
  RenameTarget = NewName;
  SendCommand("RNFR " + OldName, 40);
}

void TVelaFtp::Quit() {
  if (!AcceptCommand()) return;
  LastError = ftpeNone;
  Busy = true;
  SendCommand("QUIT", 60);
}

void TVelaFtp::EndSimpleCommand(bool accepted) {
  if (!accepted) {
    Info(ftpiCommandFailed, "");
    Success = false;
  }
  ControlState = 100;
  PostDone();
}

void TVelaFtp::HandleSimpleReply(const std::string& Line) {
  EndSimpleCommand(IsReplyClass(Line, '2'));
}

void TVelaFtp::HandleRenameReply(const std::string& Line) {
  if (ControlState == 40 && IsReplyClass(Line, '3')) {
    SendCommand("RNTO " + RenameTarget, 41);
    return;
  }
  // RNFR answered anything but 3xx, or RNTO answered: the rename ends here.
  EndSimpleCommand(ControlState == 41 && IsReplyClass(Line, '2'));
}

void TVelaFtp::HandleQuitReply(const std::string& Line) {
  if (IsReplyClass(Line, '2')) {
    ControlState = 100;
    // The server should now close; if it does not, the guard closes from this side.
    ArmQuitWait();
    return;
  }
  FatalError(ftpeNone);
  ControlState = 100;
}
