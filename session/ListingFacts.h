// What a listing says of an entry besides its name, where it says it: the size and time
// that the resume of a download and the progress of a transfer need, and the identity that
// tells a folder walk a link that leads back up, whatever the protocol.
#pragma once

#include <cstdint>

struct ListingFacts {
  std::int64_t Size = -1;      // in bytes; -1: not given
  std::int64_t Modified = -1;  // the last change, in seconds since 1970 UTC; -1: not given
  // What tells the entry from every other of the server (MLSD's "unique", hashed): two
  // entries of one identity are one file or folder. 0: not given.
  std::uint64_t Identity = 0;
};
