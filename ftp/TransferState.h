// Where the running listing, receive or store stands, as one value: how far its data side
// has come, whether its final reply is in, and whether the user stopped it. The component
// holds one; Begin() starts it when an operation is accepted, Finish() marks the done
// notification as posted, Clear() forgets it once that notification (or a teardown) came.
#pragma once

#include <cstdint>

enum class TransferKind : std::uint8_t { Listing, Receive, Store };

class TransferState {
 public:
  enum class Phase : std::uint8_t {
    Idle,       // no listing or transfer under way
    Preparing,  // accepted; PWD, TYPE or PORT still on their way
    Waiting,    // LIST, RETR or STOR sent; the data connection not yet taken
    Open,       // the data connection is taken
    DataEnded,  // the data side is over: closed by either side, or dropped by a stop
    Finished,   // data side and final reply joined; the done notification is posted
  };
  // When the user stopped the transfer. A stop before its data side ended cuts it short;
  // one after leaves the outcome to the final reply.
  enum class Stop : std::uint8_t { None, BeforeCommand, BeforeDataEnd, AfterDataEnd };

  void Begin(TransferKind kind) {
    kind_ = kind;
    phase_ = Phase::Preparing;
    stop_ = Stop::None;
    finalReplySeen_ = false;
    preliminaryReplySeen_ = false;
    dataAccepted_ = false;
  }
  void CommandSent() { phase_ = Phase::Waiting; }
  void DataTaken() {
    phase_ = Phase::Open;
    dataAccepted_ = true;
  }
  void EndData() { phase_ = Phase::DataEnded; }
  void PreliminaryReply() { preliminaryReplySeen_ = true; }
  void FinalReply() { finalReplySeen_ = true; }
  void Finish() { phase_ = Phase::Finished; }
  void Clear() { phase_ = Phase::Idle; }

  // Records the first stop, according to the phase; a stop while nothing runs is none.
  Stop RecordStop() {
    if (stop_ != Stop::None) return stop_;
    switch (phase_) {
      case Phase::Idle: break;
      case Phase::Preparing: stop_ = Stop::BeforeCommand; break;
      case Phase::Waiting:
      case Phase::Open: stop_ = Stop::BeforeDataEnd; break;
      case Phase::DataEnded:
      case Phase::Finished: stop_ = Stop::AfterDataEnd; break;
    }
    return stop_;
  }

  Phase phase() const { return phase_; }
  TransferKind kind() const { return kind_; }
  // The transfer command was sent and the operation has not ended.
  bool Active() const { return phase_ == Phase::Waiting || phase_ == Phase::Open || phase_ == Phase::DataEnded; }
  bool Running() const { return phase_ != Phase::Idle && phase_ != Phase::Finished; }
  bool Stopped() const { return stop_ != Stop::None && Running(); }
  bool CutShort() const { return stop_ == Stop::BeforeCommand || stop_ == Stop::BeforeDataEnd; }
  bool DataAccepted() const { return dataAccepted_; }
  bool FinalReplySeen() const { return finalReplySeen_; }
  bool PreliminaryReplySeen() const { return preliminaryReplySeen_; }
  bool ReadyToFinish() const { return phase_ == Phase::DataEnded && finalReplySeen_; }
  // The store's send loop is running (it may be pumping the message loop).
  bool Storing() const { return kind_ == TransferKind::Store && phase_ == Phase::Open; }

 private:
  TransferKind kind_ = TransferKind::Listing;
  Phase phase_ = Phase::Idle;
  Stop stop_ = Stop::None;
  bool finalReplySeen_ = false;
  bool preliminaryReplySeen_ = false;
  bool dataAccepted_ = false;
};
