// The remote file-system commands that need no data connection, and QUIT. Arguments are
// sent exactly as given, after one blank; one that would carry a second command (CR, LF or
// a zero byte in it) makes the operation end as refused, with nothing sent.
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
  if (!AcceptSimpleCommand(opChangeDirectory) || RefuseUnsendable(Directory)) return;
  InitialDirectory = Directory;
  SendCommand("CWD " + Directory, csAwaitSimple);
}

void TVelaFtp::CreateDirectory(const std::string& Directory) {
  if (!AcceptSimpleCommand(opCreateDirectory) || RefuseUnsendable(Directory)) return;
  SendCommand("MKD " + Directory, csAwaitSimple);
}

void TVelaFtp::DeleteDirectory(const std::string& Directory) {
  if (!AcceptSimpleCommand(opDeleteDirectory) || RefuseUnsendable(Directory)) return;
  SendCommand("RMD " + Directory, csAwaitSimple);
}

void TVelaFtp::DeleteFile(const std::string& FileName) {
  if (!AcceptSimpleCommand(opDeleteFile) || RefuseUnsendable(FileName)) return;
  SendCommand("DELE " + FileName, csAwaitSimple);
}

void TVelaFtp::RenameFile(const std::string& OldName, const std::string& NewName) {
  if (!Connected) Success = true;
  if (!AcceptCommand()) return;
  BeginOperation(opRenameFile);
  if (RefuseUnsendable(OldName) || RefuseUnsendable(NewName)) return;
  RenameTarget = NewName;
  SendCommand("RNFR " + OldName, csAwaitRnfr);
}

void TVelaFtp::Quit() {
  if (!AcceptCommand()) return;
  LastError = ftpeNone;
  Busy = true;
  SendQuit();
}

// QUIT, from Quit or after a refused login. A server that neither answers nor closes is
// closed from this side after a while, so that the owner's wait for OnFtpQuit ends.
void TVelaFtp::SendQuit() {
  SendCommand("QUIT", csAwaitQuit);
  ArmQuitReplyWait();
}

void TVelaFtp::EndSimpleCommand(bool accepted) {
  if (!accepted) {
    Info(ftpiCommandFailed, "");
    Success = false;
  } else if (CurrentOperation == opChangeDirectory) {
    Place.Entered(InitialDirectory);
  }
  ControlState = csIdle;
  PostDone();
}

void TVelaFtp::HandleSimpleReply(const std::string& Line) {
  EndSimpleCommand(IsReplyClass(Line, '2'));
}

void TVelaFtp::HandleRenameReply(const std::string& Line) {
  if (ControlState == csAwaitRnfr && IsReplyClass(Line, '3')) {
    SendCommand("RNTO " + RenameTarget, csAwaitRnto);
    return;
  }
  // RNFR answered anything but 3xx, or RNTO answered: the rename ends here.
  EndSimpleCommand(ControlState == csAwaitRnto && IsReplyClass(Line, '2'));
}

void TVelaFtp::HandleQuitReply(const std::string& Line) {
  if (IsReplyClass(Line, '2')) {
    ControlState = csIdle;
    // The server should now close; if it does not, the guard closes from this side.
    ArmQuitWait();
    return;
  }
  FatalError(ftpeNone);
  ControlState = csIdle;
}
