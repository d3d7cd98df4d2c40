// Deterministic file contents for transfer tests, and a checksum to compare large
// transfers without keeping them: the byte at offset i is a function of i alone, so any
// slice can be made on its own and checked against the whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace talvo::test {

// Fills `out` with the pattern bytes that start at `offset`.
void FillPattern(std::uint64_t offset, char* out, std::size_t count);

// The first `size` bytes of the pattern.
std::string PatternBytes(std::size_t size);

// 64-bit FNV-1a, continued from `hash` so that it can run over a stream in pieces.
constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ULL;
std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = kFnvOffsetBasis);

}  // namespace talvo::test
