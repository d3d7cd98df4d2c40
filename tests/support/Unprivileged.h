// The process's effective user is an unprivileged one (nobody) while the object lives, when
// the tests run as root; otherwise they already run as one.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

namespace talvo::test {

class AsUnprivilegedUser {
 public:
  static constexpr uid_t kNobody = 65534;
  static constexpr gid_t kNogroup = 65534;

  AsUnprivilegedUser() : switched_(::geteuid() == 0 && ::setegid(kNogroup) == 0 && ::seteuid(kNobody) == 0) {}
  ~AsUnprivilegedUser() {
    if (switched_ && (::seteuid(0) != 0 || ::setegid(0) != 0)) std::abort();  // the tests after this one need root
  }
  AsUnprivilegedUser(const AsUnprivilegedUser&) = delete;
  AsUnprivilegedUser& operator=(const AsUnprivilegedUser&) = delete;

 private:
  bool switched_;
};

}  // namespace talvo::test
