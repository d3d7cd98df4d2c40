// Error numbers of the Windows Sockets interface (and the socket component's own TLS
// numbers beyond them), and the translation of POSIX errno and getaddrinfo results into
// them. Every number stored in SockError is defined here.
#pragma once

#include <cstdint>

namespace platform {

enum WinsockError : std::uint16_t {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEDESTADDRREQ = 10039,
  WSAEMSGSIZE = 10040,
  WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042,
  WSAEPROTONOSUPPORT = 10043,
  WSAESOCKTNOSUPPORT = 10044,
  WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSANOTINITIALISED = 10093,
  WSASYSCALLFAILURE = 10107,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,

  // Beyond the Windows Sockets interface: failures of the socket component's TLS client
  // session, numbered apart from every Windows Sockets number.
  TLSE_SETUP = 12101,              // OpenSSL could not set the session up
  TLSE_HANDSHAKE_FAILED = 12102,   // the peer refused the handshake (an alert, no common ground)
  TLSE_HANDSHAKE_CLOSED = 12103,   // the peer closed the connection during the handshake
  TLSE_NOT_TLS = 12104,            // the peer answered something that is not TLS
  TLSE_CERT_UNTRUSTED = 12105,     // the certificate is not trusted (verification on)
  TLSE_HOST_MISMATCH = 12106,      // the certificate is trusted but names another host
  TLSE_PROTOCOL = 12107,           // a TLS protocol error after the handshake
};

// errno to Windows Sockets number; 0 stays 0. EINPROGRESS maps to WSAEWOULDBLOCK (a
// connect under way); an errno without a counterpart maps to 10107 (system call failure),
// which the component reports as an unknown error.
std::uint16_t WinsockErrorFromErrno(int err);
// getaddrinfo result (EAI_*) to 11001..11004; 0 stays 0.
std::uint16_t WinsockErrorFromLookup(int gaiResult);

}  // namespace platform
