// What a listing says of an entry besides its name, where it says it: the size and time
// that the resume of a download and the progress of a transfer need, whatever the protocol.
#pragma once

#include <cstdint>

struct ListingFacts {
  std::int64_t Size = -1;      // in bytes; -1: not given
  std::int64_t Modified = -1;  // the last change, in seconds since 1970 UTC; -1: not given
};
