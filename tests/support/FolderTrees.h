// The folder tree of the folder-transfer tests, and a way to compare two trees: three
// levels of folders, an empty one, names with blanks and accents, and one large file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "tests/support/TempTree.h"

namespace talvo::test {

// Makes `top` inside `tree`:
//   top/a b.txt, top/empty/, top/café déjà/x.txt, top/café déjà/sub/deep.bin, top/big.bin
// (big.bin of `bigSize` pattern bytes). False (after a test failure) when it could not.
bool MakeFolderTree(TempTree& tree, std::string_view top, std::uint64_t bigSize);

// Each entry under `path` (links not followed) by its path relative to `path`: "dir" for a
// folder, the size and FNV-1a of a file's bytes otherwise.
std::map<std::string, std::string> TreeContents(const std::string& path);

}  // namespace talvo::test
