// The parts of a download into a local file: their names, and which one is this program's
// part of that file, kept from an earlier try. TLocalFile takes parts up by these rules;
// a front end asks them before a download (may it offer to continue? what does "replace"
// remove?) and after one (where is what came kept?).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "session/PartMark.h"
#include "session/PartOrigin.h"

// "NAME.part", then "NAME~1.part" ... "NAME~9.part" where those are taken by others.
constexpr int kPartNames = 10;
std::string PartName(const std::string& target, int n);

// Opens `part` (read and write, locked) when it is this program's part of the local file
// named `targetName`: a plain file of this user, marked for that name, that no other copy
// of the program is receiving into. The descriptor, or -1; `mark` and `place` say what
// its mark is and where it is kept.
int OpenOwnPart(const std::string& part, const std::string& targetName, TPartOrigin& mark, TMarkPlace& place);

struct TKeptPart {
  std::string Path;
  TPartOrigin Mark;
  TMarkPlace Place = TMarkPlace::None;
  std::int64_t Size = 0;
};
// The part a download into `target` would take up: the first of its part names that is
// this program's part of that file, before any free name. Nothing when there is none (a
// part of another program is never one).
std::optional<TKeptPart> FindKeptPart(const std::string& target);
// Whether a download of `source` would go on from `part`: the same file (its RemotePath:
// absolute where its folder is known, else its name alone) of the same server, port and
// user, and the part holds some of it but not all (`source`'s Size, when known). The
// download itself checks the file's size and time again.
bool ContinuesKeptPart(const TKeptPart& part, const TPartOrigin& source);
// Removes the part and its mark, when it is still this program's part.
void RemoveKeptPart(const TKeptPart& part);
