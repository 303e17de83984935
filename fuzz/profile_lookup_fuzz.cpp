// LookupProfileString: section NUL key NUL default NUL file bytes; without
// the third NUL the file does not exist.
#include "fuzz_input.h"
#include "host/sim/profile_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool exists = false;
  auto [section, key, def, bytes] = kalmora::fuzz::Fields<4>(data, size, &exists);
  auto file = exists ? std::optional<std::string>(bytes) : std::nullopt;
  // Now and then a buffer too small for the value, down to none at all.
  const size_t buffer = size % 5 == 0 ? size % 11 : 750;
  const std::string v = kalmora::LookupProfileString(file, section, key, def, buffer);
  // A value is one line of the file, cut at a NUL, or the default's start.
  Check((v.size() < buffer || v.empty()) && v.find('\0') == std::string::npos);
  Check(def.compare(0, v.size(), v) == 0 ||
        (v.find_first_of("\r\n") == std::string::npos && file && file->find(v) != std::string::npos));
  return 0;
}
