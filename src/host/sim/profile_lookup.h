// Our own INI lookup with the behaviour the program relies on from
// GetPrivateProfileStringA. The simulated host uses it; a test under Wine
// compares it with the real function.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kalmora {

// One file, split once into its sections, so that each key is found in its
// own section's lines instead of the whole file: the holiday lists of a
// large kalmora.ini are passed over once, not once a key.
//
// Section and key names match without regard to case; the first matching
// section and the first matching key in it count; the value is what follows
// the first equals sign, without surrounding blanks and one pair of
// enclosing quotes, and ends at a NUL as the system's C string does; the
// result is cut to buffer_size - 1 characters. When the file, section or key
// is missing, or the key's line has no equals sign, the default without its
// trailing blanks is returned.
class ProfileIndex {
 public:
  // `file` is the whole file, or nothing when it does not exist.
  explicit ProfileIndex(std::optional<std::string> file);
  // The index points into its own bytes.
  ProfileIndex(const ProfileIndex&) = delete;
  ProfileIndex& operator=(const ProfileIndex&) = delete;

  const std::optional<std::string>& bytes() const { return file_; }
  std::string Lookup(std::string_view section, std::string_view key, std::string_view default_value,
                     size_t buffer_size) const;

 private:
  std::optional<std::string> file_;
  // Lower-case section name -> the lines under its first header.
  std::unordered_map<std::string, std::string_view> sections_;
};

// The same for a single question, without keeping the index.
std::string LookupProfileString(const std::optional<std::string>& file, const std::string& section,
                                const std::string& key, const std::string& default_value, size_t buffer_size);

}  // namespace kalmora
