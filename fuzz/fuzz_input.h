// What the fuzz targets share: the input cut into fields, and a check whose
// failure crashes, so that libFuzzer keeps the input that broke a rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kalmora::fuzz {

// The first N-1 fields each end at a NUL byte (names and values the system
// passes as C strings cannot hold one); the last field is the rest of the
// input, NULs and all. Missing fields stay empty and clear `complete`.
template <size_t N>
std::array<std::string, N> Fields(const uint8_t* data, size_t size, bool* complete = nullptr) {
  std::array<std::string, N> out;
  const char* p = reinterpret_cast<const char*>(data);
  const char* end = p + size;
  size_t i = 0;
  for (; i + 1 < N && p != end; ++i) {
    const char* nul = p;
    while (nul != end && *nul != '\0') ++nul;
    out[i].assign(p, nul);
    p = nul == end ? end : nul + 1;
    if (nul == end) break;
  }
  if (i + 1 == N) out[i].assign(p, end);
  if (complete) *complete = i + 1 == N;
  return out;
}

inline void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace kalmora::fuzz
