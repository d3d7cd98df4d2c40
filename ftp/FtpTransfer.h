// Listings, receives and stores, a part of TVelaFtp. One sequence serves the three kinds:
// PWD (a listing), TYPE, SIZE and MDTM (a binary receive), the data connection (its
// channel: PORT, EPSV or PASV), REST (a receive that continues a part), then LIST, RETR or
// STOR; the data side and the final reply then end the operation together, in either
// order. The files: the replies of the sequence (FtpTransfer.cpp), the data side
// (FtpDataSide.cpp), whole downloads and their parts (FtpDownload.cpp), the stop and the
// bounded waits of a transfer (FtpTransferStop.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ftp/FtpReply.h"
#include "ftp/ListingReader.h"
#include "ftp/TransferState.h"
#include "session/ListingFacts.h"
#include "session/LocalFile.h"
#include "transport/FtpErrorCodes.h"

class TVelaFtp;
class TDataChannel;
class TStoreSender;

class TFtpTransfer {
 public:
  static constexpr int kChunkSize = 2048;
  // Over TLS the session holds a record (16 KiB) anyway: the local file is then read and
  // written a record at a time rather than a chunk at a time.
  static constexpr std::size_t kTlsFileBuffer = 16384;

  explicit TFtpTransfer(TVelaFtp& ftp);
  ~TFtpTransfer();

  TDataChannel& Channel() { return *channel_; }
  TStoreSender& Store() { return *store_; }

  // The operation was accepted: PWD for a listing; for a file the local checks, then TYPE.
  void Begin(TransferKind kind);
  void TakePwdReply(const TFtpReply& Reply);
  // The replies from TYPE on, told apart by the kind's states.
  void TakeReply(TransferKind kind, const TFtpReply& Reply);
  void TakeModificationTimeReply(const TFtpReply& Reply);
  void TakeRestReply(const TFtpReply& Reply);

  // The data connection is ready to be used (or, active, to be waited for): the transfer
  // command goes.
  void Start(TransferKind kind);
  // A data connection has opened: its counters start from zero.
  void BeginDataCounters();
  // TransferTime counts from now; NoteTime brings it up to now.
  void StartClock();
  void NoteTime();
  void DataSideFinished();
  // The done notification, once the data side and the final reply are in and nothing is
  // owed to ABOR.
  void TryFinish();
  // NOOP's reply after a stop: the stopped transfer is over, with its final reply or not.
  void EndAfterResync();
  // Stopped before the transfer command went, or while its data connection was being made.
  void EndStoppedBeforeStart();
  // The stop button, once ABOR is on its way.
  void Stop();
  // Ends everything the transfer holds: its data connection and its local file (a
  // download that did not end whole leaves its target as it was).
  void Drop();
  void CloseLocalFile();

  // The bounded waits of a running transfer (see FtpGuard.cpp): whether data moved since
  // the last tick, and what the tick finds.
  bool SampleMovement();
  void Tick(std::uint32_t now, bool moving);

  TransferState State;
  TLocalFile LocalFileHandle;  // the local file of the running receive or store

 private:
  friend class TFtpProbe;

  bool PassLocalChecks();
  void SendTransferType(TransferKind kind);
  void TakePreliminaryReply(TransferKind kind, const TFtpReply& Reply);
  void TakeFinalReply(bool accepted);
  void EndCommandRefused();
  bool FallBackToList(TransferKind kind, const TFtpReply& Reply);

  // The data side.
  void DataAccepted();
  int ReceiveChunk();
  void DataFailed();
  void ListingRead();
  void AddListingLine(std::string line);
  void FileRead();
  bool DataClosedInError();
  void ListingClosed();
  void TransferClosed();
  bool DeferEmptyClose();
  bool EndDeferredDataSide();
  void ClaimLocalFile();
  void ClearListing();
  void SettleListing();
  void AbortCloseDataSide();
  void EndAfterSilentReply426();

  // Whole downloads and their parts.
  void AskSizeOrOpenData(TransferKind kind);
  void TakeSizeReply(TransferKind kind, const TFtpReply& Reply);
  void TakeAnnouncedSize(const TFtpReply& Reply);
  void ChooseResume(std::int64_t remoteModified);
  bool AskRest();
  void SettleDownload();
  void ForgetLocalFile();

  TVelaFtp& ftp_;
  std::unique_ptr<TDataChannel> channel_;
  std::unique_ptr<TStoreSender> store_;
  TListingReader listing_;
  char buffer_[kChunkSize + 1] = {};
  std::uint32_t beginTick_ = 0;  // when the data connection of the running transfer opened
  // The part of an earlier try that the running download may continue (REST), from
  // after SIZE until REST is answered; 0: none.
  std::int64_t resumeCandidate_ = 0;
  // A download's time is asked (MDTM) from this size on, when no listing gave it: a later
  // try may then continue its part. Smaller files are fetched whole again.
  static constexpr std::int64_t kTimeWorthAsking = 1 << 20;
  ListingFacts receiveFacts_;  // what is known of the running download's file
  bool closeNotify_ = false;  // the TLS data connection ended with close_notify
  // The data connection closed with nothing on it before any reply to the transfer command:
  // the reply says whether that was an empty file or listing, or a refusal.
  bool emptyCloseDeferred_ = false;
  FtpError listingRefusal_ = ftpeNone;  // why the running listing is refused whole
  std::int64_t stallBytes_ = -1;
  int stallSeconds_ = 0;
};
