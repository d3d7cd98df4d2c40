#include <chrono>

#include "platform/WinTypes.h"

namespace platform {

std::uint32_t GetTickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(ms.count());  // wraps like the system tick count
}

}  // namespace platform
