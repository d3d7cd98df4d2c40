#include "tests/support/LargeFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace talvo::test {

namespace {

const std::vector<std::pair<std::uint64_t, char>> kMarks = {
    {0, 'A'}, {2047, 'B'}, {2048, 'C'}, {(1ULL << 31) - 1, 'D'}, {1ULL << 31, 'E'}};

}  // namespace

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure() << "got " << actual.size() << " bytes, expected " << expected.size()
                                       << "; first difference at offset " << (diff.first - actual.begin());
}

std::string ReadAt(const std::string& path, std::uint64_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
  ::close(fd);
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

bool WriteMarkedSparseFile(TempTree& tree, const std::string& name) {
  if (!tree.WriteSparseFile(name, kTwoGiBPlusOne)) return false;
  const int fd = ::open(tree.PathOf(name).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool written = true;
  for (const auto& [offset, byte] : kMarks) {
    written = written && ::pwrite(fd, &byte, 1, static_cast<off_t>(offset)) == 1;
  }
  return ::close(fd) == 0 && written;
}

void ExpectMarkedSparseFile(const std::string& path) {
  for (const auto& [offset, byte] : kMarks) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(ReadAt(path, offset, 1), std::string(1, byte));
  }
  EXPECT_EQ(ReadAt(path, 1ULL << 30, 4), std::string(4, '\0'));
  EXPECT_EQ(ReadAt(path, kTwoGiBPlusOne - 1, 2), "E") << "one byte past 2 GiB, then the end";
}

}  // namespace talvo::test
