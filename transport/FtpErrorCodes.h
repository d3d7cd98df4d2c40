// The component's error codes, and the table that turns a socket error number into one of
// them with its English description.
#pragma once

#include <cstdint>

enum FtpError : std::uint8_t {
  ftpeNone = 0,
  ftpeWinsockNotInitialized = 1,
  ftpeNetworkDown = 2,
  ftpeInvalidAddress = 3,
  ftpeInternalError = 4,
  ftpeGeneralWinsockError = 5,
  ftpeConnectionAborted = 6,
  ftpeConnectionReset = 7,
  ftpeTimeout = 8,
  ftpeOutOfSockets = 9,
  ftpeNetworkUnreachable = 10,
  ftpeAddressNotAvailable = 11,
  ftpeConnectionRefused = 12,
  ftpeUnexpectedReply = 13,
  ftpeCancelled = 14,
  ftpeUnknownError = 15,
  ftpeAddressResolution = 16,
  ftpeConnectionLost = 17,
  ftpeHostUnreachable = 18,
  ftpeNoServer = 19,
  ftpeUnused20 = 20,  // exists, never raised
  ftpeLocalFileOpen = 21,
  ftpeLocalFileWrite = 22,
  ftpeLocalFileRead = 23,
  ftpeNoRemoteFile = 24,
  ftpeUnused25 = 25,  // exists, never raised
  ftpeNoGreeting = 26,
  ftpeLoginRefused = 27,
  ftpeDataConnection = 28,
  // Beyond the original codes: the encrypted session (explicit TLS).
  ftpeTlsNotOffered = 29,        // TLS was required and the server refused AUTH TLS
  ftpeTlsDowngrade = 30,         // a server known to do TLS refused it this time
  ftpeTlsHandshake = 31,         // the control connection's TLS handshake failed
  ftpeCertificateRejected = 32,  // an unverified certificate, not trusted by the user
  ftpeCertificateChanged = 33,   // a pinned server showed another certificate, refused
  ftpeTlsData = 34,              // a data connection did not start TLS as agreed
  // A download whose data connection ended before the size known for the file (or, with
  // none known, a TLS data connection that ended without close_notify).
  ftpeDownloadIncomplete = 35,
  // The server refused TLS and the file of known servers cannot be read: whether it did
  // TLS before is not known, so the session does not go on in clear (automatic TLS).
  ftpeKnownServersUnreadable = 36,
};
constexpr int kFtpErrorCount = 37;

// Socket error number (non-zero) to the component's code; unknown numbers give
// ftpeUnknownError.
FtpError FtpErrorFromSocketError(std::uint16_t sockError);

// English description of a code of the mapping ("Connection Refused", ...); codes outside
// the mapping have an empty description.
const char* FtpErrorDescription(FtpError code);

// English description of a TLS failure number of the socket (TLSE_NOT_TLS, ...); other
// numbers have an empty description.
const char* TlsErrorDescription(std::uint16_t sockError);

// Identifier of a code ("ftpeTimeout").
const char* FtpErrorName(FtpError code);
