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
// continues that part (REST) when the server's file is larger than it and, where the
// server tells when its file last changed (MLSD or MDTM), not newer than the part.
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
// unknown; the download goes on all the same.
void TFtpTransfer::TakeSizeReply(TransferKind kind, const TFtpReply& Reply) {
  if (Reply.Class == 1) return;  // not a final reply: the one owed comes later
  ByteCountFromSizeReply(Reply.Line, ftp_.ExpectedSize);
  const std::int64_t part = LocalFileHandle.PartSize();
  if (part > 0 && ftp_.ExpectedSize > part && !State.Stopped()) {
    const ListingFacts* listed = ftp_.FactsOf(ftp_.RemoteFile);
    if (listed == nullptr || listed->Modified < 0) {
      ftp_.SendCommand("MDTM " + ftp_.RemoteFile, csAwaitRetrMdtm);
      return;
    }
    ChooseResume(listed->Modified);
  }
  Channel().Open(kind);
}

// MDTM's "213 YYYYMMDDHHMMSS"; a refusal leaves the time unknown.
void TFtpTransfer::TakeModificationTimeReply(const TFtpReply& Reply) {
  if (Reply.Class == 1) return;
  ChooseResume(Reply.Class == 2 && Reply.Line.size() > 4 ? FtpTimeValue(std::string_view(Reply.Line).substr(4)) : -1);
  Channel().Open(TransferKind::Receive);
}

// The part is continued unless the server's file changed after it was written.
void TFtpTransfer::ChooseResume(std::int64_t remoteModified) {
  resumeCandidate_ = PartToContinue(LocalFileHandle, ftp_.ExpectedSize, remoteModified);
}

// Just before RETR: REST when a part is to be continued; true when it was sent (RETR then
// waits for its reply).
bool TFtpTransfer::AskRest() {
  if (resumeCandidate_ <= 0) return false;
  const std::int64_t offset = resumeCandidate_;
  resumeCandidate_ = 0;
  if (!LocalFileHandle.ContinuePart(offset)) return false;
  ftp_.ResumedFrom = offset;
  ftp_.SendCommand("REST " + std::to_string(offset), csAwaitRetrRest);
  return true;
}

// 350: the server sends the rest of its file. Anything else: from the start, into a new
// file, the part kept as it is.
void TFtpTransfer::TakeRestReply(const TFtpReply& Reply) {
  if (Reply.Class == 1) return;
  if (Reply.Code == 350) {
    const std::uint64_t serial = ftp_.Serial;
    ftp_.Info(ftpiResumed, std::to_string(ftp_.ResumedFrom));
    if (serial != ftp_.Serial) return;
  } else {
    ftp_.ResumedFrom = 0;
    if (!LocalFileHandle.StartOver()) {
      EndCommandRefused();  // ends the operation before the report's message box
      ftp_.ReportError(ftpeLocalFileOpen);
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
    LocalFileHandle.Forget();
    return;
  }
  // The local file is settled before the report, whose message box runs the loop.
  const bool endTrusted = !ftp_.Features.ProtectData || closeNotify_;
  switch (EndDownload(LocalFileHandle, ftp_.ExpectedSize, ftp_.ResumedFrom, ftp_.BytesTransferred, endTrusted)) {
    case TDownloadEnd::Whole: return;
    case TDownloadEnd::Incomplete: ftp_.ReportError(ftpeDownloadIncomplete); return;
    case TDownloadEnd::PartDropped: ftp_.ReportError(ftpeResumeIgnored); return;
    case TDownloadEnd::WriteFailed: ftp_.ReportError(ftpeLocalFileWrite); return;
  }
}
