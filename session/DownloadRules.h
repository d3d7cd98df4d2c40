// The rules every protocol's download follows with its local file (see LocalFile.h): when
// the part of an earlier try is continued, and how a download ends.
#pragma once

#include <cstdint>

#include "session/LocalFile.h"

// The offset at which the receive continues its part: the part's size, when this program
// began it for this same file (server, port, user, path) and the server's file is larger
// and unchanged (its size and time, -1 when the server gives none); 0 when the file comes
// from the start. The size and time given are those the part is marked with if it starts
// anew.
std::int64_t PartToContinue(TLocalFile& file, std::int64_t remoteSize, std::int64_t remoteModified);

enum class TDownloadEnd : std::uint8_t {
  Whole,        // the received file took the target's place
  Incomplete,   // the target is as it was; the part is kept (or dropped when of no use)
  WriteFailed,  // the file came whole but could not take the target's place (`error` says why)
};
// Ends a download whose data side is over. It is whole when as many bytes came as the
// server said the file holds (`expectedSize`, -1 when it said nothing: then `endTrusted`,
// whether the protocol vouches for the end it saw). A part continued past the file's size
// is of no use and goes. Afterwards the file's Left() says what is on the disk.
TDownloadEnd EndDownload(TLocalFile& file, std::int64_t expectedSize, std::int64_t resumedFrom, std::int64_t received,
                         bool endTrusted, int& error);
