// What local file operations answer: 0, the system's error number (errno), or one of the
// refusals of this program below (negative, so that no errno can be taken for them).
#pragma once

// A folder, pipe, device or socket where a plain file is expected: never opened for writing.
inline constexpr int kNotAPlainFile = -1;
// A file to send that became shorter while it was sent.
inline constexpr int kFileShrank = -2;
