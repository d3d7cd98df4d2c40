// Window-system vocabulary shared by the message loop and the socket library:
// window handles, the message record and the message numbers the engine uses.
#pragma once

#include <cstdint>

namespace platform {

using HWND = std::uint32_t;  // 0 = no window
using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// The message record handed to a window procedure.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

constexpr UINT WM_QUERYENDSESSION = 17;
constexpr UINT WM_TIMER = 275;
constexpr UINT WM_USER = 1024;

// LParam of the socket notifications: event (or nothing) in the low word, error in the high word.
constexpr LPARAM MakeSelectLParam(std::uint16_t low, std::uint16_t high) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(high) << 16) | low);
}
constexpr std::uint16_t LowWord(LPARAM l) { return static_cast<std::uint16_t>(static_cast<std::uint32_t>(l) & 0xFFFFu); }
constexpr std::uint16_t HighWord(LPARAM l) { return static_cast<std::uint16_t>((static_cast<std::uint32_t>(l) >> 16) & 0xFFFFu); }

// Milliseconds since an arbitrary start, wrapping at 2^32 like the system tick count.
std::uint32_t GetTickCount();

}  // namespace platform
