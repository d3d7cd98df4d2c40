// The operations: acceptance, the simple requests, the listing and the transfers. Each runs
// as the component's Work, a step at a time, and ends with EndOperation.
#include <sys/stat.h>

#include "sftp/Sftp.h"
#include "sftp/SftpChannel.h"
#include "sftp/SftpDownload.h"
#include "sftp/SftpListing.h"
#include "sftp/SftpUpload.h"
#include "sftp/SshSession.h"

using namespace platform;

bool TVelaSftp::AcceptCommand() {
  if (!Connected || phase_ != Phase::Ready) {
    Info(ftpiDisconnected, "");
    return false;
  }
  if (Busy) {
    Info(ftpiBusy, "");
    return false;
  }
  return true;
}

void TVelaSftp::Begin(TCurrentOperation op, TWork work, std::string argument, std::string second) {
  Success = true;
  LastError = ftpeNone;
  CurrentOperation = op;
  Busy = true;
  AbortRequested = false;
  Argument = std::move(argument);
  SecondArgument = std::move(second);
  ChangeStage = 0;
  StallSeconds = 0;
  Work = work;
  Drive();
}

void TVelaSftp::EndOperation(bool success) {
  if (!success) Success = false;
  Work = nullptr;
  PostDone();
}

std::string TVelaSftp::RemotePathOf(const std::string& name) const { return RemotePath(InitialDirectory, name); }

// A request that did not succeed: a refusal ends the operation as the server's "no"; a
// broken session or a reply that makes no sense ends the session.
TSshStatus TVelaSftp::Refused(int rc) {
  switch (Channel->Classify(rc)) {
    case TSftpChannel::Failure::Refused:
      Info(ftpiCommandFailed, "");
      EndOperation(false);
      break;
    case TSftpChannel::Failure::Broken:
      FatalError(ftpeConnectionLost);
      break;
    case TSftpChannel::Failure::Nonsense:
      FatalError(AsFtpError(sftpeProtocol), Ssh ? Ssh->LastErrorText() : std::string());
      break;
  }
  return TSshStatus::Failed;
}

void TVelaSftp::ChangeDirectory(const std::string& Directory) {
  if (!AcceptCommand()) return;
  Begin(opChangeDirectory, &TVelaSftp::ChangeDirectoryStep, RemotePathOf(Directory));
}

TSshStatus TVelaSftp::ChangeDirectoryStep() {
  const TSshStatus status = ResolveFolder();
  if (status == TSshStatus::Done) {
    InitialDirectory = Resolved;
    EndOperation(true);
  } else if (status == TSshStatus::Failed && Connected) {
    Info(ftpiCommandFailed, "");
    EndOperation(false);
  }
  return status;
}

// A refusal (or a path that is no folder) leaves the session as it is; a broken session or
// a nonsense reply ends it.
TSshStatus TVelaSftp::ResolveFolder() {
  LIBSSH2_SFTP* sftp = Channel->Handle();
  const auto failed = [this](int rc) {
    const TSftpChannel::Failure failure = Channel->Classify(rc);
    if (failure == TSftpChannel::Failure::Broken) FatalError(ftpeConnectionLost);
    if (failure == TSftpChannel::Failure::Nonsense) FatalError(AsFtpError(sftpeProtocol), Ssh->LastErrorText());
    return TSshStatus::Failed;
  };
  if (ChangeStage == 0) {
    char target[4096];
    const int n = libssh2_sftp_symlink_ex(sftp, Argument.c_str(), static_cast<unsigned>(Argument.size()), target,
                                          sizeof target, LIBSSH2_SFTP_REALPATH);
    if (n == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
    if (n < 0) return failed(n);
    Resolved.assign(target, static_cast<std::size_t>(n));
    ChangeStage = 1;
  }
  LIBSSH2_SFTP_ATTRIBUTES attrs{};
  const int rc =
      libssh2_sftp_stat_ex(sftp, Resolved.c_str(), static_cast<unsigned>(Resolved.size()), LIBSSH2_SFTP_STAT, &attrs);
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  if (rc != 0) return failed(rc);
  const bool folder = (attrs.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) == 0 || S_ISDIR(attrs.permissions);
  return folder ? TSshStatus::Done : TSshStatus::Failed;
}

void TVelaSftp::CreateDirectory(const std::string& Directory) {
  if (!AcceptCommand()) return;
  Begin(opCreateDirectory, &TVelaSftp::SimpleStep, RemotePathOf(Directory));
}

void TVelaSftp::DeleteDirectory(const std::string& Directory) {
  if (!AcceptCommand()) return;
  Begin(opDeleteDirectory, &TVelaSftp::SimpleStep, RemotePathOf(Directory));
}

void TVelaSftp::DeleteFile(const std::string& FileName) {
  if (!AcceptCommand()) return;
  Begin(opDeleteFile, &TVelaSftp::SimpleStep, RemotePathOf(FileName));
}

void TVelaSftp::RenameFile(const std::string& OldName, const std::string& NewName) {
  if (!AcceptCommand()) return;
  Begin(opRenameFile, &TVelaSftp::SimpleStep, RemotePathOf(OldName), RemotePathOf(NewName));
}

// MKDIR, RMDIR, REMOVE, RENAME: one request, its status the outcome.
TSshStatus TVelaSftp::SimpleStep() {
  LIBSSH2_SFTP* sftp = Channel->Handle();
  const auto length = [](const std::string& s) { return static_cast<unsigned>(s.size()); };
  int rc = 0;
  switch (CurrentOperation) {
    case opCreateDirectory:
      rc = libssh2_sftp_mkdir_ex(sftp, Argument.c_str(), length(Argument), 0755);
      break;
    case opDeleteDirectory:
      rc = libssh2_sftp_rmdir_ex(sftp, Argument.c_str(), length(Argument));
      break;
    case opDeleteFile:
      rc = libssh2_sftp_unlink_ex(sftp, Argument.c_str(), length(Argument));
      break;
    case opRenameFile:
      // A plain rename: it does not replace a file of the new name.
      rc = libssh2_sftp_rename_ex(sftp, Argument.c_str(), length(Argument), SecondArgument.c_str(),
                                  length(SecondArgument), LIBSSH2_SFTP_RENAME_ATOMIC | LIBSSH2_SFTP_RENAME_NATIVE);
      break;
    default:
      break;
  }
  if (rc == LIBSSH2_ERROR_EAGAIN) return TSshStatus::Again;
  if (rc != 0) return Refused(rc);
  EndOperation(true);
  return TSshStatus::Done;
}

// --- Listing ---

void TVelaSftp::GetListing() {
  if (!AcceptCommand()) {
    CurrentOperation = opGetListing;
    return;
  }
  Listing = std::make_unique<TSftpListing>(*Channel, InitialDirectory);
  Begin(opGetListing, &TVelaSftp::ListingStep);
}

TSshStatus TVelaSftp::ListingStep() {
  if (AbortRequested) {
    Listing.reset();
    EndOperation(false);
    return TSshStatus::Failed;
  }
  const TSshStatus status = Listing->Step();
  if (status == TSshStatus::Again || status == TSshStatus::Progress) return status;
  if (status == TSshStatus::Failed) {
    const int code = Listing->FailureCode();
    Listing.reset();
    if (code == 0) {  // too long to be kept
      FatalError(AsFtpError(sftpeProtocol), "listing");
      return TSshStatus::Failed;
    }
    return Refused(code);
  }
  FileNames.clear();
  DirectoryNames.clear();
  FileFacts.clear();
  DirectoryFacts.clear();
  for (const TSftpListing::Entry& entry : Listing->Entries()) {
    (entry.Folder ? DirectoryNames : FileNames).push_back(entry.Name);
    (entry.Folder ? DirectoryFacts : FileFacts).push_back(entry.Facts);
  }
  Listing.reset();
  const std::uint64_t serial = Serial;
  Info(ftpiListingReady, "Listing ready");
  if (serial != Serial) return TSshStatus::Failed;
  EndOperation(true);
  return TSshStatus::Done;
}

// --- Transfers ---

// A receive or a store whose local file cannot be had ends at once, reported, as FTP's does.
bool TVelaSftp::LocalFileReady(TCurrentOperation op) {
  Success = true;
  ExpectedSize = -1;
  ResumedFrom = BytesTransferred = TransferTime = 0;
  LocalError = 0;
  LeftOnDisk = TLeftOnDisk::Untouched;
  LeftPath.clear();
  const bool receiving = op == opReceiveFile;
  if (!RemoteFile.empty() && !LocalFile.empty()) {
    TPartOrigin origin;
    origin.Server = FtpServer;
    origin.Port = FtpPort;
    origin.User = UserName;
    origin.RemotePath = RemotePathOf(RemoteFile);
    LocalError = receiving ? LocalFileHandle.OpenForReceive(LocalFile, origin) : LocalFileHandle.OpenForStore(LocalFile);
    if (LocalError == 0) return true;
  }
  LocalFileHandle.Forget();
  CurrentOperation = op;
  Busy = true;
  ReportError(RemoteFile.empty() ? ftpeNoRemoteFile : ftpeLocalFileOpen, RemoteFile.empty() ? "" : LocalFile);
  EndOperation(false);
  return false;
}

void TVelaSftp::ReceiveFile() {
  if (!AcceptCommand() || !LocalFileReady(opReceiveFile)) return;
  // Said before the first byte: a download cut short would leave the file holding only
  // what came.
  if (LocalFileHandle.OverwritesInPlace()) {
    const std::uint64_t serial = Serial;
    Info(ftpiLocalFileInPlace, LocalFile);
    if (serial != Serial) return;
  }
  auto download = std::make_unique<TSftpDownload>(*Channel, RemotePathOf(RemoteFile), LocalFileHandle);
  download->OnStarted = [this, &size = *download](std::int64_t resumedFrom) {
    ExpectedSize = size.ExpectedSize();
    ResumedFrom = resumedFrom;
    BeginTick = GetTickCount();
    const std::uint64_t serial = Serial;
    if (ExpectedSize >= 0) Info(ftpiTransferSize, std::to_string(ExpectedSize));
    if (serial == Serial && resumedFrom > 0) Info(ftpiResumed, std::to_string(resumedFrom));
    return serial == Serial;
  };
  StartTransfer(std::move(download), opReceiveFile);
}

void TVelaSftp::StoreFile() {
  if (!AcceptCommand() || !LocalFileReady(opStoreFile)) return;
  struct stat st {};
  ExpectedSize = LocalFileHandle.SizeToSend();
  auto upload = std::make_unique<TSftpUpload>(*Channel, RemotePathOf(RemoteFile), LocalFileHandle,
                                              ::stat(LocalFile.c_str(), &st) == 0 ? st.st_mode : 0644);
  upload->OnStarted = [this] {
    BeginTick = GetTickCount();
    const std::uint64_t serial = Serial;
    Info(ftpiTransferSize, std::to_string(ExpectedSize));
    return serial == Serial;
  };
  StartTransfer(std::move(upload), opStoreFile);
}

void TVelaSftp::StartTransfer(std::unique_ptr<TSftpTransfer> transfer, TCurrentOperation op) {
  Transfer = std::move(transfer);
  Transfer->OnProgress = [this] {
    BytesTransferred = Transfer->Moved();
    TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
    const std::uint64_t serial = Serial;
    Info(ftpiProgress, std::string());
    return serial == Serial && !AbortRequested;
  };
  BeginTick = GetTickCount();
  Begin(op, &TVelaSftp::TransferStep);
}

TSshStatus TVelaSftp::TransferStep() {
  const std::uint64_t serial = Serial;
  const TSshStatus status = AbortRequested ? TSshStatus::Failed : Transfer->Step();
  if (serial != Serial) return TSshStatus::Failed;  // the session ended while the owner was told of progress
  if (!AbortRequested && (status == TSshStatus::Again || status == TSshStatus::Progress)) return status;
  // A stopped transfer leaves its remote file to the channel's background work.
  if (AbortRequested) Transfer->Stop();
  BytesTransferred = Transfer->Moved();
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  const TSftpTransfer::Result result = AbortRequested ? TSftpTransfer::Result::None : Transfer->result();
  const int code = Transfer->FailureCode();
  Transfer.reset();
  const bool changedWhileSent = CurrentOperation == opStoreFile && LocalFileHandle.ChangedSinceSized();
  LocalFileHandle.Forget();  // the source, read to its end or not; a receive's is settled already
  if (CurrentOperation == opReceiveFile) {
    LeftOnDisk = LocalFileHandle.Left();
    LeftPath = LocalFileHandle.LeftPath();
  }
  if (result == TSftpTransfer::Result::LocalWrite || result == TSftpTransfer::Result::LocalRead) LocalError = code;
  switch (result) {
    case TSftpTransfer::Result::Whole:
      if (changedWhileSent) {
        Info(ftpiLocalFileChanged, LocalFile);
        if (serial != Serial) return TSshStatus::Failed;
      }
      Info(ftpiTransferDone, "Transfer done");
      if (serial == Serial) EndOperation(true);
      return TSshStatus::Done;
    case TSftpTransfer::Result::Incomplete:
      ReportError(ftpeDownloadIncomplete);
      break;
    case TSftpTransfer::Result::LocalWrite:
      ReportError(ftpeLocalFileWrite, LocalFile);
      break;
    case TSftpTransfer::Result::LocalRead:
      ReportError(ftpeLocalFileRead, LocalFile);
      break;
    case TSftpTransfer::Result::None:
      break;  // stopped
    case TSftpTransfer::Result::Refused:
    case TSftpTransfer::Result::Broken:
    case TSftpTransfer::Result::Nonsense:
      return Refused(code);
  }
  if (serial == Serial && Connected) EndOperation(false);
  return TSshStatus::Failed;
}

// The stop: the running listing or transfer ends at its next step, which the pass posted
// here brings at once; the session stays.
void TVelaSftp::Abort() {
  if (!Connected || !Busy || Work == nullptr) return;
  AbortRequested = true;
  if (InDrive) return;  // the step that called out to the owner sees it on return
  Drive();
}
