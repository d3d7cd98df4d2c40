// What a download that did not end whole left on the disk, so that every message after a
// failure says what is really there.
#pragma once

#include <cstdint>

enum class TLeftOnDisk : std::uint8_t {
  Untouched,      // the local file is as it was, and nothing received was kept
  PartKept,       // the local file is as it was; what came is kept in a part beside it
  TargetPartial,  // the download wrote the local file itself: it now holds only what came
};
