// The mark that tells a part this program wrote, and for which file: its origin, kept in
// an extended attribute of the part ("user.talvo-ftp.origin"), or, where the file system
// has none, in a small companion file beside it ("NAME.part.origin", owner-only). A part
// without a mark, or with one that cannot be read, is not this program's. A companion file
// is read and removed only where the file system has no extended attributes: elsewhere a
// file of that name is anybody's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "session/PartOrigin.h"

enum class TMarkPlace : std::uint8_t { None, Attribute, Companion };

// The mark of the open part `fd` at `partPath`; nothing when it has none that can be read.
// `place` tells where the file system keeps marks.
std::optional<TPartOrigin> ReadPartMark(int fd, const std::string& partPath, TMarkPlace& place);
// Marks a part not yet named (made with O_TMPFILE) in its extended attribute: 0, or the
// system's error (ENOTSUP where the file system keeps none).
int WriteAttributeMark(int fd, const TPartOrigin& origin);
// Marks the open part with `origin`: 0, or the system's error; `place` tells where.
int WritePartMark(int fd, const std::string& partPath, const TPartOrigin& origin, TMarkPlace& place);
// The part at `partPath`, marked at `place`, became the file at `finalPath` (the same
// path when it is removed): its mark goes.
void RemovePartMark(const std::string& finalPath, const std::string& partPath, TMarkPlace place);
