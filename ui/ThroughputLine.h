// The line written to the log after each stored file: bytes, time in seconds with
// milliseconds, and the rate in kilo-octets (1,000 bytes) per second, from the engine's
// 64-bit counters so that files of 2 GiB and more read true.
//   ThroughputLine(600, 50) == "600 octets transférés en 0.050 secondes (12Ko par seconde)"
#pragma once

#include <cstdint>
#include <string>

std::string ThroughputLine(std::int64_t bytes, std::int64_t milliseconds);  // milliseconds > 0
