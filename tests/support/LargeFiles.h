// Checks of large transfers: bytes compared without printing megabytes, bytes read at an
// offset without reading a whole file, and a sparse file of 2 GiB and one byte with a few
// marked bytes around the 2 GiB boundary, so that a byte written at a wrong (truncated)
// offset shows.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/TempTree.h"

namespace talvo::test {

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);
std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t count);

constexpr std::uint64_t kTwoGiBPlusOne = (2ULL << 30) + 1;
// The longest wait of one such transfer.
constexpr int kTwoGiBWaitMs = 240000;
bool WriteMarkedSparseFile(TempTree& tree, const std::string& name);
void ExpectMarkedSparseFile(const std::string& path);

}  // namespace talvo::test
