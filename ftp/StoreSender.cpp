#include "ftp/StoreSender.h"

#include <algorithm>

#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"

using namespace platform;

void TStoreSender::Reset() {
  started_ = false;
  serverReady_ = false;
}

void TStoreSender::DataAccepted() {
  if (transfer_.State.phase() != TransferState::Phase::Waiting) return;
  ftp_.AbortRequested = false;
  if (!transfer_.Channel().Take()) return;
  if (ftp_.Features.ProtectData) transfer_.Channel().StartTls();
  serverReady_ = true;
  MaybeBegin();
}

void TStoreSender::ServerReady() {
  serverReady_ = true;
  MaybeBegin();
}

void TStoreSender::MaybeBegin() {
  if (transfer_.State.Storing() && !started_ && serverReady_ && !transfer_.Channel().TlsPending()) Begin();
}

void TStoreSender::Begin() {
  started_ = true;
  ftp_.BytesTransferred = 0;
  transfer_.StartClock();
  ++run_;  // passes posted for an earlier store are stale from now on
  remaining_ = transfer_.LocalFileHandle.SizeToSend();
  handed_ = 0;
  blockSize_ = blockSent_ = 0;
  waitingForWrite_ = passPosted_ = false;
  transfer_.Channel().Data().OnSockWrite = [this](TObject*) {
    if (!waitingForWrite_) return;
    waitingForWrite_ = false;
    ContinuePass();
  };
  const std::uint64_t serial = ftp_.Serial;
  ftp_.Info(ftpiTransferSize, std::to_string(remaining_));
  if (serial != ftp_.Serial) return;
  PostPass();
}

void TStoreSender::ContinuePass() {
  for (int block = 0; block < kBlocksPerPass; ++block) {
    if (!Block()) {
      if (waitingForWrite_) CountTaken();
      return;
    }
  }
  CountTaken();
  PostPass();
}

// What the server has so far; asked of the socket once a pass, not once a block.
void TStoreSender::CountTaken() {
  ftp_.BytesTransferred =
      std::max(ftp_.BytesTransferred, handed_ - transfer_.Channel().Data().SockUnsentBytes());
}

// One block, or the rest of one; true when it went whole and the store goes on. A stop
// ends the store before its next block (or in the middle of one): the operation then
// fails, since the server did not get the whole file.
bool TStoreSender::Block() {
  if (!transfer_.State.Storing() || ftp_.ShuttingDown) return false;
  if (transfer_.State.Stopped()) {
    End();
    return false;
  }
  if (blockSent_ == blockSize_) {
    if (remaining_ == 0) {
      End();
      return false;
    }
    const int block = remaining_ < kBlockSize ? static_cast<int>(remaining_) : kBlockSize;
    if (transfer_.LocalFileHandle.Read(buffer_, block) < block) {
      EndAfterReadFailure();
      return false;
    }
    remaining_ -= block;
    blockSize_ = block;
    blockSent_ = 0;
  }
  TVelaSocket& data = transfer_.Channel().Data();
  const int sent = data.SockSend(buffer_ + blockSent_, blockSize_ - blockSent_);
  blockSent_ += sent;
  handed_ += sent;
  if (data.SockError != 0) {
    ftp_.FatalError(ftpeDataConnection);
    return false;
  }
  if (blockSent_ < blockSize_) {
    // The socket is full: its write notification resumes the store.
    waitingForWrite_ = true;
    return false;
  }
  const std::uint64_t serial = ftp_.Serial;
  ftp_.Info(ftpiProgress, std::string());
  if (serial != ftp_.Serial) return false;
  transfer_.NoteTime();
  return true;
}

void TStoreSender::PostPass() {
  if (passPosted_ || !transfer_.State.Storing()) return;
  passPosted_ = true;
  MessageLoop::Current().PostMessage(ftp_.SockWindow, TVelaFtp::WM_FTP_STORE, static_cast<WPARAM>(run_), 0);
}

void TStoreSender::Continuation(WPARAM run) {
  if (run != static_cast<WPARAM>(run_) || !passPosted_) return;
  passPosted_ = false;
  ContinuePass();
}

// A store waiting for a write notification that the network never sends (it should not
// happen, but a store must not hang on it).
void TStoreSender::Nudge() {
  if (!waitingForWrite_ || !transfer_.State.Storing()) return;
  waitingForWrite_ = false;
  ContinuePass();
}

// Closing the data connection is how the server learns that the file is complete. The
// phase moves first: a handler that opens a dialog on the report below runs the loop, and
// a pass delivered there must find the store over.
void TStoreSender::End() {
  transfer_.State.EndData();
  // The last count the socket can give: what it still holds goes on after the close.
  CountTaken();
  transfer_.Channel().Close();
  // Sent as it was when the store began: a file written to meanwhile is said to be so.
  const bool changed = ftp_.Success && transfer_.LocalFileHandle.ChangedSinceSized();
  transfer_.CloseLocalFile();
  transfer_.NoteTime();
  const std::uint64_t serial = ftp_.Serial;
  if (changed) ftp_.Info(ftpiLocalFileChanged, ftp_.LocalFile);
  if (serial != ftp_.Serial) return;
  ftp_.Info(ftpiTransferDone, "Transfer done");
  if (serial != ftp_.Serial) return;
  transfer_.DataSideFinished();
}

// A read failure of the local file ends the store: the data connection is closed (the
// server keeps what it got) and the operation ends with the final reply, Success False.
// Everything is closed before the report, whose message box runs the loop.
void TStoreSender::EndAfterReadFailure() {
  transfer_.State.EndData();
  transfer_.CloseLocalFile();
  transfer_.Channel().Close();
  ftp_.Success = false;
  const std::uint64_t serial = ftp_.Serial;
  ftp_.ReportLocalError(ftpeLocalFileRead, transfer_.LocalFileHandle.ReadError());
  if (serial != ftp_.Serial) return;
  transfer_.DataSideFinished();
}

void TStoreSender::Settle() {
  if (!started_) return;
  transfer_.NoteTime();
  ftp_.BytesTransferred = handed_;
}
