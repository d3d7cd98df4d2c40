// The replies of a listing, a receive or a store, from PWD or TYPE to the final reply.
#include "ftp/FtpTransfer.h"

#include "ftp/CommandArgument.h"
#include "ftp/ControlStates.h"
#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/ReplyParsing.h"
#include "ftp/StoreSender.h"

TFtpTransfer::TFtpTransfer(TVelaFtp& ftp)
    : ftp_(ftp), channel_(std::make_unique<TDataChannel>(ftp, *this)),
      store_(std::make_unique<TStoreSender>(ftp, *this)) {}

TFtpTransfer::~TFtpTransfer() = default;

void TFtpTransfer::Begin(TransferKind kind) {
  if (kind == TransferKind::Listing) {
    State.Begin(kind);
    ftp_.SendCommand("PWD", csAwaitPwd);
    return;
  }
  ftp_.ExpectedSize = -1;
  // Either kind starts from the beginning: nothing of an earlier download counts.
  ftp_.ResumedFrom = 0;
  if (kind == TransferKind::Receive) {
    resumeCandidate_ = 0;
    // What is known of this file: what the owner gives, or the listing of its folder.
    const std::string& name = ftp_.RemoteFile;
    const ListingFacts* listed =
        ftp_.ListingFactsHold && name.find('/') == std::string::npos ? ftp_.FactsOf(name) : nullptr;
    const ListingFacts& given = ftp_.RemoteFileFacts;
    receiveFacts_ = given.Size >= 0 || given.Modified >= 0 || listed == nullptr ? given : *listed;
    ftp_.RemoteFileFacts = {};
  }
  if (!PassLocalChecks()) return;
  if (kind == TransferKind::Store) ftp_.ExpectedSize = LocalFileHandle.Size();
  State.Begin(kind);
  SendTransferType(kind);
}

// The checks of a receive or a store before anything is sent; a failure is reported (or,
// for a remote name that cannot be sent, refused) and ends the operation.
bool TFtpTransfer::PassLocalChecks() {
  if (!ftp_.RemoteFile.empty() && ftp_.RefuseUnsendable(ftp_.RemoteFile)) return false;
  ftp_.LocalError = 0;
  ftp_.LeftOnDisk = TLeftOnDisk::Untouched;
  ftp_.LeftPath.clear();
  if (ftp_.RemoteFile.empty() || ftp_.LocalFile.empty()) {
    ftp_.ReportError(ftp_.RemoteFile.empty() ? ftpeNoRemoteFile : ftpeLocalFileOpen);
    ftp_.PostDone();
    return false;
  }
  const bool receive = ftp_.CurrentOperation == TVelaFtp::opReceiveFile;
  TPartOrigin origin;
  origin.Server = ftp_.FtpServer;
  origin.User = ftp_.UserName;
  origin.Port = ftp_.FtpPort;
  origin.RemotePath = ftp_.Place.AbsolutePathOf(ftp_.RemoteFile);
  origin.LoginPath = ftp_.Place.LoginPathOf(ftp_.RemoteFile);
  const int error =
      receive ? LocalFileHandle.OpenForReceive(ftp_.LocalFile, origin) : LocalFileHandle.OpenForStore(ftp_.LocalFile);
  if (error != 0) {
    ftp_.ReportLocalError(ftpeLocalFileOpen, error);
    ftp_.PostDone();
    return false;
  }
  // Said before the first byte: a download cut short would leave the file holding only
  // what came.
  if (receive && LocalFileHandle.OverwritesInPlace()) {
    const std::uint64_t serial = ftp_.Serial;
    ftp_.Info(ftpiLocalFileInPlace, ftp_.LocalFile);
    if (serial != ftp_.Serial) return false;
  }
  return true;
}

// A listing begins with PWD, whose reply becomes InitialDirectory.
void TFtpTransfer::TakePwdReply(const TFtpReply& Reply) {
  if (Reply.Class != 2) {
    ftp_.FatalError(ftpeUnexpectedReply);
    return;
  }
  ftp_.InitialDirectory = DirectoryFromPwd(Reply.Line);
  ftp_.Place.Printed(ftp_.InitialDirectory);
  SendTransferType(TransferKind::Listing);
}

// "TYPE A" for a listing; for a file, the type of TransferMode.
void TFtpTransfer::SendTransferType(TransferKind kind) {
  const bool ascii = kind == TransferKind::Listing || ftp_.TransferMode == AsciiTransfer;
  ftp_.SendCommand(ascii ? "TYPE A" : "TYPE I", TransferStatesOf(kind).Type);
}

void TFtpTransfer::TakeReply(TransferKind kind, const TFtpReply& Reply) {
  const TTransferStates states = TransferStatesOf(kind);
  const int cls = Reply.Class;
  if (ftp_.ControlState == states.Type) {
    if (cls == 2) {
      AskSizeOrOpenData(kind);
    } else {
      ftp_.FatalError(ftpeUnexpectedReply);
    }
  } else if (ftp_.ControlState == states.Size) {
    TakeSizeReply(kind, Reply);
  } else if (ftp_.ControlState == states.Setup) {
    Channel().TakeSetupReply(kind, Reply);
  } else if (Channel().FailureBeforeReply() != ftpeNone && (cls == 1 || cls == 2)) {
    ftp_.FatalError(Channel().FailureBeforeReply());  // the server took the command; its data connection failed
  } else if (cls == 1) {
    TakePreliminaryReply(kind, Reply);
    EndDeferredDataSide();
  } else if (cls == 2 || State.Stopped()) {
    // During a stop any final reply (426 included) is the transfer's own last word.
    ftp_.ControlState = states.AfterFinalReply;
    if (!EndDeferredDataSide()) return;
    TakeFinalReply(cls == 2);
  } else if (Channel().RetryPassively(kind, Reply)) {
    // the same operation runs again in passive mode
  } else if (FallBackToList(kind, Reply)) {
    // the listing runs again with LIST
  } else if (states.RefusalIsFatal) {
    Channel().Close();
    ftp_.FatalError(ftpeUnexpectedReply);
  } else if (Reply.Code == 426) {
    // The answer of an aborted transfer: the final reply may follow.
    ftp_.Deadlines.Arm(TAwaited::Reply426, ftp_.GuardTimes.Reply426);
  } else {
    EndCommandRefused();
  }
}

// A server that offered MLSD and then refuses it as unknown (500, 501, 502) is listed with
// LIST for the rest of the session, starting with this listing, whose data connection is
// made again.
bool TFtpTransfer::FallBackToList(TransferKind kind, const TFtpReply& Reply) {
  if (kind != TransferKind::Listing || !ftp_.Features.MachineListing()) return false;
  if (Reply.Code != 500 && Reply.Code != 501 && Reply.Code != 502) return false;
  ftp_.Features.MlsdRefused = true;
  Channel().Close();
  State.Begin(kind);
  Channel().Open(kind);
  return true;
}

void TFtpTransfer::TakePreliminaryReply(TransferKind kind, const TFtpReply& Reply) {
  State.PreliminaryReply();
  if (kind == TransferKind::Receive) {
    TakeAnnouncedSize(Reply);
    std::string size;
    if (TransferSizeFromReply(Reply.Line, size)) ftp_.Info(ftpiTransferSize, size);
  } else if (kind == TransferKind::Store && State.Storing() && Channel().Passive()) {
    // In passive mode the data connection is already there: the file goes once the
    // server has said it takes it, so that a refused STOR never meets data it did not want.
    Store().ServerReady();
  }
}

// The final reply of a listing or transfer; during a stop, whatever final reply comes.
// A stopped transfer whose final reply is not 2xx did not succeed either.
void TFtpTransfer::TakeFinalReply(bool accepted) {
  if (!accepted) ftp_.Success = false;
  State.FinalReply();
  TryFinish();
}

// RETR or STOR refused: the operation ends at once, as refused, with the connection kept.
void TFtpTransfer::EndCommandRefused() {
  emptyCloseDeferred_ = false;
  Drop();
  ftp_.Info(ftpiCommandFailed, "");
  ftp_.Success = false;
  State.Finish();
  ftp_.ClearDeadlines();
  ftp_.PostDone();
}
