// The arithmetic of a progress display, shared by the window and the console tool: how far
// a transfer is and how long it has left at the pace it kept so far.
#pragma once

#include <cstdint>
#include <string>

// Thousandths of `total` that `done` is (0 to 1000); -1 when total is unknown (< 0).
int PerMille(std::int64_t done, std::int64_t total);

// Seconds left, rounded up, once a second has gone and something has moved; -1 before
// that, or when the total is unknown. `startedAt`: the bytes already there when the clock
// started (a resumed download's part), which do not count in the pace.
std::int64_t SecondsLeft(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, std::int64_t startedAt = 0);

// Seconds as a clock: "0:07", "12:05", "1:02:03".
std::string ClockText(std::int64_t seconds);
