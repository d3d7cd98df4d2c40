// The encrypted session (explicit TLS): AUTH TLS after the greeting, the handshake of the
// control connection and the check of the server's certificate, PBSZ and PROT after the
// login, and a TLS handshake on every data connection that resumes the control
// connection's session. The TLS itself is the socket component's; this side speaks FTP.
//
// Certificates: one that verifies (trusted chain, the host name typed, within its dates) is
// taken; any other (self-signed, for another host, expired) must match the fingerprint
// pinned for that port under the name typed, or the owner is asked (OnFtpCertificate) and
// the answer pinned for that name (the address connected to is recorded as one that did
// TLS, for the downgrade refusal alone).
#include <optional>

#include "ftp/Ftp.h"
#include "session/KnownServers.h"
#include "ftp/ReplyParsing.h"
#include "platform/AddressText.h"

using namespace platform;

TTlsClientOptions TVelaFtp::TlsOptions() const {
  TTlsClientOptions options;
  // An address typed in brackets or with a zone is still an address: no SNI, and the
  // certificate must carry the address itself.
  const std::string address = CanonicalAddressText(FtpServer);
  options.ServerName = address.empty() ? FtpServer : address.substr(0, address.find('%'));
  // The decision is this component's: it sees the outcome in TlsInfo.
  options.VerifyPeer = false;
  options.CaFile = TlsCaFile;
  return options;
}

// Replies to AUTH TLS, PBSZ and PROT.
void TVelaFtp::HandleTlsReply(const std::string& Line) {
  const char cls = Line[0];
  switch (ControlState) {
    case csAwaitAuthTls:
      if (Line.compare(0, 3, "234") == 0) {
        StartControlTls();
        return;
      }
      if (TlsMode == tlsmRequire) {
        FatalError(ftpeTlsNotOffered);  // nothing of the login goes in clear
        return;
      }
      if (const TKnownServers known(KnownServersFile); known.Unreadable()) {
        // Whether it did TLS before cannot be told: the login does not go in clear.
        FatalErrorWithText(ftpeKnownServersUnreadable, KnownServersFile);
        return;
      } else if (known.DidTls(KnownServerNames(), FtpPort)) {
        // It did TLS before: someone in between may be taking the encryption away.
        FatalError(ftpeTlsDowngrade);
        return;
      }
      Info(ftpiTlsRefused, "AUTH");
      SendUser();
      return;
    case csAwaitPbsz:
      if (cls == '2') {
        SendCommand("PROT P", csAwaitProt);
      } else {
        DataWithoutProtection();
      }
      return;
    case csAwaitProt:
      if (cls == '2') {
        ProtectData = true;
        SendCommand("SYST", csAwaitSyst);
      } else {
        DataWithoutProtection();
      }
      return;
    default:
      return;
  }
}

void TVelaFtp::DataWithoutProtection() {
  if (TlsMode == tlsmRequire) {
    FatalError(ftpeTlsData);
    return;
  }
  ProtectData = false;
  const std::uint64_t serial = Serial;
  Info(ftpiTlsRefused, "PROT");
  if (serial != Serial) return;
  SendCommand("SYST", csAwaitSyst);
}

void TVelaFtp::StartControlTls() {
  ControlTlsPending = true;
  // Anything the server sent in clear after its 234 is dropped, never read as a reply.
  ControlLines.Clear();
  OnSockTlsDone = [this](TObject*) { ControlTlsDone(); };
  SockStartTls(TlsOptions());
  if (SockError != 0) {
    ControlTlsPending = false;
    FatalError(FtpErrorFromSocketError(SockError));
  }
}

// The handshake ended (its countdown, TimeOutConnect, ends it as a time-out otherwise).
void TVelaFtp::ControlTlsDone() {
  if (!ControlTlsPending) return;
  ControlTlsPending = false;
  if (SockError != 0) {
    FatalError(FtpErrorFromSocketError(SockError));
    return;
  }
  if (!AcceptCertificate()) return;
  const std::uint64_t serial = Serial;
  Info(ftpiTlsSession, TlsInfo.Version + " " + TlsInfo.Cipher);
  if (serial != Serial) return;
  SendUser();
}

// The server as typed and the address connected to: either tells that it did TLS before.
std::vector<std::string> TVelaFtp::KnownServerNames() const {
  std::vector<std::string> names{FtpServer};
  if (!ServerAddress.empty() && ServerAddress != FtpServer) names.push_back(ServerAddress);
  return names;
}

bool TVelaFtp::AcceptCertificate() {
  const TTlsInfo info = TlsInfo;
  const TKnownServers known(KnownServersFile);
  // A pin answers for the name typed alone: not for another name of the same address.
  const std::optional<std::string> pinned = known.Find(FtpServer, FtpPort);
  const bool pinnedHere = pinned == info.PeerFingerprint;
  const std::uint64_t serial = Serial;
  if (!info.PeerVerified && !pinnedHere) {
    TFtpCertificateQuestion question;
    question.Host = FtpServer;
    question.Port = FtpPort;
    question.Fingerprint = info.PeerFingerprint;
    question.Problem = info.VerifyProblem;
    question.CertificateNames = info.PeerNameMatches ? std::string() : info.PeerNames;
    question.Expired = info.PeerExpired;
    question.PinnedFingerprint = pinned.value_or("");
    bool trust = false;
    if (OnFtpCertificate) OnFtpCertificate(this, question, trust);
    if (serial != Serial || !Connected) return false;  // the connection ended meanwhile
    if (!trust) {
      FatalError(pinned ? ftpeCertificateChanged : ftpeCertificateRejected);
      return false;
    }
  } else if (!info.PeerVerified && info.PeerExpired) {
    Info(ftpiCertificateExpired, info.PeerFingerprint);
    if (serial != Serial) return false;
  }
  // This server does TLS, with this certificate. Unremembered, a later refusal of TLS
  // would go unnoticed: the owner is told. The file's lock is never waited for here.
  if (!KnownServersFile.empty()) {
    const std::string address = ServerAddress != FtpServer ? ServerAddress : std::string();
    ServerMemory.Remember(known, FtpServer, address, FtpPort, info.PeerFingerprint,
                          [this] { Info(ftpiServerNotRemembered, KnownServersFile); });
    if (serial != Serial) return false;
  }
  return true;
}

// A data connection under PROT P: a TLS client handshake resuming the control session,
// with the certificate the control connection showed.
void TVelaFtp::StartDataTls() {
  DataTlsPending = true;
  TTlsClientOptions options = TlsOptions();
  options.Session = SockTlsSession();
  DataSocket->OnSockTlsDone = [this](TObject*) { DataTlsDone(); };
  DataSocket->OnSockTimeOut = [this](TObject*) {
    if (DataTlsPending) FatalError(ftpeTlsData);
  };
  DataSocket->TimeOutConnect = TimeOutConnect;
  DataSocket->SockStartTls(options);
  if (DataSocket->SockError != 0) FatalError(ftpeTlsData);
}

void TVelaFtp::DataTlsDone() {
  if (!DataTlsPending) return;
  DataTlsPending = false;
  if (DataSocket->SockError != 0 && AwaitReplyAfterDataTlsFailure()) return;
  if (DataSocket->SockError != 0 || DataSocket->TlsInfo.PeerFingerprint != TlsInfo.PeerFingerprint) {
    // Not TLS (a server sending its data in clear), or another certificate than the
    // server's own: nothing of it is taken.
    FatalError(ftpeTlsData);
    return;
  }
  LocalFileHandle.SetBuffer(kTlsFileBuffer);
  MaybeBeginStore();
}

// A server that refuses the transfer command may close a data connection it already has
// (passive, or active where it connected at PORT) before it answers, and the handshake,
// begun after the command, then fails. Until the reply says which it was, the failure
// waits: a refusal ends the operation as refused (the connection stays), a 1xx or 2xx makes
// it the data connection's failure.
bool TVelaFtp::AwaitReplyAfterDataTlsFailure() {
  if (Transfer.PreliminaryReplySeen() || Transfer.FinalReplySeen()) return false;
  DataTlsFailed = true;
  DataSocket->SockClose();
  ArmFinalReplyWait();
  return true;
}

// A store sends once the server takes the file and the data connection is ready.
void TVelaFtp::MaybeBeginStore() {
  if (Transfer.Storing() && !Store.Started && Store.ServerReady && !DataTlsPending) BeginStore();
}
