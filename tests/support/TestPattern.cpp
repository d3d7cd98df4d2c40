#include "tests/support/TestPattern.h"

namespace talvo::test {

void FillPattern(std::uint64_t offset, char* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t at = offset + i;
    // Mixing in higher bits keeps blocks of 256 (and of 2048) from repeating, so a
    // chunk written at the wrong offset shows.
    out[i] = static_cast<char>((at * 131 + (at >> 8) * 7 + (at >> 16) * 3) & 0xFF);
  }
}

std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  FillPattern(0, bytes.data(), size);
  return bytes;
}

std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace talvo::test
