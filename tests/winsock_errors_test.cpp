// Translation of errno and getaddrinfo results into Windows Sockets numbers.
#include "platform/WinsockErrors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace platform {
namespace {

struct Row {
  int from;
  const char* name;
  int expected;
};

TEST(WinsockErrorsTest, ErrnoMapsToSocketNumbers) {
  const Row rows[] = {
      {0, "none", 0},
      {ECONNREFUSED, "ECONNREFUSED", 10061},
      {ETIMEDOUT, "ETIMEDOUT", 10060},
      {ECONNRESET, "ECONNRESET", 10054},
      {EPIPE, "EPIPE", 10054},
      {ECONNABORTED, "ECONNABORTED", 10053},
      {EHOSTUNREACH, "EHOSTUNREACH", 10065},
      {ENETUNREACH, "ENETUNREACH", 10051},
      {ENETDOWN, "ENETDOWN", 10050},
      {ENETRESET, "ENETRESET", 10052},
      {EADDRNOTAVAIL, "EADDRNOTAVAIL", 10049},
      {EADDRINUSE, "EADDRINUSE", 10048},
      {EAGAIN, "EAGAIN", 10035},
      {EWOULDBLOCK, "EWOULDBLOCK", 10035},
      {EINPROGRESS, "EINPROGRESS", 10035},
      {EALREADY, "EALREADY", 10037},
      {EMFILE, "EMFILE", 10024},
      {ENFILE, "ENFILE", 10024},
      {EACCES, "EACCES", 10013},
      {EPERM, "EPERM", 10013},
      {ENOBUFS, "ENOBUFS", 10055},
      {ENOMEM, "ENOMEM", 10055},
      {EINVAL, "EINVAL", 10022},
      {ENOTCONN, "ENOTCONN", 10057},
      {EISCONN, "EISCONN", 10056},
      {EBADF, "EBADF", 10038},
      {ENOTSOCK, "ENOTSOCK", 10038},
      {EFAULT, "EFAULT", 10014},
      {EINTR, "EINTR", 10004},
      {EMSGSIZE, "EMSGSIZE", 10040},
      {EOPNOTSUPP, "EOPNOTSUPP", 10045},
      {EAFNOSUPPORT, "EAFNOSUPPORT", 10047},
      {ESHUTDOWN, "ESHUTDOWN", 10058},
      {EHOSTDOWN, "EHOSTDOWN", 10064},
      {ENAMETOOLONG, "ENAMETOOLONG", 10063},
      {ENOENT, "ENOENT (no counterpart)", 10107},
      {EIO, "EIO (no counterpart)", 10107},
      {ENOSPC, "ENOSPC (no counterpart)", 10107},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WinsockErrorFromErrno(row.from), row.expected);
  }
}

TEST(WinsockErrorsTest, LookupResultsMapToHostErrors) {
  const Row rows[] = {
      {0, "found", 0},
      {EAI_NONAME, "EAI_NONAME", 11001},
      {EAI_AGAIN, "EAI_AGAIN", 11002},
      {EAI_FAIL, "EAI_FAIL", 11003},
      {EAI_NODATA, "EAI_NODATA", 11004},
      {EAI_ADDRFAMILY, "EAI_ADDRFAMILY", 11004},
      {EAI_MEMORY, "EAI_MEMORY", 11003},
      {EAI_SYSTEM, "EAI_SYSTEM", 11003},
      {EAI_SERVICE, "EAI_SERVICE", 11003},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(WinsockErrorFromLookup(row.from), row.expected);
  }
}

}  // namespace
}  // namespace platform
