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
#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"
#include "ftp/ListingParser.h"
#include "ftp/ReplyParsing.h"
#include "session/DownloadRules.h"

// After the reply to TYPE: SIZE before a binary download, unless it was stopped meanwhile.
void TFtpTransfer::AskSizeOrOpenData(TransferKind kind) {
  const TControlState sizeState = TransferStatesOf(kind).Size;
  if (sizeState != csIdle && ftp_.TransferMode == BinaryTransfer && !State.Stopped()) {
    ftp_.SendCommand("SIZE " + ftp_.RemoteFile, sizeState);
  } else {
    Channel().Open(kind);
  }
}

// A refusal (500, 502, 550: unknown command, a file it will not size) leaves the size
// unknown; the download goes on all the same. The file's time comes from its own facts,
// else from MDTM, asked when a part may be continued or the file is large enough that a
// later try would rather continue it.
void TFtpTransfer::TakeSizeReply(TransferKind kind, const TFtpReply& Reply) {
  if (Reply.Class == 1) return;  // not a final reply: the one owed comes later
  ByteCountFromSizeReply(Reply.Line, ftp_.ExpectedSize);
  const bool worthATime = LocalFileHandle.PartSize() > 0 || ftp_.ExpectedSize >= kTimeWorthAsking;
  if (receiveFacts_.Modified < 0 && ftp_.ExpectedSize > 0 && worthATime && !State.Stopped()) {
    ftp_.SendCommand("MDTM " + ftp_.RemoteFile, csAwaitRetrMdtm);
    return;
  }
  ChooseResume(receiveFacts_.Modified);
  Channel().Open(kind);
}

// MDTM's "213 YYYYMMDDHHMMSS"; a refusal leaves the time unknown.
void TFtpTransfer::TakeModificationTimeReply(const TFtpReply& Reply) {
  if (Reply.Class == 1) return;
  ChooseResume(Reply.Class == 2 && Reply.Line.size() > 4 ? FtpTimeValue(std::string_view(Reply.Line).substr(4)) : -1);
  Channel().Open(TransferKind::Receive);
}

// The part is continued only when it was begun for this same file, unchanged.
void TFtpTransfer::ChooseResume(std::int64_t remoteModified) {
  resumeCandidate_ = PartToContinue(LocalFileHandle, ftp_.ExpectedSize, remoteModified);
}

// Just before RETR: the part begun (from the start, or on where it ends) and REST when it
// goes on; true when REST was sent (RETR then waits for its reply), or when the part could
// not be begun (the operation then ends).
bool TFtpTransfer::AskRest() {
  const std::int64_t offset = resumeCandidate_;
  resumeCandidate_ = 0;
  if (const int error = LocalFileHandle.Begin(offset); error != 0) {
    EndCommandRefused();  // ends the operation before the report's message box
    ftp_.ReportLocalError(ftpeLocalFileOpen, error);
    return true;
  }
  if (offset <= 0) return false;
  ftp_.ResumedFrom = offset;
  ftp_.SendCommand("REST " + std::to_string(offset), csAwaitRetrRest);
  return true;
}

// 350: the server sends the rest of its file. Anything else: from the start of the part.
void TFtpTransfer::TakeRestReply(const TFtpReply& Reply) {
  if (Reply.Class == 1) return;
  if (Reply.Code == 350) {
    const std::uint64_t serial = ftp_.Serial;
    ftp_.Info(ftpiResumed, std::to_string(ftp_.ResumedFrom));
    if (serial != ftp_.Serial) return;
  } else {
    ftp_.ResumedFrom = 0;
    if (const int error = LocalFileHandle.StartOver(); error != 0) {
      EndCommandRefused();
      ftp_.ReportLocalError(ftpeLocalFileOpen, error);
      return;
    }
  }
  Start(TransferKind::Receive);
}

void TFtpTransfer::TakeAnnouncedSize(const TFtpReply& Reply) {
  if (ftp_.TransferMode == BinaryTransfer && ftp_.ExpectedSize < 0) ByteCountFromOpeningReply(Reply.Line, ftp_.ExpectedSize);
}

// The end of a download, its data side over and its final reply in. In clear with no size
// known nothing tells a cut from an end: the server's 2xx is taken.
void TFtpTransfer::SettleDownload() {
  if (!ftp_.Success) {
    ForgetLocalFile();
    return;
  }
  int error = 0;
  const bool endTrusted = !ftp_.Features.ProtectData || closeNotify_;
  const TDownloadEnd end =
      EndDownload(LocalFileHandle, ftp_.ExpectedSize, ftp_.ResumedFrom, ftp_.BytesTransferred, endTrusted, error);
  if (end == TDownloadEnd::Whole) return;
  ForgetLocalFile();  // before the report, whose message box runs the loop
  switch (end) {
    case TDownloadEnd::Incomplete: ftp_.ReportError(ftpeDownloadIncomplete); return;
    case TDownloadEnd::PartDropped: ftp_.ReportError(ftpeResumeIgnored); return;
    case TDownloadEnd::WriteFailed: ftp_.ReportLocalError(ftpeLocalFileWrite, error); return;
    case TDownloadEnd::Whole: return;
  }
}

// Ends the local file's story without a whole download, and notes what it left.
void TFtpTransfer::ForgetLocalFile() {
  LocalFileHandle.Forget();
  ftp_.LeftOnDisk = LocalFileHandle.Left();
  ftp_.LeftPath = LocalFileHandle.LeftPath();
}
