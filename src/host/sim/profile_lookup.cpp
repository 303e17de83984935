#include "host/sim/profile_lookup.h"

#include <string_view>

namespace kalmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Cut(std::string_view v, size_t buffer_size) {
  if (buffer_size == 0) return {};
  if (v.size() > buffer_size - 1) v = v.substr(0, buffer_size - 1);
  return std::string(v);
}

}  // namespace

std::string LookupProfileString(const std::optional<std::string>& file, const std::string& section,
                                const std::string& key, const std::string& default_value, size_t buffer_size) {
  std::string_view def(default_value);
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  if (!file) return Cut(def, buffer_size);

  std::string_view all(*file);
  // Editors that save "UTF-8 with BOM" put three bytes before the first line.
  if (all.substr(0, 3) == "\xEF\xBB\xBF") all.remove_prefix(3);
  bool in_section = false;  // only the first matching section counts
  size_t pos = 0;
  while (pos < all.size()) {
    // A plain loop: find_first_of with a set of two asks memchr once per
    // character, and this runs over the whole file for every key.
    size_t end = pos;
    while (end < all.size() && all[end] != '\r' && all[end] != '\n') ++end;
    std::string_view line = Trim(all.substr(pos, end - pos));
    pos = end + 1;
    // A header needs its closing bracket; "[abc" is an ordinary line of the
    // section it stands in.
    const size_t close = !line.empty() && line.front() == '[' ? line.rfind(']') : std::string_view::npos;
    if (close != std::string_view::npos) {
      if (in_section) break;
      in_section = EqualsNoCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!in_section || line.empty()) continue;
    const size_t eq = line.find('=');
    if (!EqualsNoCase(Trim(line.substr(0, eq)), key)) continue;
    // The name alone, without an equals sign, holds no value.
    if (eq == std::string_view::npos) break;
    std::string_view value = Trim(line.substr(eq + 1));
    // The system hands the value back as a C string, so a NUL ends it.
    value = value.substr(0, value.find('\0'));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return Cut(value, buffer_size);
  }
  return Cut(def, buffer_size);
}

}  // namespace kalmora
