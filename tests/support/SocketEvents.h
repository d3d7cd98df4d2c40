// What one TVelaSocket raised: a letter per event in order (R resolved, C connect, D TLS
// done, X close, T time-out, r read, w write, A accept), and SockError as each handler saw
// it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport/velasock.h"

namespace talvo::test {

struct SocketEvents {
  std::string order;
  std::vector<std::uint16_t> errors;

  // Binds every event of `socket` to this record, which must outlive the binding.
  void Record(TVelaSocket& socket);
  int Count(char event) const;
  // SockError as the first such event saw it; 65535 (with a failure) when none came.
  std::uint16_t ErrorOf(char event) const;
};

}  // namespace talvo::test
