// A small file system (tmpfs) mounted on a folder of a test for as long as the object
// lives, so that writes there meet a really full disk (ENOSPC). Mounting needs root (or
// CAP_SYS_ADMIN); where it is refused, Mounted() is false and the test skips.
#pragma once

#include <cstdint>
#include <string>

namespace talvo::test {

class SmallDisk {
 public:
  SmallDisk(std::string path, std::uint64_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Error() const { return error_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

}  // namespace talvo::test
