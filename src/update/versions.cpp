#include "update/versions.h"

#include <algorithm>
#include <cstring>

namespace kalmora {
namespace {

std::optional<int16_t> Part(std::string_view s) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v > 32767) return std::nullopt;
  return static_cast<int16_t>(v);
}

uint32_t Le32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

void PutLe32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

}  // namespace

std::optional<ProgramVersion> ParseServerVersion(std::string_view text) {
  size_t p1 = text.find('.');
  if (p1 == std::string_view::npos) return std::nullopt;
  size_t p2 = text.find('.', p1 + 1);
  if (p2 == std::string_view::npos) return std::nullopt;
  auto major = Part(text.substr(0, p1));
  auto minor = Part(text.substr(p1 + 1, p2 - p1 - 1));
  auto revision = Part(text.substr(p2 + 1));
  if (!major || !minor || !revision) return std::nullopt;
  return ProgramVersion{*major, *minor, *revision};
}

bool IsProgramNewer(std::string_view server, const ProgramVersion& running) {
  auto v = ParseServerVersion(server);
  if (!v) return false;
  return v->major > running.major || v->minor > running.minor || v->revision > running.revision;
}

bool IsConfigurationNewer(std::string_view server, std::string_view local) {
  if (server == kNoUpdate) return false;
  // std::string_view compares char_traits<char>, which orders by unsigned
  // character code: ordinal, as the index has always been compared.
  return server.compare(local) > 0;
}

bool LooksLikeWindowsExecutable(std::string_view b) {
  if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') return false;
  uint32_t pe = Le32(b, 0x3C);
  if (pe > b.size() || b.size() - pe < 4) return false;
  return std::memcmp(b.data() + pe, "PE\0\0", 4) == 0;
}

std::optional<ProgramVersion> StampedVersion(std::string_view b) {
  static const char kSig[4] = {'\xBD', '\x04', '\xEF', '\xFE'};  // 0xFEEF04BD
  size_t at = 0;
  while (true) {
    at = b.find(std::string_view(kSig, 4), at);
    if (at == std::string_view::npos || b.size() - at < 16) return std::nullopt;
    uint32_t ms = Le32(b, at + 8);
    uint32_t ls = Le32(b, at + 12);
    if (Le32(b, at + 4) == 0x00010000) {
      return ProgramVersion{static_cast<int16_t>(ms >> 16), static_cast<int16_t>(ms & 0xFFFF),
                            static_cast<int16_t>(ls >> 16)};
    }
    at += 4;
  }
}

std::string MakeStandInExecutable(const ProgramVersion& v, std::string_view name) {
  std::string b(0x100, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  PutLe32(b, 0x3C, 0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  // VS_FIXEDFILEINFO: signature, structure version, file version MS and LS.
  PutLe32(b, 0xA0, 0xFEEF04BD);
  PutLe32(b, 0xA4, 0x00010000);
  PutLe32(b, 0xA8, static_cast<uint32_t>(static_cast<uint16_t>(v.major)) << 16 | static_cast<uint16_t>(v.minor));
  PutLe32(b, 0xAC, static_cast<uint32_t>(static_cast<uint16_t>(v.revision)) << 16);
  std::string label = "stand-in program file ";
  label += name;
  std::memcpy(&b[0xC0], label.data(), std::min<size_t>(label.size(), 0x3F));
  return b;
}

}  // namespace kalmora
