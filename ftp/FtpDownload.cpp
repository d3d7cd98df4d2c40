// Whole downloads. A server's 2xx after the data connection closed does not prove that the
// file came whole: the connection may have been cut (in clear a cut looks like an end;
// over TLS a close without close_notify does). So the size of the file is asked with SIZE
// after TYPE I (or taken from the 150 reply's "(N bytes)" when SIZE is refused), and a
// download is whole only when it brought exactly that many bytes; with no size known, a
// TLS data connection must have ended with close_notify. In ASCII mode no size is asked
// or taken: servers count the file as stored, not as sent with its line ends converted.
//
// Only a whole download replaces the local file (TLocalFile::Commit); any other leaves the
// file as it was and keeps the part received beside it. A later download of the same file
// continues that part (REST) when the part was begun for that file as it is now: the same
// server, port and path, the same size and the same last change (MLSD or MDTM).
#include "ftp/Ftp.h"
#include "ftp/ListingParser.h"
#include "ftp/ReplyParsing.h"
#include "session/DownloadRules.h"

// After the reply to TYPE: SIZE before a binary download, unless it was stopped meanwhile.
void TVelaFtp::AskSizeOrOpenData(TransferKind kind) {
  const TControlState sizeState = TransferStatesOf(kind).Size;
  if (sizeState != csIdle && TransferMode == BinaryTransfer && !Transfer.Stopped()) {
    SendCommand("SIZE " + RemoteFile, sizeState);
  } else {
    OpenDataConnection(kind);
  }
}

// A refusal (500, 502, 550: unknown command, a file it will not size) leaves the size
// unknown; the download goes on all the same. The file's time comes from its own facts,
// else from MDTM, asked when a part may be continued or the file is large enough that a
// later try would rather continue it.
void TVelaFtp::TakeSizeReply(TransferKind kind, const std::string& Line) {
  if (IsReplyClass(Line, '1')) return;  // not a final reply: the one owed comes later
  ByteCountFromSizeReply(Line, ExpectedSize);
  const bool worthATime = LocalFileHandle.PartSize() > 0 || ExpectedSize >= kTimeWorthAsking;
  if (ReceiveFacts.Modified < 0 && ExpectedSize > 0 && worthATime && !Transfer.Stopped()) {
    SendCommand("MDTM " + RemoteFile, csAwaitRetrMdtm);
    return;
  }
  ChooseResume(ReceiveFacts.Modified);
  OpenDataConnection(kind);
}

// MDTM's "213 YYYYMMDDHHMMSS"; a refusal leaves the time unknown.
void TVelaFtp::TakeModificationTimeReply(const std::string& Line) {
  if (IsReplyClass(Line, '1')) return;
  ChooseResume(IsReplyClass(Line, '2') && Line.size() > 4 ? FtpTimeValue(std::string_view(Line).substr(4)) : -1);
  OpenDataConnection(TransferKind::Receive);
}

// The part is continued only when it was begun for this same file, unchanged.
void TVelaFtp::ChooseResume(std::int64_t remoteModified) {
  ResumeCandidate = PartToContinue(LocalFileHandle, ExpectedSize, remoteModified);
}

// Just before RETR: the part begun (from the start, or on where it ends) and REST when it
// goes on; true when REST was sent (RETR then waits for its reply), or when the part could
// not be begun (the operation then ends).
bool TVelaFtp::AskRest() {
  const std::int64_t offset = ResumeCandidate;
  ResumeCandidate = 0;
  if (const int error = LocalFileHandle.Begin(offset); error != 0) {
    EndTransferCommandRefused();  // ends the operation before the report's message box
    ReportLocalError(ftpeLocalFileOpen, error);
    return true;
  }
  if (offset <= 0) return false;
  ResumedFrom = offset;
  SendCommand("REST " + std::to_string(offset), csAwaitRetrRest);
  return true;
}

// 350: the server sends the rest of its file. Anything else: from the start of the part.
void TVelaFtp::TakeRestReply(const std::string& Line) {
  if (IsReplyClass(Line, '1')) return;
  if (Line.compare(0, 3, "350") == 0) {
    const std::uint64_t serial = Serial;
    Info(ftpiResumed, std::to_string(ResumedFrom));
    if (serial != Serial) return;
  } else {
    ResumedFrom = 0;
    if (const int error = LocalFileHandle.StartOver(); error != 0) {
      EndTransferCommandRefused();
      ReportLocalError(ftpeLocalFileOpen, error);
      return;
    }
  }
  StartTransfer(TransferKind::Receive);
}

void TVelaFtp::TakeAnnouncedSize(const std::string& Line) {
  if (TransferMode == BinaryTransfer && ExpectedSize < 0) ByteCountFromOpeningReply(Line, ExpectedSize);
}

// The end of a download, its data side over and its final reply in. In clear with no size
// known nothing tells a cut from an end: the server's 2xx is taken.
void TVelaFtp::SettleDownload() {
  if (!Success) {
    ForgetLocalFile();
    return;
  }
  int error = 0;
  const TDownloadEnd end =
      EndDownload(LocalFileHandle, ExpectedSize, ResumedFrom, BytesTransferred, !ProtectData || DataCloseNotify, error);
  if (end == TDownloadEnd::Whole) return;
  ForgetLocalFile();  // before the report, whose message box runs the loop
  if (end == TDownloadEnd::Incomplete) {
    ReportError(ftpeDownloadIncomplete);
  } else {
    ReportLocalError(ftpeLocalFileWrite, error);
  }
}

// Ends the local file's story without a whole download, and notes what it left.
void TVelaFtp::ForgetLocalFile() {
  LocalFileHandle.Forget();
  LeftOnDisk = LocalFileHandle.Left();
  LeftPath = LocalFileHandle.LeftPath();
}
