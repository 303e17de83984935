// Our own INI lookup with the behaviour the program relies on from
// GetPrivateProfileStringA. The simulated host uses it; a test under Wine
// compares it with the real function.
#pragma once

#include <optional>
#include <string>

namespace kalmora {

// `file` is the whole file, or nothing when it does not exist. Section and
// key names match without regard to case; the first matching section and
// the first matching key in it count; the value is what follows the first
// equals sign, without surrounding blanks and one pair of enclosing quotes,
// and ends at a NUL as the system's C string does; the result is cut to
// buffer_size - 1 characters. When the file, section or key is missing, or
// the key's line has no equals sign, the default without its trailing blanks
// is returned.
std::string LookupProfileString(const std::optional<std::string>& file, const std::string& section,
                                const std::string& key, const std::string& default_value, size_t buffer_size);

}  // namespace kalmora
