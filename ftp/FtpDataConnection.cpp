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
#include "ftp/Ftp.h"
#include "ftp/PassiveReply.h"
#include "ftp/ReplyParsing.h"
#include "platform/AddressText.h"
#include "platform/WinsockErrors.h"

using namespace platform;

// At the connect: passive when asked for, or when automatic sees a router in the way.
void TVelaFtp::ChooseSessionDataMode() {
  EpsvRefused = false;
  PassiveSession = DataConnectionMode == dcmPassive;
  if (DataConnectionMode == dcmAutomatic && RouterBetween(SockLocalAddress(), ServerAddress)) {
    SwitchToPassive("router");
  }
}

void TVelaFtp::SwitchToPassive(const char* reason) {
  if (PassiveSession) return;
  PassiveSession = true;
  Info(ftpiPassiveMode, reason);
}

// After the reply to TYPE: PORT, or EPSV/PASV.
void TVelaFtp::OpenDataConnection(TransferKind kind) {
  if (PassiveSession) {
    SendPassiveCommand(kind);
    return;
  }
  DataSetup = TDataSetup::Port;
  SendCommand(PrepareDataPort(), TransferStatesOf(kind).Setup);
}

void TVelaFtp::SendPassiveCommand(TransferKind kind) {
  if (EpsvRefused && SockAddr.sin_family != AF_INET_VALUE) {
    // PASV can only name an IPv4 address: without EPSV there is no passive mode over IPv6.
    PassiveConnectFailed();
    return;
  }
  DataSetup = EpsvRefused ? TDataSetup::Pasv : TDataSetup::Epsv;
  SendCommand(EpsvRefused ? "PASV" : "EPSV", TransferStatesOf(kind).Setup);
}

void TVelaFtp::HandleDataSetupReply(TransferKind kind, const TFtpReply& Reply) {
  const int cls = Reply.Class;
  switch (DataSetup) {
    case TDataSetup::Port:
      if (cls == 2) {
        StartTransfer(kind);
      } else if (DataConnectionMode == dcmAutomatic && (cls == 4 || cls == 5)) {
        ListenSocket->SockClose();
        SwitchToPassive("refused");
        SendPassiveCommand(kind);
      } else {
        FatalError(ftpeUnexpectedReply);
      }
      return;
    case TDataSetup::Epsv: {
      std::uint16_t port = 0;
      if (Reply.Code == 229 && PortFromEpsvReply(Reply.Line, port)) {
        ConnectPassive(kind, port);
      } else if (cls == 4 || cls == 5) {
        EpsvRefused = true;  // for the rest of the session
        SendPassiveCommand(kind);
      } else {
        FatalError(ftpeUnexpectedReply);
      }
      return;
    }
    case TDataSetup::Pasv: {
      std::string named;
      std::uint16_t port = 0;
      if (Reply.Code != 227 || !AddressFromPasvReply(Reply.Line, named, port)) {
        FatalError(ftpeUnexpectedReply);
        return;
      }
      // Servers behind their own router name a private address, and a hostile one could
      // point the client at another host: the data connection goes to the server itself.
      if (!SameAddress(named, ServerAddress)) {
        const std::uint64_t serial = Serial;
        Info(ftpiPassiveAddress, named);
        if (serial != Serial) return;
      }
      ConnectPassive(kind, port);
      return;
    }
  }
}

// Automatic mode, active so far: a 425 or 426 to LIST, RETR or STOR before the data
// connection was made means the server could not reach this side. The same operation runs
// again in passive mode; the local file was not touched, since no data came.
bool TVelaFtp::RetryPassively(TransferKind kind, const TFtpReply& Reply) {
  if (DataConnectionMode != dcmAutomatic || PassiveSession || DataSetup != TDataSetup::Port ||
      Transfer.DataAccepted() || Transfer.Stopped()) {
    return false;
  }
  if (Reply.Code != 425 && Reply.Code != 426) return false;
  CloseDataSockets();
  Transfer.Begin(kind);
  SwitchToPassive("refused");
  SendPassiveCommand(kind);
  return true;
}

void TVelaFtp::ConnectPassive(TransferKind kind, std::uint16_t port) {
  if (Transfer.Stopped()) {
    EndTransferStoppedBeforeStart();
    return;
  }
  DataSocket->SockClose();
  DataSocket->OnSockRead = nullptr;
  DataSocket->OnSockClose = nullptr;
  DataSocket->OnSockWrite = nullptr;
  DataSocket->OnSockConnect = [this, kind](TObject*) { PassiveConnected(kind); };
  DataSocket->OnSockTimeOut = [this](TObject*) { PassiveConnectFailed(); };
  DataSocket->TimeOutConnect = TimeOutConnect;
  DataSocket->SockAddr = SockAddr;  // the server's own address, of the control connection
  DataSocket->SockSetPort(port);
  DataSocket->SockOpen();
  if (DataSocket->SockError == 0) DataSocket->SockConnect();
  if (DataSocket->SockError != 0) {
    PassiveConnectFailed();
    return;
  }
  PassiveConnecting = true;
}

void TVelaFtp::PassiveConnected(TransferKind kind) {
  if (!PassiveConnecting) return;
  PassiveConnecting = false;
  if (DataSocket->SockError != 0) {
    PassiveConnectFailed();
    return;
  }
  // Under PROT P, StartTransfer begins the handshake once the transfer command has gone
  // (after REST's reply, when REST comes first); until it is done, nothing is sent there.
  DataTlsPending = ProtectData;
  DataTlsFailed = false;
  StartTransfer(kind);
}

// The server named a port that refused the connection, or never answered within the
// connect time, or refused EPSV over IPv6: the operation fails, and the connection stays
// usable (nothing was sent after EPSV or PASV, so no reply is owed).
void TVelaFtp::PassiveConnectFailed() {
  PassiveConnecting = false;
  if (Transfer.Stopped()) {
    EndTransferStoppedBeforeStart();
    return;
  }
  DropTransfer();
  ControlState = csIdle;
  Success = false;
  Transfer.Finish();
  const std::uint64_t serial = Serial;
  ReportError(ftpeDataConnection);
  if (serial != Serial) return;
  PostDone();
}

std::string TVelaFtp::PrepareDataPort() {
  const std::string local = SockLocalAddress();
  ListenSocket->SockClose();  // a listener left from an earlier transfer is never reused
  ListenSocket->ServerAddress = local;
  ListenSocket->SockSetAddress(local);
  ListenSocket->SockSetPort(0);
  ListenSocket->SockOpen();
  // Some servers connect while they answer PORT, before the handlers are installed: the
  // connection is remembered and taken once they are.
  AcceptWaiting = false;
  ListenSocket->OnSockAccept = [this](TObject* s) { PendingAccept(s); };
  ListenSocket->SockListen();
  const std::string address = ListenSocket->SockLocalAddress();
  const std::uint16_t port = ListenSocket->SockLocalPort();
  return DataPortCommand(address, port);
}

void TVelaFtp::PendingAccept(TObject*) {
  AcceptWaiting = true;
}

// Takes the waiting connection into DataSocket. Only the server may connect: a connection
// from any other address is closed at once and the listener keeps waiting.
bool TVelaFtp::TakeDataConnection() {
  DataSocket->SockAccept(*ListenSocket);
  if (DataSocket->SockError == WSAEWOULDBLOCK) return false;  // nothing was waiting
  if (DataSocket->SockError != 0) {
    if (!Transfer.Stopped()) FatalError(ftpeDataConnection);
    return false;
  }
  if (!SameHost(DataSocket->SockAddr, SockAddr)) {
    DataSocket->SockClose();
    return false;
  }
  Transfer.DataTaken();
  DeadlineDataConnect = 0;
  return true;
}

