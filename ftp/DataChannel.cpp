// Making data connections, both ways. Active: the client listens and tells the server
// where with PORT (EPRT over IPv6); the server connects. Passive: the server listens and
// says where (EPSV, or PASV over IPv4 when the server refuses EPSV); the client connects,
// always to the address of the control connection's peer, whatever address a PASV reply
// names. Once the connection is open both ways are one: the same reads, blocks, counters,
// stop and bounded waits, in either address family.
//
// The automatic mode starts in passive at once when this computer is on a private network
// and the server is not (active cannot work through the router); otherwise it starts
// active, and switches the session to passive when the server refuses PORT or cannot open
// the data connection (425 or 426 before it was made), running the same operation again.
#include "ftp/DataChannel.h"

#include "ftp/Ftp.h"
#include "ftp/FtpLogin.h"
#include "ftp/FtpTransfer.h"
#include "ftp/PassiveReply.h"
#include "ftp/ReplyParsing.h"
#include "ftp/StoreSender.h"
#include "platform/AddressText.h"
#include "platform/WinsockErrors.h"

using namespace platform;

TDataChannel::TDataChannel(TVelaFtp& ftp, TFtpTransfer& transfer)
    : ftp_(ftp), transfer_(transfer), listen_(std::make_unique<TVelaSocket>()), data_(std::make_unique<TVelaSocket>()) {
  listen_->InitWinsock();
  data_->InitWinsock();
}

TDataChannel::~TDataChannel() = default;

void TDataChannel::ChooseSessionMode() {
  epsvRefused_ = false;
  passiveSession_ = ftp_.DataConnectionMode == dcmPassive;
  if (ftp_.DataConnectionMode == dcmAutomatic && RouterBetween(ftp_.SockLocalAddress(), ftp_.ServerAddress)) {
    SwitchToPassive("router");
  }
}

void TDataChannel::SwitchToPassive(const char* reason) {
  if (passiveSession_) return;
  passiveSession_ = true;
  ftp_.Info(ftpiPassiveMode, reason);
}

void TDataChannel::Open(TransferKind kind) {
  failure_ = ftpeNone;
  if (passiveSession_) {
    SendPassiveCommand(kind);
    return;
  }
  setup_ = TSetup::Port;
  ftp_.SendCommand(Listen(), TransferStatesOf(kind).Setup);
}

void TDataChannel::SendPassiveCommand(TransferKind kind) {
  if (epsvRefused_ && ftp_.SockAddr.sin_family != AF_INET_VALUE) {
    // PASV can only name an IPv4 address: without EPSV there is no passive mode over IPv6.
    PassiveConnectFailed();
    return;
  }
  setup_ = epsvRefused_ ? TSetup::Pasv : TSetup::Epsv;
  ftp_.SendCommand(epsvRefused_ ? "PASV" : "EPSV", TransferStatesOf(kind).Setup);
}

void TDataChannel::TakeSetupReply(TransferKind kind, const TFtpReply& Reply) {
  const int cls = Reply.Class;
  switch (setup_) {
    case TSetup::Port:
      if (cls == 2) {
        transfer_.Start(kind);
      } else if (ftp_.DataConnectionMode == dcmAutomatic && (cls == 4 || cls == 5)) {
        listen_->SockClose();
        SwitchToPassive("refused");
        SendPassiveCommand(kind);
      } else {
        ftp_.FatalError(ftpeUnexpectedReply);
      }
      return;
    case TSetup::Epsv: {
      std::uint16_t port = 0;
      if (Reply.Code == 229 && PortFromEpsvReply(Reply.Line, port)) {
        ConnectPassive(kind, port);
      } else if (cls == 4 || cls == 5) {
        epsvRefused_ = true;  // for the rest of the session
        SendPassiveCommand(kind);
      } else {
        ftp_.FatalError(ftpeUnexpectedReply);
      }
      return;
    }
    case TSetup::Pasv: {
      std::string named;
      std::uint16_t port = 0;
      if (Reply.Code != 227 || !AddressFromPasvReply(Reply.Line, named, port)) {
        ftp_.FatalError(ftpeUnexpectedReply);
        return;
      }
      // Servers behind their own router name a private address, and a hostile one could
      // point the client at another host: the data connection goes to the server itself.
      if (!SameAddress(named, ftp_.ServerAddress)) {
        const std::uint64_t serial = ftp_.Serial;
        ftp_.Info(ftpiPassiveAddress, named);
        if (serial != ftp_.Serial) return;
      }
      ConnectPassive(kind, port);
      return;
    }
  }
}

// The local file was not touched, since no data came.
bool TDataChannel::RetryPassively(TransferKind kind, const TFtpReply& Reply) {
  if (ftp_.DataConnectionMode != dcmAutomatic || passiveSession_ || setup_ != TSetup::Port ||
      transfer_.State.DataAccepted() || transfer_.State.Stopped()) {
    return false;
  }
  if (Reply.Code != 425 && Reply.Code != 426) return false;
  Close();
  transfer_.State.Begin(kind);
  SwitchToPassive("refused");
  SendPassiveCommand(kind);
  return true;
}

void TDataChannel::ConnectPassive(TransferKind kind, std::uint16_t port) {
  if (transfer_.State.Stopped()) {
    transfer_.EndStoppedBeforeStart();
    return;
  }
  data_->SockClose();
  data_->OnSockRead = nullptr;
  data_->OnSockClose = nullptr;
  data_->OnSockWrite = nullptr;
  data_->OnSockConnect = [this, kind](TObject*) { PassiveConnected(kind); };
  data_->OnSockTimeOut = [this](TObject*) { PassiveConnectFailed(); };
  data_->TimeOutConnect = ftp_.TimeOutConnect;
  data_->SockAddr = ftp_.SockAddr;  // the server's own address, of the control connection
  data_->SockSetPort(port);
  data_->SockOpen();
  if (data_->SockError == 0) data_->SockConnect();
  if (data_->SockError != 0) {
    PassiveConnectFailed();
    return;
  }
  connecting_ = true;
}

void TDataChannel::PassiveConnected(TransferKind kind) {
  if (!connecting_) return;
  connecting_ = false;
  if (data_->SockError != 0) {
    PassiveConnectFailed();
    return;
  }
  // Under PROT P, the transfer begins the handshake once the transfer command has gone
  // (after REST's reply, when REST comes first); until it is done, nothing is sent there.
  tlsPending_ = ftp_.Features.ProtectData;
  transfer_.Start(kind);
}

// The server named a port that refused the connection, or never answered within the
// connect time, or refused EPSV over IPv6: the operation fails, and the connection stays
// usable (nothing was sent after EPSV or PASV, so no reply is owed).
void TDataChannel::PassiveConnectFailed() {
  connecting_ = false;
  if (transfer_.State.Stopped()) {
    transfer_.EndStoppedBeforeStart();
    return;
  }
  transfer_.Drop();
  ftp_.ControlState = csIdle;
  ftp_.Success = false;
  transfer_.State.Finish();
  const std::uint64_t serial = ftp_.Serial;
  ftp_.ReportError(ftpeDataConnection);
  if (serial != ftp_.Serial) return;
  ftp_.PostDone();
}

// A new listening socket, and the PORT (or, over IPv6, EPRT) command that names it.
std::string TDataChannel::Listen() {
  const std::string local = ftp_.SockLocalAddress();
  listen_->SockClose();  // a listener left from an earlier transfer is never reused
  listen_->ServerAddress = local;
  listen_->SockSetAddress(local);
  listen_->SockSetPort(0);
  listen_->SockOpen();
  // Some servers connect while they answer PORT, before anyone waits for the connection:
  // it is remembered and taken once someone does.
  acceptWaiting_ = false;
  listen_->OnSockAccept = [this](TObject*) { acceptWaiting_ = true; };
  listen_->SockListen();
  const std::string address = listen_->SockLocalAddress();
  const std::uint16_t port = listen_->SockLocalPort();
  return DataPortCommand(address, port);
}

void TDataChannel::AwaitAccept(std::function<void()> onAccept) {
  listen_->OnSockAccept = [onAccept = std::move(onAccept)](TObject*) { onAccept(); };
  if (acceptWaiting_) {
    acceptWaiting_ = false;
    listen_->SockAcceptAgain();
  }
}

// Only the server may connect: a connection from any other address is closed at once and
// the listener keeps waiting.
bool TDataChannel::Take() {
  data_->SockAccept(*listen_);
  if (data_->SockError == WSAEWOULDBLOCK) return false;  // nothing was waiting
  if (data_->SockError != 0) {
    if (!transfer_.State.Stopped()) ftp_.FatalError(ftpeDataConnection);
    return false;
  }
  if (!SameHost(data_->SockAddr, ftp_.SockAddr)) {
    data_->SockClose();
    return false;
  }
  transfer_.State.DataTaken();
  ftp_.Deadlines.Disarm(TAwaited::DataConnect);
  return true;
}

// A TLS client handshake resuming the control session, with the certificate the control
// connection showed.
void TDataChannel::StartTls() {
  tlsPending_ = true;
  TTlsClientOptions options = ftp_.Login->TlsOptions();
  options.Session = ftp_.SockTlsSession();
  data_->OnSockTlsDone = [this](TObject*) { TlsDone(); };
  data_->OnSockTimeOut = [this](TObject*) {
    if (tlsPending_) ftp_.FatalError(ftpeTlsData);
  };
  data_->TimeOutConnect = ftp_.TimeOutConnect;
  data_->SockStartTls(options);
  if (data_->SockError != 0) ftp_.FatalError(ftpeTlsData);
}

void TDataChannel::TlsDone() {
  if (!tlsPending_) return;
  tlsPending_ = false;
  // A server that refuses the transfer command may close a data connection it already
  // has (passive, or active where it connected at PORT) before it answers, and the
  // handshake, begun after the command, then fails.
  if (data_->SockError != 0 && AwaitReplyAfterFailure(ftpeTlsData)) return;
  if (data_->SockError != 0 || data_->TlsInfo.PeerFingerprint != ftp_.TlsInfo.PeerFingerprint) {
    // Not TLS (a server sending its data in clear), or another certificate than the
    // server's own: nothing of it is taken.
    ftp_.FatalError(ftpeTlsData);
    return;
  }
  transfer_.LocalFileHandle.SetBuffer(TFtpTransfer::kTlsFileBuffer);
  transfer_.Store().MaybeBegin();
}

bool TDataChannel::AwaitReplyAfterFailure(FtpError failure) {
  if (transfer_.State.PreliminaryReplySeen() || transfer_.State.FinalReplySeen()) return false;
  failure_ = failure;
  data_->SockClose();
  ftp_.Deadlines.Arm(TAwaited::FinalReply, ftp_.GuardTimes.FinalReply);
  return true;
}

void TDataChannel::Close() {
  data_->SockClose();
  listen_->SockClose();
}

void TDataChannel::Reset() {
  connecting_ = false;
  tlsPending_ = false;
  failure_ = ftpeNone;
  Close();
}
