#include <time.h>

#include "platform/WinTypes.h"

namespace platform {

// The monotonic clock (the one steady_clock reads), in milliseconds, at the kernel's tick
// (a few milliseconds, as the system tick count has always been coarse): a transfer reads
// it for every chunk, and the coarse clock costs a fraction of the precise one.
std::uint32_t GetTickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);  // wraps like the system tick count
}

}  // namespace platform
