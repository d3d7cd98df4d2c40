// Storing a file: once the server has connected, the file goes out in blocks of 2048 bytes,
// one block (or one retry of the rest of a block) per pass of the message loop. A pass that
// sent its block whole posts the next pass; a pass that found the socket full waits for
// its write notification. Nothing here pumps the loop, so a modal dialog opened anywhere
// never freezes the store: the loop that runs under the dialog runs the store too.
//
// What a store counts is what the server has: the bytes handed to the socket less those
// still in its send queue (a slow link holds megabytes there), and the whole file only at
// the server's final reply, which also ends the transfer's time.
#include <algorithm>

#include "ftp/Ftp.h"

using namespace platform;

// Active mode: the server connected after STOR.
void TVelaFtp::StoreData(TObject*) {
  if (Transfer.phase() != TransferState::Phase::Waiting) return;
  AbortRequested = false;
  if (!TakeDataConnection()) return;
  if (ProtectData) StartDataTls();
  Store.ServerReady = true;
  MaybeBeginStore();
}

// The data connection is open and the server takes the file (active: it connected;
// passive: it answered STOR with a preliminary reply).
void TVelaFtp::BeginStore() {
  Store.Started = true;
  BytesTransferred = 0;
  BeginTick = GetTickCount();
  TransferTime = 0;
  ++Store.Run;  // continuations posted for an earlier store are stale from now on
  Store.Remaining = LocalFileHandle.SizeToSend();
  Store.Handed = 0;
  Store.BlockSize = Store.BlockSent = 0;
  Store.WaitingForWrite = Store.ContinuationPosted = false;
  DataSocket->OnSockWrite = [this](TObject*) {
    if (!Store.WaitingForWrite) return;
    Store.WaitingForWrite = false;
    ContinueStore();
  };
  const std::uint64_t serial = Serial;
  Info(ftpiTransferSize, std::to_string(Store.Remaining));
  if (serial != Serial) return;
  PostStorePass();
}

// One pass: a few blocks while the socket takes each whole, then the loop runs again.
void TVelaFtp::ContinueStore() {
  for (int block = 0; block < kStoreBlocksPerPass; ++block) {
    if (!StoreBlock()) {
      if (Store.WaitingForWrite) CountStoreTaken();
      return;
    }
  }
  CountStoreTaken();
  PostStorePass();
}

// What the server has so far; asked of the socket once a pass, not once a block.
void TVelaFtp::CountStoreTaken() {
  BytesTransferred = std::max(BytesTransferred, Store.Handed - DataSocket->SockUnsentBytes());
}

// One block, or the rest of one; true when it went whole and the store goes on. A stop
// ends the store before its next block (or in the middle of one): the operation then
// fails, since the server did not get the whole file.
bool TVelaFtp::StoreBlock() {
  if (!Transfer.Storing() || ShuttingDown) return false;
  if (Transfer.Stopped()) {
    EndStore();
    return false;
  }
  if (Store.BlockSent == Store.BlockSize) {
    if (Store.Remaining == 0) {
      EndStore();
      return false;
    }
    const int block = Store.Remaining < kChunkSize ? static_cast<int>(Store.Remaining) : kChunkSize;
    if (LocalFileHandle.Read(TransferBuffer, block) < block) {
      EndStoreAfterReadFailure();
      return false;
    }
    Store.Remaining -= block;
    Store.BlockSize = block;
    Store.BlockSent = 0;
  }
  const int sent = DataSocket->SockSend(TransferBuffer + Store.BlockSent, Store.BlockSize - Store.BlockSent);
  Store.BlockSent += sent;
  Store.Handed += sent;
  if (DataSocket->SockError != 0) {
    FatalError(ftpeDataConnection);
    return false;
  }
  if (Store.BlockSent < Store.BlockSize) {
    // The socket is full: its write notification resumes the store.
    Store.WaitingForWrite = true;
    return false;
  }
  const std::uint64_t serial = Serial;
  Info(ftpiProgress, std::string());
  if (serial != Serial) return false;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  return true;
}

void TVelaFtp::PostStorePass() {
  if (Store.ContinuationPosted || !Transfer.Storing()) return;
  Store.ContinuationPosted = true;
  MessageLoop::Current().PostMessage(SockWindow, WM_FTP_STORE, static_cast<WPARAM>(Store.Run), 0);
}

void TVelaFtp::StoreContinuation(WPARAM run) {
  if (run != static_cast<WPARAM>(Store.Run) || !Store.ContinuationPosted) return;
  Store.ContinuationPosted = false;
  ContinueStore();
}

// A store waiting for a write notification that the network never sends (it should not
// happen, but a store must not hang on it) is tried again by the guard's tick.
void TVelaFtp::NudgeStore() {
  if (!Store.WaitingForWrite || !Transfer.Storing()) return;
  Store.WaitingForWrite = false;
  ContinueStore();
}

// The end of the data side, whole or stopped. Closing the data connection is how the
// server learns that the file is complete. The phase moves first: a handler that opens a
// dialog on the report below runs the loop, and a pass delivered there must find the store
// over.
void TVelaFtp::EndStore() {
  Transfer.EndData();
  // The last count the socket can give: what it still holds goes on after the close.
  CountStoreTaken();
  CloseDataSockets();
  // Sent as it was when the store began: a file written to meanwhile is said to be so.
  const bool changed = Success && LocalFileHandle.ChangedSinceSized();
  CloseLocalFile();
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  const std::uint64_t serial = Serial;
  if (changed) Info(ftpiLocalFileChanged, LocalFile);
  if (serial != Serial) return;
  Info(ftpiTransferDone, "Transfer done");
  if (serial != Serial) return;
  DataSideFinished();
}

// A read failure of the local file ends the store: the data connection is closed (the
// server keeps what it got) and the operation ends with the final reply, Success False.
// Everything is closed before the report, whose message box runs the loop.
void TVelaFtp::EndStoreAfterReadFailure() {
  Transfer.EndData();
  CloseLocalFile();
  CloseDataSockets();
  Success = false;
  const std::uint64_t serial = Serial;
  ReportLocalError(ftpeLocalFileRead, LocalFileHandle.ReadError());
  if (serial != Serial) return;
  DataSideFinished();
}

// The final reply of a store that sent data: whatever the socket took has reached the
// server by now (or never will), and the time runs to it.
void TVelaFtp::SettleStore() {
  if (!Store.Started) return;
  TransferTime = static_cast<std::int64_t>(GetTickCount() - BeginTick);
  BytesTransferred = Store.Handed;
}
