// The encrypted session's login (explicit TLS): AUTH TLS after the greeting, the handshake
// of the control connection and the check of the server's certificate, PBSZ and PROT after
// the login. The TLS itself is the socket component's; this side speaks FTP. Each data
// connection's handshake is the data channel's (DataChannel.cpp).
//
// Certificates: one that verifies (trusted chain, the host name typed, within its dates) is
// taken; any other (self-signed, for another host, expired) must match the fingerprint
// remembered for that port under the name typed or the address connected to, or the owner
// is asked (OnFtpCertificate) and the answer pinned under both.
#include <algorithm>

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
      if (!TKnownServers(ftp_.KnownServersFile).Fingerprints(KnownServerNames(), ftp_.FtpPort).empty()) {
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

// The server as typed and the address connected to: a server is known under either.
std::vector<std::string> TFtpLogin::KnownServerNames() const {
  std::vector<std::string> names{ftp_.FtpServer};
  if (!ftp_.ServerAddress.empty() && ftp_.ServerAddress != ftp_.FtpServer) names.push_back(ftp_.ServerAddress);
  return names;
}

bool TFtpLogin::AcceptCertificate() {
  const TTlsInfo info = ftp_.TlsInfo;
  const TKnownServers known(ftp_.KnownServersFile);
  const std::vector<std::string> names = KnownServerNames();
  const std::vector<std::string> pinned = known.Fingerprints(names, ftp_.FtpPort);
  const bool pinnedHere = std::find(pinned.begin(), pinned.end(), info.PeerFingerprint) != pinned.end();
  const std::uint64_t serial = ftp_.Serial;
  if (!info.PeerVerified && !pinnedHere) {
    TFtpCertificateQuestion question;
    question.Host = ftp_.FtpServer;
    question.Port = ftp_.FtpPort;
    question.Fingerprint = info.PeerFingerprint;
    question.Problem = info.VerifyProblem;
    question.CertificateNames = info.PeerNameMatches ? std::string() : info.PeerNames;
    question.Expired = info.PeerExpired;
    question.PinnedFingerprint = pinned.empty() ? std::string() : pinned.front();
    bool trust = false;
    if (ftp_.OnFtpCertificate) ftp_.OnFtpCertificate(&ftp_, question, trust);
    if (serial != ftp_.Serial || !ftp_.Connected) return false;  // the connection ended meanwhile
    if (!trust) {
      ftp_.FatalError(pinned.empty() ? ftpeCertificateRejected : ftpeCertificateChanged);
      return false;
    }
  } else if (!info.PeerVerified && info.PeerExpired) {
    ftp_.Info(ftpiCertificateExpired, info.PeerFingerprint);
    if (serial != ftp_.Serial) return false;
  }
  // This server does TLS, with this certificate. Unremembered, a later refusal of TLS
  // would go unnoticed: the owner is told.
  if (!known.Remember(names, ftp_.FtpPort, info.PeerFingerprint) && !ftp_.KnownServersFile.empty()) {
    ftp_.Info(ftpiServerNotRemembered, ftp_.KnownServersFile);
    if (serial != ftp_.Serial) return false;
  }
  return true;
}
