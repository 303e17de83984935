// The system's INI lookup, which kalmora.ini's keys and the version index
// are read with.
#pragma once

#include <cstddef>
#include <string>

namespace kalmora {

class Profile {
 public:
  virtual ~Profile() = default;
  // GetPrivateProfileStringA with a buffer of `buffer_size` characters:
  // returns the value (at most buffer_size - 1 characters) or the default.
  virtual std::string GetProfileString(const std::string& section, const std::string& key,
                                       const std::string& default_value, const std::string& path,
                                       size_t buffer_size) = 0;
};

}  // namespace kalmora
