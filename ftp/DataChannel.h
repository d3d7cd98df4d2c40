// The data connections of the FTP component, a part of its transfers: the listening socket
// (the server connects to it in active mode) and the data socket (accepted, or connected to
// the server in passive mode), both reused for every listing and transfer; the command that
// prepares each data connection (PORT or EPRT, EPSV or PASV) and its reply; a connection
// the server made before anyone waited for it; and the TLS handshake of each data
// connection under PROT P. Once the connection is open both modes are one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ftp/FtpReply.h"
#include "ftp/TransferState.h"
#include "transport/FtpErrorCodes.h"
#include "transport/velasock.h"

class TVelaFtp;
class TFtpTransfer;

class TDataChannel {
 public:
  TDataChannel(TVelaFtp& ftp, TFtpTransfer& transfer);
  ~TDataChannel();

  TVelaSocket& Data() { return *data_; }
  TVelaSocket& Listener() { return *listen_; }

  // At the connect: passive when asked for, or when automatic sees a router in the way.
  void ChooseSessionMode();
  // After TYPE (and SIZE): PORT, or EPSV/PASV.
  void Open(TransferKind kind);
  void TakeSetupReply(TransferKind kind, const TFtpReply& Reply);
  // Automatic mode, active so far: a 425 or 426 to the transfer command before the data
  // connection was made runs the same operation again in passive mode; true when it does.
  bool RetryPassively(TransferKind kind, const TFtpReply& Reply);

  // The running transfer makes (or made) its data connection to the server.
  bool Passive() const { return setup_ != TSetup::Port; }
  bool Connecting() const { return connecting_; }

  // Active mode: `onAccept` takes the server's connection, also one that came early.
  void AwaitAccept(std::function<void()> onAccept);
  // Takes the waiting connection; false when there was none to take (or it failed, or came
  // from another host than the server: it is closed and the listener keeps waiting).
  bool Take();

  // The handshake under PROT P, resuming the control connection's session.
  void StartTls();
  bool TlsPending() const { return tlsPending_; }

  // A data connection that failed before the transfer command was answered: it is closed,
  // and the reply says whose failure it was. A server that refuses the command may end a
  // data connection it already has before it says so; its refusal then ends the operation
  // as refused, while a 1xx or 2xx makes `failure` the data connection's. False when the
  // command was answered already.
  bool AwaitReplyAfterFailure(FtpError failure);
  // The failure that waits for the reply; ftpeNone when none does.
  FtpError FailureBeforeReply() const { return failure_; }

  void Close();
  // Close, and forget every connection on its way.
  void Reset();

 private:
  enum class TSetup : std::uint8_t { Port, Epsv, Pasv };

  void SendPassiveCommand(TransferKind kind);
  void SwitchToPassive(const char* reason);
  void ConnectPassive(TransferKind kind, std::uint16_t port);
  void PassiveConnected(TransferKind kind);
  void PassiveConnectFailed();
  std::string Listen();
  void TlsDone();

  TVelaFtp& ftp_;
  TFtpTransfer& transfer_;
  std::unique_ptr<TVelaSocket> listen_;  // made before the data socket, freed after it
  std::unique_ptr<TVelaSocket> data_;
  TSetup setup_ = TSetup::Port;  // the command that prepares the next data connection
  bool passiveSession_ = false;  // chosen at the connect, or switched to by the automatic mode
  bool epsvRefused_ = false;     // this server refused EPSV: PASV from now on
  bool connecting_ = false;      // the data socket's connect to the server is under way
  bool acceptWaiting_ = false;   // a connection arrived before anyone waited for it
  bool tlsPending_ = false;
  FtpError failure_ = ftpeNone;
};
