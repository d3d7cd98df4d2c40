// Whole downloads. A server's 2xx after the data connection closed does not prove that the
// file came whole: the connection may have been cut (in clear a cut looks like an end;
// over TLS a close without close_notify does). So the size of the file is asked with SIZE
// after TYPE I (or taken from the 150 reply's "(N bytes)" when SIZE is refused), and a
// download is whole only when it brought exactly that many bytes; with no size known, a
// TLS data connection must have ended with close_notify. In ASCII mode no size is asked
// or taken: servers count the file as stored, not as sent with its line ends converted.
//
// Only a whole download replaces the local file (TLocalFile::Commit); any other leaves the
// file as it was and keeps the part received beside it.
#include "ftp/Ftp.h"
#include "ftp/ReplyParsing.h"

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
  OpenDataConnection(kind);
}

void TVelaFtp::TakeAnnouncedSize(const std::string& Line) {
  if (TransferMode == BinaryTransfer && ExpectedSize < 0) ByteCountFromOpeningReply(Line, ExpectedSize);
}

// In clear with no size known nothing tells a cut from an end: the server's 2xx is taken.
bool TVelaFtp::DownloadWhole() const {
  if (ExpectedSize >= 0) return BytesTransferred == ExpectedSize;
  return !ProtectData || DataCloseNotify;
}

// The end of a download, its data side over and its final reply in.
void TVelaFtp::SettleDownload() {
  if (!Success) {
    LocalFileHandle.Forget();
    return;
  }
  const bool whole = DownloadWhole();
  // A target written in place is emptied even when no data came: the file is empty on the
  // server too.
  if (whole && LocalFileHandle.Claim() && LocalFileHandle.Commit()) return;
  LocalFileHandle.Forget();  // before the report, whose message box runs the loop
  ReportError(whole ? ftpeLocalFileWrite : ftpeDownloadIncomplete);
}
