#include "config/numbers.h"

#include <cfenv>
#include <cmath>
#include <cstdlib>

namespace kalmora {

std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
  size_t e = s.size();
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::string TrimSpaces(std::string_view s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::optional<double> ParseNumber(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0 || i != s.size()) return std::nullopt;
  // strtod on a copy: the view is not NUL-terminated and holds only the
  // characters checked above, so the conversion cannot read past them.
  std::string copy(s);
  double v = std::strtod(copy.c_str(), nullptr);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

bool IsOn(std::string_view value) {
  auto n = ParseNumber(value);
  return n && *n == 1.0;
}

bool IsTrueBoolean(std::string_view value) {
  auto n = ParseNumber(value);
  return n && *n == -1.0;
}

long long MinutesRoundedHalfEven(double seconds) {
  double minutes = seconds / 60.0;
  // nearbyint rounds in the current mode; force ties-to-even for the call.
  int old = std::fegetround();
  std::fesetround(FE_TONEAREST);
  double r = std::nearbyint(minutes);
  std::fesetround(old);
  if (r > 9.0e18) return static_cast<long long>(9.0e18);
  if (r < -9.0e18) return static_cast<long long>(-9.0e18);
  return static_cast<long long>(r);
}

std::string HexLower(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool UseBlindCopy(std::string_view email_use_bcc) {
  auto n = ParseNumber(email_use_bcc);
  if (n) return *n != 0;
  return !TrimBlanks(email_use_bcc).empty();
}

}  // namespace kalmora
