#include "transport/FtpErrorCodes.h"

#include <array>

#include "platform/WinsockErrors.h"

namespace {

struct SocketErrorRow {
  std::uint16_t sockError;
  FtpError code;
};

constexpr SocketErrorRow kSocketErrorRows[] = {
    {10093, ftpeWinsockNotInitialized},
    {10050, ftpeNetworkDown},
    {10013, ftpeInvalidAddress},
    {10004, ftpeInternalError},
    {10014, ftpeInternalError},
    {10022, ftpeInternalError},
    {10036, ftpeInternalError},
    {10038, ftpeInternalError},
    {10040, ftpeInternalError},
    {10045, ftpeInternalError},
    {10047, ftpeInternalError},
    {10048, ftpeInternalError},
    {10056, ftpeInternalError},
    {10057, ftpeInternalError},
    {10058, ftpeInternalError},
    {10052, ftpeGeneralWinsockError},
    {10055, ftpeGeneralWinsockError},
    {10053, ftpeConnectionAborted},
    {10054, ftpeConnectionReset},
    {10060, ftpeTimeout},
    {10024, ftpeOutOfSockets},
    {10051, ftpeNetworkUnreachable},
    {10049, ftpeAddressNotAvailable},
    {10061, ftpeConnectionRefused},
    {11001, ftpeAddressResolution},
    {11002, ftpeAddressResolution},
    {11003, ftpeAddressResolution},
    {11004, ftpeAddressResolution},
    {10065, ftpeHostUnreachable},
    // The TLS session's failures.
    {platform::TLSE_SETUP, ftpeTlsHandshake},
    {platform::TLSE_HANDSHAKE_FAILED, ftpeTlsHandshake},
    {platform::TLSE_HANDSHAKE_CLOSED, ftpeTlsHandshake},
    {platform::TLSE_NOT_TLS, ftpeTlsHandshake},
    {platform::TLSE_CERT_UNTRUSTED, ftpeCertificateRejected},
    {platform::TLSE_HOST_MISMATCH, ftpeCertificateRejected},
    {platform::TLSE_PROTOCOL, ftpeConnectionLost},
};

constexpr std::array<const char*, kFtpErrorCount> kNames = {
    "ftpeNone",
    "ftpeWinsockNotInitialized",
    "ftpeNetworkDown",
    "ftpeInvalidAddress",
    "ftpeInternalError",
    "ftpeGeneralWinsockError",
    "ftpeConnectionAborted",
    "ftpeConnectionReset",
    "ftpeTimeout",
    "ftpeOutOfSockets",
    "ftpeNetworkUnreachable",
    "ftpeAddressNotAvailable",
    "ftpeConnectionRefused",
    "ftpeUnexpectedReply",
    "ftpeCancelled",
    "ftpeUnknownError",
    "ftpeAddressResolution",
    "ftpeConnectionLost",
    "ftpeHostUnreachable",
    "ftpeNoServer",
    "ftpeUnused20",
    "ftpeLocalFileOpen",
    "ftpeLocalFileWrite",
    "ftpeLocalFileRead",
    "ftpeNoRemoteFile",
    "ftpeUnused25",
    "ftpeNoGreeting",
    "ftpeLoginRefused",
    "ftpeDataConnection",
    "ftpeTlsNotOffered",
    "ftpeTlsDowngrade",
    "ftpeTlsHandshake",
    "ftpeCertificateRejected",
    "ftpeCertificateChanged",
    "ftpeTlsData",
    "ftpeDownloadIncomplete",
    "ftpeKnownServersUnreadable",
};

}  // namespace

FtpError FtpErrorFromSocketError(std::uint16_t sockError) {
  for (const auto& row : kSocketErrorRows) {
    if (row.sockError == sockError) return row.code;
  }
  return ftpeUnknownError;
}

const char* FtpErrorDescription(FtpError code) {
  switch (code) {
    case ftpeWinsockNotInitialized: return "Winsock not initialized";
    case ftpeNetworkDown: return "Network down";
    case ftpeInvalidAddress: return "Invalid address specified";
    case ftpeInternalError: return "Unexpected internal error in component";
    case ftpeGeneralWinsockError: return "General Winsock Error";
    case ftpeConnectionAborted: return "Connection aborted due to timeout or other failure";
    case ftpeConnectionReset: return "Connection reset by remote side";
    case ftpeTimeout: return "timeout";
    case ftpeOutOfSockets: return "Out of sockets";
    case ftpeNetworkUnreachable: return "Network unreachable";
    case ftpeAddressNotAvailable: return "Address not available";
    case ftpeConnectionRefused: return "Connection Refused";
    case ftpeAddressResolution: return "Address resolution error";
    case ftpeHostUnreachable: return "Host Unreachable";
    case ftpeUnknownError: return "Unknown Error";
    case ftpeTlsNotOffered: return "The server does not offer TLS";
    case ftpeTlsDowngrade: return "A server known to do TLS refused it";
    case ftpeTlsHandshake: return "TLS handshake failed";
    case ftpeCertificateRejected: return "Server certificate rejected";
    case ftpeCertificateChanged: return "Server certificate changed";
    case ftpeTlsData: return "TLS data connection failed";
    case ftpeDownloadIncomplete: return "Download incomplete";
    default: return "";
  }
}

const char* TlsErrorDescription(std::uint16_t sockError) {
  switch (sockError) {
    case platform::TLSE_SETUP: return "TLS session could not be set up";
    case platform::TLSE_HANDSHAKE_FAILED: return "TLS handshake failed";
    case platform::TLSE_HANDSHAKE_CLOSED: return "Connection closed during the TLS handshake";
    case platform::TLSE_NOT_TLS: return "Server did not answer in TLS";
    case platform::TLSE_CERT_UNTRUSTED: return "Server certificate not trusted";
    case platform::TLSE_HOST_MISMATCH: return "Server certificate is for another host";
    case platform::TLSE_PROTOCOL: return "TLS protocol error";
    default: return "";
  }
}

const char* FtpErrorName(FtpError code) {
  return code < kFtpErrorCount ? kNames[code] : "ftpeUnknown";
}
