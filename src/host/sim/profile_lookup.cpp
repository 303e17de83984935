#include "host/sim/profile_lookup.h"

namespace kalmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string Cut(std::string_view v, size_t buffer_size) {
  if (buffer_size == 0) return {};
  if (v.size() > buffer_size - 1) v = v.substr(0, buffer_size - 1);
  return std::string(v);
}

// Lines end at CR or LF; the empty line between the two of a CR LF is
// passed over like any blank line.
class Lines {
 public:
  explicit Lines(std::string_view text) : text_(text) {}
  bool Next(std::string_view& line, size_t& begin) {
    if (pos_ >= text_.size()) return false;
    begin = pos_;
    size_t end = pos_;
    while (end < text_.size() && text_[end] != '\r' && text_[end] != '\n') ++end;
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }
  size_t pos() const { return pos_ < text_.size() ? pos_ : text_.size(); }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// A header needs its closing bracket; "[abc" is an ordinary line of the
// section it stands in. The name, or nothing for an ordinary line.
std::optional<std::string_view> HeaderName(std::string_view trimmed) {
  if (trimmed.empty() || trimmed.front() != '[') return std::nullopt;
  const size_t close = trimmed.rfind(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(trimmed.substr(1, close - 1));
}

}  // namespace

ProfileIndex::ProfileIndex(std::optional<std::string> file) : file_(std::move(file)) {
  if (!file_) return;
  std::string_view all(*file_);
  // Editors that save "UTF-8 with BOM" put three bytes before the first line.
  if (all.substr(0, 3) == "\xEF\xBB\xBF") all.remove_prefix(3);
  Lines lines(all);
  std::string_view line;
  size_t begin = 0;
  // The section being collected, when it is the first of its name.
  std::string_view* open = nullptr;
  size_t open_from = 0;
  while (lines.Next(line, begin)) {
    auto name = HeaderName(Trim(line));
    if (!name) continue;
    if (open) *open = all.substr(open_from, begin - open_from);
    auto [it, fresh] = sections_.try_emplace(LowerCopy(*name));
    open = fresh ? &it->second : nullptr;
    open_from = lines.pos();
  }
  if (open) *open = all.substr(open_from);
}

std::string ProfileIndex::Lookup(std::string_view section, std::string_view key, std::string_view default_value,
                                 size_t buffer_size) const {
  std::string_view def(default_value);
  while (!def.empty() && def.back() == ' ') def.remove_suffix(1);
  auto found = sections_.find(LowerCopy(section));
  if (found == sections_.end()) return Cut(def, buffer_size);
  Lines lines(found->second);
  std::string_view raw;
  size_t begin = 0;
  while (lines.Next(raw, begin)) {
    const std::string_view line = Trim(raw);
    if (line.empty()) continue;
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

std::string LookupProfileString(const std::optional<std::string>& file, const std::string& section,
                                const std::string& key, const std::string& default_value, size_t buffer_size) {
  return ProfileIndex(file).Lookup(section, key, default_value, buffer_size);
}

}  // namespace kalmora
