#include "sftp/SftpTypes.h"

#include <iterator>

namespace {

constexpr const char* kErrorNames[] = {
    "sftpeHandshake",    "sftpeHostKeyUnknown", "sftpeHostKeyChanged", "sftpeKnownHostsUnreadable",
    "sftpeLoginRefused", "sftpeNoSftp",         "sftpeProtocol",
};
static_assert(std::size(kErrorNames) == kSftpErrorEnd - kSftpCodeBase);

constexpr const char* kInfoNames[] = {"sftpiHostKey", "sftpiHostKeyAdded", "sftpiLoggedInWith", "sftpiNotRemembered"};
static_assert(std::size(kInfoNames) == kSftpInfoEnd - kSftpCodeBase);

}  // namespace

const char* SessionErrorName(int code) {
  if (code >= kSftpCodeBase && code < kSftpErrorEnd) return kErrorNames[code - kSftpCodeBase];
  return FtpErrorName(static_cast<FtpError>(code));
}

const char* SessionInfoName(int code) {
  if (code >= kSftpCodeBase && code < kSftpInfoEnd) return kInfoNames[code - kSftpCodeBase];
  return FtpInfoName(static_cast<FtpInfo>(code));
}

const char* SessionInfoNeededName(int code) {
  if (code == sftpnPassphrase) return "sftpnPassphrase";
  return FtpInfoNeededName(static_cast<TFtpInfoNeeded>(code));
}
