// The rules every protocol's download follows with its local file (see LocalFile.h): when
// the part of an earlier try is continued, and how a download ends.
#pragma once

#include <cstdint>

#include "session/LocalFile.h"

// The offset at which the receive continues "NAME.part": its size, when the server's file
// is larger than it and did not change after it was written (its time, where the server
// gives one, -1 otherwise); 0 when the file comes from the start.
std::int64_t PartToContinue(const TLocalFile& file, std::int64_t remoteSize, std::int64_t remoteModified);

enum class TDownloadEnd : std::uint8_t {
  Whole,        // the received file took the target's place
  Incomplete,   // the target is as it was; the part is kept (or dropped when of no use)
  WriteFailed,  // the file came whole but could not take the target's place; the part is kept
};
// Ends a download whose data side is over. It is whole when as many bytes came as the
// server said the file holds (`expectedSize`, -1 when it said nothing: then `endTrusted`,
// whether the protocol vouches for the end it saw). A part continued past the file's size
// is of no use and goes.
TDownloadEnd EndDownload(TLocalFile& file, std::int64_t expectedSize, std::int64_t resumedFrom, std::int64_t received,
                         bool endTrusted);
