// The encrypted session's login (explicit TLS): AUTH TLS after the greeting, the handshake
// of the control connection and the check of the server's certificate, PBSZ and PROT after
// the login. The TLS itself is the socket component's; this side speaks FTP. Each data
// connection's handshake is the data channel's (DataChannel.cpp).
//
// Certificates: one that verifies (trusted chain, the host name typed, within its dates) is
// taken; any other (self-signed, for another host, expired) must match the fingerprint
// pinned for that port under the name typed, or the owner is asked (OnFtpCertificate) and
// the answer pinned for that name (the address connected to is recorded as one that did
// TLS, for the downgrade refusal alone).
#include <optional>

#include "ftp/Ftp.h"
#include "ftp/FtpLogin.h"
#include "platform/AddressText.h"
#include "session/KnownServers.h"

using namespace platform;

TTlsClientOptions TFtpLogin::TlsOptions() const {
  TTlsClientOptions options;
  // An address typed in brackets or with a zone is still an address: no SNI, and the
  // certificate must carry the address itself.
  const std::string address = CanonicalAddressText(ftp_.FtpServer);
  options.ServerName = address.empty() ? ftp_.FtpServer : address.substr(0, address.find('%'));
  // The decision is this component's: it sees the outcome in TlsInfo.
  options.VerifyPeer = false;
  options.CaFile = ftp_.TlsCaFile;
  return options;
}

// Replies to AUTH TLS, PBSZ and PROT.
void TFtpLogin::TakeTlsReply(const TFtpReply& Reply) {
  switch (ftp_.ControlState) {
    case csAwaitAuthTls:
      if (Reply.Code == 234) {
        StartControlTls();
        return;
      }
      if (ftp_.TlsMode == tlsmRequire) {
        ftp_.FatalError(ftpeTlsNotOffered);  // nothing of the login goes in clear
        return;
      }
      if (const TKnownServers known(ftp_.KnownServersFile); known.Unreadable()) {
        // Whether it did TLS before cannot be told: the login does not go in clear.
        ftp_.FatalErrorWithText(ftpeKnownServersUnreadable, ftp_.KnownServersFile);
        return;
      } else if (known.DidTls(KnownServerNames(), ftp_.FtpPort)) {
        // It did TLS before: someone in between may be taking the encryption away.
        ftp_.FatalError(ftpeTlsDowngrade);
        return;
      }
      ftp_.Info(ftpiTlsRefused, "AUTH");
      SendUser();
      return;
    case csAwaitPbsz:
      if (Reply.Class == 2) {
        ftp_.SendCommand("PROT P", csAwaitProt);
      } else {
        DataWithoutProtection();
      }
      return;
    case csAwaitProt:
      if (Reply.Class == 2) {
        ftp_.Features.ProtectData = true;
        ftp_.SendCommand("SYST", csAwaitSyst);
      } else {
        DataWithoutProtection();
      }
      return;
    default:
      return;  // not a state of the encrypted login
  }
}

void TFtpLogin::DataWithoutProtection() {
  if (ftp_.TlsMode == tlsmRequire) {
    ftp_.FatalError(ftpeTlsData);
    return;
  }
  ftp_.Features.ProtectData = false;
  const std::uint64_t serial = ftp_.Serial;
  ftp_.Info(ftpiTlsRefused, "PROT");
  if (serial != ftp_.Serial) return;
  ftp_.SendCommand("SYST", csAwaitSyst);
}

void TFtpLogin::StartControlTls() {
  tlsPending_ = true;
  // Anything the server sent in clear after its 234 is dropped, never read as a reply.
  ftp_.ControlLines.Clear();
  ftp_.OnSockTlsDone = [this](TObject*) { ControlTlsDone(); };
  ftp_.SockStartTls(TlsOptions());
  if (ftp_.SockError != 0) {
    tlsPending_ = false;
    ftp_.FatalError(FtpErrorFromSocketError(ftp_.SockError));
  }
}

// The handshake ended (its countdown, TimeOutConnect, ends it as a time-out otherwise).
void TFtpLogin::ControlTlsDone() {
  if (!tlsPending_) return;
  tlsPending_ = false;
  if (ftp_.SockError != 0) {
    ftp_.FatalError(FtpErrorFromSocketError(ftp_.SockError));
    return;
  }
  if (!AcceptCertificate()) return;
  const std::uint64_t serial = ftp_.Serial;
  ftp_.Info(ftpiTlsSession, ftp_.TlsInfo.Version + " " + ftp_.TlsInfo.Cipher);
  if (serial != ftp_.Serial) return;
  SendUser();
}

// The server as typed and the address connected to: either tells that it did TLS before.
std::vector<std::string> TFtpLogin::KnownServerNames() const {
  std::vector<std::string> names{ftp_.FtpServer};
  if (!ftp_.ServerAddress.empty() && ftp_.ServerAddress != ftp_.FtpServer) names.push_back(ftp_.ServerAddress);
  return names;
}

bool TFtpLogin::AcceptCertificate() {
  const TTlsInfo info = ftp_.TlsInfo;
  const TKnownServers known(ftp_.KnownServersFile);
  // A pin answers for the name typed alone: not for another name of the same address.
  const std::optional<std::string> pinned = known.Find(ftp_.FtpServer, ftp_.FtpPort);
  const bool pinnedHere = pinned == info.PeerFingerprint;
  const std::uint64_t serial = ftp_.Serial;
  if (!info.PeerVerified && !pinnedHere) {
    TFtpCertificateQuestion question;
    question.Host = ftp_.FtpServer;
    question.Port = ftp_.FtpPort;
    question.Fingerprint = info.PeerFingerprint;
    question.Problem = info.VerifyProblem;
    question.CertificateNames = info.PeerNameMatches ? std::string() : info.PeerNames;
    question.Expired = info.PeerExpired;
    question.PinnedFingerprint = pinned.value_or("");
    bool trust = false;
    if (ftp_.OnFtpCertificate) ftp_.OnFtpCertificate(&ftp_, question, trust);
    if (serial != ftp_.Serial || !ftp_.Connected) return false;  // the connection ended meanwhile
    if (!trust) {
      ftp_.FatalError(pinned ? ftpeCertificateChanged : ftpeCertificateRejected);
      return false;
    }
  } else if (!info.PeerVerified && info.PeerExpired) {
    ftp_.Info(ftpiCertificateExpired, info.PeerFingerprint);
    if (serial != ftp_.Serial) return false;
  }
  // This server does TLS, with this certificate. Unremembered, a later refusal of TLS
  // would go unnoticed: the owner is told. The file's lock is never waited for here.
  if (!ftp_.KnownServersFile.empty()) {
    const std::string address = ftp_.ServerAddress != ftp_.FtpServer ? ftp_.ServerAddress : std::string();
    serverMemory_.Remember(known, ftp_.FtpServer, address, ftp_.FtpPort, info.PeerFingerprint,
                           [this] { ftp_.Info(ftpiServerNotRemembered, ftp_.KnownServersFile); });
    if (serial != ftp_.Serial) return false;
  }
  return true;
}
