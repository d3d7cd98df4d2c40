// The running store's sending, a part of the FTP component's transfers. Once the data
// connection is open and the server takes the file, the file goes out in blocks of 2048
// bytes, a few blocks (or one retry of the rest of a block) per pass of the message loop. A
// pass that sent its blocks whole posts the next pass; a pass that found the socket full
// waits for its write notification. Nothing here pumps the loop, so a modal dialog opened
// anywhere never freezes the store: the loop that runs under the dialog runs the store too.
//
// What a store counts is what the server has: the bytes handed to the socket less those
// still in its send queue (a slow link holds megabytes there), and the whole file only at
// the server's final reply, which also ends the transfer's time.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

class TVelaFtp;
class TFtpTransfer;

class TStoreSender {
 public:
  static constexpr int kBlockSize = 2048;
  // Blocks sent in one pass of the loop when the socket takes them whole: the loop still
  // runs every 16 KiB, and the cost of a pass is shared by a few blocks.
  static constexpr int kBlocksPerPass = 8;

  TStoreSender(TVelaFtp& ftp, TFtpTransfer& transfer) : ftp_(ftp), transfer_(transfer) {}

  // A new store: nothing is ready yet.
  void Reset();
  // Active mode: the server connected after STOR.
  void DataAccepted();
  // Passive mode: the server answered STOR with a preliminary reply.
  void ServerReady();
  // The store begins once the server takes the file and its data connection is ready.
  void MaybeBegin();
  // A pass posted as WM_FTP_STORE; `run` tells passes of an earlier store apart.
  void Continuation(platform::WPARAM run);
  // Tried again by the guard's tick when a write notification never came.
  void Nudge();
  // The end of the data side, whole or stopped.
  void End();
  // The final reply of a store that sent data: whatever the socket took has reached the
  // server by now (or never will), and the time runs to it.
  void Settle();

 private:
  void Begin();
  void ContinuePass();
  bool Block();
  void CountTaken();
  void PostPass();
  void EndAfterReadFailure();

  TVelaFtp& ftp_;
  TFtpTransfer& transfer_;
  std::int64_t remaining_ = 0;  // what is left of the file
  std::int64_t handed_ = 0;     // bytes the data socket took
  int blockSize_ = 0;           // the block on its way, and how much of it went
  int blockSent_ = 0;
  bool waitingForWrite_ = false;
  bool passPosted_ = false;
  bool started_ = false;      // the data connection is taken and the first pass was posted
  bool serverReady_ = false;  // active: the server connected; passive: it answered STOR
  std::uint64_t run_ = 0;     // numbers the stores
  char buffer_[kBlockSize] = {};
};
