#include "ftp/FtpTypes.h"

#include <iterator>

namespace {

// Each table is indexed by the enumeration's value; the size checks catch a value added to
// the enumeration without its name.
constexpr const char* kServerTypeNames[] = {
    "ftpstDefault",
    "ftpstAutoDetect",
    "ftpstUNIX",
    "ftpstULTRIX",
    "ftpstU5000",
    "ftpstSINTFTPD",
    "ftpstVmsMultinet",
    "ftpstVmsUcx",
    "ftpstMVS",
    "ftpstMacFtpd",
    "ftpstClix",
    "ftpstQVT",
    "ftpstNCSA",
    "ftpstChameleon",
    "ftpstVM",
    "ftpstVMVPS",
};
static_assert(std::size(kServerTypeNames) == kServerTypeCount);
static_assert(ftpstVMVPS + 1 == kServerTypeCount);

constexpr const char* kFtpInfoNames[] = {
    "ftpiConnected",
    "ftpiDisconnected",
    "ftpiResolvingHost",
    "ftpiHostResolved",
    "ftpiReceived",
    "ftpiSent",
    "ftpiBusy",
    "ftpiProgress",
    "ftpiUnused8",
    "ftpiTransferDone",
    "ftpiListingReady",
    "ftpiLoggedIn",
    "ftpiTransferSize",
    "ftpiCommandFailed",
    "ftpiListingLine",
    "ftpiPassiveMode",
    "ftpiPassiveAddress",
    "ftpiTlsSession",
    "ftpiTlsRefused",
    "ftpiCertificateExpired",
    "ftpiServerNotRemembered",
    "ftpiResumed",
    "ftpiLocalFileInPlace",
    "ftpiLocalFileChanged",
};
constexpr int kFtpInfoCount = ftpiLocalFileChanged + 1;
static_assert(std::size(kFtpInfoNames) == kFtpInfoCount);

constexpr const char* kFtpInfoNeededNames[] = {
    "ftpnServer",
    "ftpnUserName",
    "ftpnPassword",
    "ftpnAccount",
};
constexpr int kFtpInfoNeededCount = ftpnAccount + 1;
static_assert(std::size(kFtpInfoNeededNames) == kFtpInfoNeededCount);

}  // namespace

const char* ServerTypeName(TFTPServerType t) {
  return t < kServerTypeCount ? kServerTypeNames[t] : "ftpstUnknown";
}

bool ServerTypeFromName(const std::string& name, TFTPServerType& out) {
  for (int i = 0; i < kServerTypeCount; ++i) {
    if (name == kServerTypeNames[i]) {
      out = static_cast<TFTPServerType>(i);
      return true;
    }
  }
  return false;
}

const char* FtpInfoName(FtpInfo i) {
  return i < kFtpInfoCount ? kFtpInfoNames[i] : "ftpiUnknown";
}

const char* FtpInfoNeededName(TFtpInfoNeeded n) {
  return n < kFtpInfoNeededCount ? kFtpInfoNeededNames[n] : "ftpnUnknown";
}
