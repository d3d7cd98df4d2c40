// What one step of the SSH machinery came to. libssh2 is driven without blocking: a call
// that would wait returns LIBSSH2_ERROR_EAGAIN and must be made again, with the same
// arguments, once the socket is ready.
#pragma once

#include <cstdint>

enum class TSshStatus : std::uint8_t {
  Again,     // waits for the socket (libssh2 said EAGAIN)
  Progress,  // did some work and has more to do: call again on the next pass of the loop
  Done,
  Failed,
};
