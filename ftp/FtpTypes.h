// The component's enumerations and event types: the codes that its events carry, the
// server dialects and the transfer types, with their fixed numeric values.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "transport/Component.h"
#include "transport/FtpErrorCodes.h"

enum TFTPServerType : std::uint8_t {
  ftpstDefault = 0,
  ftpstAutoDetect = 1,
  ftpstUNIX = 2,
  ftpstULTRIX = 3,
  ftpstU5000 = 4,
  ftpstSINTFTPD = 5,
  ftpstVmsMultinet = 6,
  ftpstVmsUcx = 7,
  ftpstMVS = 8,
  ftpstMacFtpd = 9,
  ftpstClix = 10,
  ftpstQVT = 11,
  ftpstNCSA = 12,
  ftpstChameleon = 13,
  ftpstVM = 14,
  ftpstVMVPS = 15,
};
constexpr int kServerTypeCount = 16;
const char* ServerTypeName(TFTPServerType t);
// Parses a name such as "ftpstVmsUcx"; false when unknown.
bool ServerTypeFromName(const std::string& name, TFTPServerType& out);

enum TTransferType : std::uint8_t {
  BinaryTransfer = 0,
  AsciiTransfer = 1,
};

enum FtpInfo : std::uint8_t {
  ftpiConnected = 0,
  ftpiDisconnected = 1,
  ftpiResolvingHost = 2,
  ftpiHostResolved = 3,
  ftpiReceived = 4,
  ftpiSent = 5,
  ftpiBusy = 6,
  ftpiProgress = 7,
  ftpiUnused8 = 8,  // exists, never produced
  ftpiTransferDone = 9,
  ftpiListingReady = 10,
  ftpiLoggedIn = 11,
  ftpiTransferSize = 12,
  ftpiCommandFailed = 13,
  ftpiListingLine = 14,
  // Beyond the original codes: passive mode.
  ftpiPassiveMode = 15,     // the session uses passive mode from now on; addinfo says why
  ftpiPassiveAddress = 16,  // a PASV reply named another address than the server's (addinfo)
  // The encrypted session.
  ftpiTlsSession = 17,      // the control connection is encrypted: "version cipher"
  ftpiTlsRefused = 18,      // no encryption: "AUTH" (the session) or "PROT" (its data)
  ftpiCertificateExpired = 19,   // a pinned certificate past its end date was taken (the pin is the trust)
  ftpiServerNotRemembered = 20,  // the file of known servers could not be changed (addinfo: its path)
  ftpiResumed = 21,         // the download goes on from its earlier part: its size in bytes
  // Local files.
  ftpiLocalFileInPlace = 22,  // the download writes the local file itself (addinfo): cut short, it loses its content
  ftpiLocalFileChanged = 23,  // the file sent (addinfo) changed while it was sent
};
const char* FtpInfoName(FtpInfo i);

// How data connections are made: the server connects to the client (active, PORT), the
// client connects to the server (passive, EPSV or PASV), or active until the network shows
// it cannot work (automatic).
enum TDataConnectionMode : std::uint8_t {
  dcmActive = 0,
  dcmPassive = 1,
  dcmAutomatic = 2,
};

// Whether the session is encrypted (explicit TLS): not at all (the plain protocol), when
// the server offers it (auto), or never without it (require).
enum TTlsMode : std::uint8_t {
  tlsmOff = 0,
  tlsmAuto = 1,
  tlsmRequire = 2,
};

// An unverified server certificate that the owner is asked to trust: the host and port as
// typed, its SHA-256 fingerprint, each reason it did not verify, and, for a server pinned
// before, the fingerprint that was pinned (the certificate changed).
struct TFtpCertificateQuestion {
  std::string Host;
  std::uint16_t Port = 0;
  std::string Fingerprint;
  std::string Problem;            // the chain's, as the TLS layer words it; empty: a trusted authority signed it
  std::string CertificateNames;   // the names it carries when none is Host; empty when it names Host
  bool Expired = false;           // past its end date
  std::string PinnedFingerprint;  // empty: never pinned
};

enum TFtpInfoNeeded : std::uint8_t {
  ftpnServer = 0,
  ftpnUserName = 1,
  ftpnPassword = 2,
  ftpnAccount = 3,
};
const char* FtpInfoNeededName(TFtpInfoNeeded n);

using TFtpInfoEvent = std::function<void(TObject* Sender, FtpInfo info, const std::string& addinfo)>;
// Sets `trust` to accept the certificate (it is then pinned for that host and port).
using TFtpCertificateEvent =
    std::function<void(TObject* Sender, const TFtpCertificateQuestion& question, bool& trust)>;
using TFtpErrorEvent = std::function<void(TObject* Sender, FtpError error, std::string addinfo)>;
using TFtpInfoNeededEvent = std::function<void(TObject* Sender, TFtpInfoNeeded need, std::string& value)>;
