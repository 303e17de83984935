// modAPI: the two platform calls that the program makes exactly as written
// down for it: enabling the shutdown privilege and reading one INI key.
#pragma once

#include <cstddef>
#include <string>

namespace kalmora::modAPI {

// Enables SeShutdownPrivilege in the process token. Nothing is checked: when
// a step fails, the shutdown request that follows simply has no effect.
void EnableShutdownPrivilege();

// GetPrivateProfileStringA with a buffer of `buffer_size` characters; the
// first n characters of the buffer, n being what the call returns.
std::string ReadIniString(const std::string& section, const std::string& key, const std::string& default_value,
                          const std::string& path, size_t buffer_size);

}  // namespace kalmora::modAPI
