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
// unknown; the download goes on all the same.
void TVelaFtp::TakeSizeReply(TransferKind kind, const std::string& Line) {
  if (IsReplyClass(Line, '1')) return;  // not a final reply: the one owed comes later
  ByteCountFromSizeReply(Line, ExpectedSize);
  const std::int64_t part = LocalFileHandle.PartSize();
  if (part > 0 && ExpectedSize > part && !Transfer.Stopped()) {
    const ListingFacts* listed = FactsOf(RemoteFile);
    if (listed == nullptr || listed->Modified < 0) {
      SendCommand("MDTM " + RemoteFile, csAwaitRetrMdtm);
      return;
    }
    ChooseResume(listed->Modified);
  }
  OpenDataConnection(kind);
}

// MDTM's "213 YYYYMMDDHHMMSS"; a refusal leaves the time unknown.
void TVelaFtp::TakeModificationTimeReply(const std::string& Line) {
  if (IsReplyClass(Line, '1')) return;
  ChooseResume(IsReplyClass(Line, '2') && Line.size() > 4 ? FtpTimeValue(std::string_view(Line).substr(4)) : -1);
  OpenDataConnection(TransferKind::Receive);
}

// The part is continued unless the server's file changed after it was written.
void TVelaFtp::ChooseResume(std::int64_t remoteModified) {
  ResumeCandidate = PartToContinue(LocalFileHandle, ExpectedSize, remoteModified);
}

// Just before RETR: REST when a part is to be continued; true when it was sent (RETR then
// waits for its reply).
bool TVelaFtp::AskRest() {
  if (ResumeCandidate <= 0) return false;
  const std::int64_t offset = ResumeCandidate;
  ResumeCandidate = 0;
  if (!LocalFileHandle.ContinuePart(offset)) return false;
  ResumedFrom = offset;
  SendCommand("REST " + std::to_string(offset), csAwaitRetrRest);
  return true;
}

// 350: the server sends the rest of its file. Anything else: from the start, into a new
// file, the part kept as it is.
void TVelaFtp::TakeRestReply(const std::string& Line) {
  if (IsReplyClass(Line, '1')) return;
  if (Line.compare(0, 3, "350") == 0) {
    const std::uint64_t serial = Serial;
    Info(ftpiResumed, std::to_string(ResumedFrom));
    if (serial != Serial) return;
  } else {
    ResumedFrom = 0;
    if (!LocalFileHandle.StartOver()) {
      EndTransferCommandRefused();  // ends the operation before the report's message box
      ReportError(ftpeLocalFileOpen);
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
    LocalFileHandle.Forget();
    return;
  }
  // The local file is settled before the report, whose message box runs the loop.
  switch (EndDownload(LocalFileHandle, ExpectedSize, ResumedFrom, BytesTransferred, !ProtectData || DataCloseNotify)) {
    case TDownloadEnd::Whole: return;
    case TDownloadEnd::Incomplete: ReportError(ftpeDownloadIncomplete); return;
    case TDownloadEnd::WriteFailed: ReportError(ftpeLocalFileWrite); return;
  }
}
