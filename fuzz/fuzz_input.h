// What the fuzz targets share: the input cut into fields, and a check whose
// failure crashes, so that libFuzzer keeps the input that broke a rule.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kalmora::fuzz {

// The first N-1 fields each end at a NUL byte (names and values the system
// passes as C strings cannot hold one); the last field is the rest of the
// input, NULs and all. Missing fields stay empty and clear `complete`.
template <size_t N>
std::array<std::string, N> Fields(const uint8_t* data, size_t size, bool* complete = nullptr) {
  std::array<std::string, N> out;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  if (complete) *complete = false;
  for (size_t i = 0; i + 1 < N; ++i) {
    const size_t nul = rest.find('\0');
    out[i] = rest.substr(0, nul);
    if (nul == rest.npos) return out;
    rest.remove_prefix(nul + 1);
  }
  out[N - 1] = rest;
  if (complete) *complete = true;
  return out;
}

}  // namespace kalmora::fuzz

// A broken rule crashes the target (every target checks with this alone).
inline void Check(bool holds) {
  if (!holds) __builtin_trap();
}
