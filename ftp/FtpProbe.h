// TFtpProbe: the way the tests and the fuzzer reach inside a TVelaFtp, each by its name:
// the reply state, the running operation, the lengths of the bounded waits, the error
// paths, the data sockets. Nothing in the program uses it.
#pragma once

#include <string>

#include "ftp/DataChannel.h"
#include "ftp/Ftp.h"
#include "ftp/FtpTransfer.h"

class TFtpProbe {
 public:
  explicit TFtpProbe(TVelaFtp& ftp) : ftp_(ftp) {}

  TControlState State() const { return ftp_.ControlState; }
  static TControlState StateOf(const TVelaFtp& ftp) { return ftp.ControlState; }
  void SetState(TControlState state) { ftp_.ControlState = state; }
  void SetOperation(TVelaFtp::TCurrentOperation op) { ftp_.CurrentOperation = op; }
  bool ShuttingDown() const { return ftp_.ShuttingDown; }
  const std::string& RenameTarget() const { return ftp_.RenameTarget; }
  bool MachineListing() const { return ftp_.Features.MachineListing(); }
  bool Storing() const { return ftp_.Transfer->State.Storing(); }
  TGuardTimes& GuardTimes() { return ftp_.GuardTimes; }
  TVelaSocket& ListenSocket() { return ftp_.Transfer->Channel().Listener(); }
  TVelaSocket& DataSocket() { return ftp_.Transfer->Channel().Data(); }
  // A listing's bound, smaller than the program's, so that a test reaches it quickly.
  void SetListingBound(std::int64_t bytes) { ftp_.Transfer->listing_ = TListingReader(bytes); }

  // A complete control line, handed on as the control connection does.
  void HandleReply(const std::string& line) {
    ftp_.InReplyHandler = true;
    ftp_.HandleReply(line);
    ftp_.InReplyHandler = false;
  }

  // The error paths.
  bool CheckSocketError() { return ftp_.CheckSocketError(); }
  void ReportError(FtpError code) { ftp_.ReportError(code); }
  void FatalError(FtpError code) { ftp_.FatalError(code); }
  void NetworkError(FtpError code) { ftp_.EndConnection(TVelaFtp::TConnectionEnd::NetworkError, code); }
  void ServerClosed() { ftp_.EndConnection(TVelaFtp::TConnectionEnd::ServerClosed, ftpeNone); }

 private:
  TVelaFtp& ftp_;
};
