// The two messages the socket library posts to a socket's window: the end of a host-name
// lookup and a network event (its low word the event, its high word the error). Private to
// transport/: the layers above ask TVelaSocket for what they need.
#pragma once

#include "platform/WinTypes.h"

namespace transport {

constexpr platform::UINT WM_SOCKET_LOOKUP = platform::WM_USER;      // 1024
constexpr platform::UINT WM_SOCKET_SELECT = platform::WM_USER + 1;  // 1025

}  // namespace transport
