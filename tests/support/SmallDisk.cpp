#include "tests/support/SmallDisk.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace talvo::test {

SmallDisk::SmallDisk(std::string path, std::uint64_t bytes) : path_(std::move(path)) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  if (!mounted_) error_ = "cannot mount a tmpfs on " + path_ + ": " + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
  // Detached, so that a process still inside (the window's current folder) does not keep it.
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace talvo::test
