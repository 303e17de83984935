#include "update/versions.h"

#include <algorithm>
#include <cstring>

namespace kalmora {
namespace {

std::optional<int16_t> VersionPart(std::string_view s) {
  if (s.empty() || s.size() > 5) return std::nullopt;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v > 32767) return std::nullopt;
  return static_cast<int16_t>(v);
}

uint16_t Le16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
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
  auto major = VersionPart(text.substr(0, p1));
  auto minor = VersionPart(text.substr(p1 + 1, p2 - p1 - 1));
  auto revision = VersionPart(text.substr(p2 + 1));
  if (!major || !minor || !revision) return std::nullopt;
  return ProgramVersion{*major, *minor, *revision};
}

bool IsProgramNewer(std::string_view server, const ProgramVersion& running) {
  auto v = ParseServerVersion(server);
  if (!v) return false;
  return v->major > running.major || v->minor > running.minor || v->revision > running.revision;
}

std::optional<int> CompareProgramVersion(std::string_view server, const ProgramVersion& running) {
  auto v = ParseServerVersion(server);
  if (!v) return std::nullopt;
  for (auto [a, b] : {std::pair{v->major, running.major}, {v->minor, running.minor}, {v->revision, running.revision}}) {
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
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

Status CheckWindowsExecutable(std::string_view b) {
  if (!LooksLikeWindowsExecutable(b)) return Status::Failure("it is not a Windows executable");
  const uint64_t size = b.size();
  auto incomplete = [&](const std::string& what, uint64_t needed) {
    return Status::Failure("it is incomplete: " + what + " needs " + std::to_string(needed) + " bytes, the file has " +
                           std::to_string(size));
  };
  // COFF file header: 20 bytes after the signature.
  const uint64_t coff = uint64_t{Le32(b, 0x3C)} + 4;
  if (coff + 20 > size) return incomplete("the file header", coff + 20);
  const uint16_t sections = Le16(b, coff + 2);
  const uint16_t optional_size = Le16(b, coff + 16);
  const uint64_t optional = coff + 20;
  const uint64_t table = optional + optional_size;
  if (sections == 0) return Status::Failure("it has no sections");
  if (table + 40ull * sections > size) return incomplete("the section table", table + 40ull * sections);
  // SizeOfHeaders sits at the same place in the 32- and the 64-bit layout.
  if (optional_size >= 64) {
    const uint64_t headers = Le32(b, optional + 60);
    if (headers > size) return incomplete("the header area", headers);
  }
  for (uint16_t i = 0; i < sections; ++i) {
    const uint64_t entry = table + 40ull * i;
    const uint64_t raw_size = Le32(b, entry + 16);
    const uint64_t raw_at = Le32(b, entry + 20);
    if (raw_size > 0 && raw_at + raw_size > size) {
      return incomplete("section " + std::to_string(i + 1) + " of " + std::to_string(sections), raw_at + raw_size);
    }
  }
  return Status();
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

std::string CurlFailureText(uint32_t status, CurlTask task) {
  // "SERVER" stands for the server of the task.
  static const std::pair<uint32_t, const char*> kWords[] = {
      {5, "the proxy's name could not be resolved"},
      {6, "SERVER's name could not be resolved"},
      {7, "SERVER could not be reached"},
      {8, "SERVER gave an answer curl does not understand"},
      {18, "the connection was closed before the file was complete"},
      {22, "the server answered with an HTTP error"},
      {23, "the file could not be written"},
      {26, "the message file could not be read"},
      {28, "the transfer timed out"},
      {35, "the secure connection could not be set up"},
      {52, "the server closed the connection without an answer"},
      {55, "SERVER refused the sender, a recipient or the message"},
      {56, "the connection broke off while the file was received"},
      {60, "the server's certificate could not be verified"},
      {64, "SERVER does not offer TLS, which SmtpRequireTls demands"},
      {67, "SERVER refused the login"},
  };
  for (const auto& [number, words] : kWords) {
    if (number != status) continue;
    std::string text = words;
    if (text.rfind("SERVER", 0) == 0) {
      text.replace(0, 6, task == CurlTask::Mail ? "the mail server" : "the update server");
    }
    return text + " (curl status " + std::to_string(status) + ")";
  }
  return "curl failed with status " + std::to_string(status);
}

std::map<std::string, std::string> HttpErrors(std::string_view written_out) {
  static const std::pair<int, const char*> kReasons[] = {
      {400, "Bad Request"},        {401, "Unauthorized"},
      {403, "Forbidden"},          {404, "Not Found"},
      {405, "Method Not Allowed"}, {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},    {410, "Gone"},
      {429, "Too Many Requests"},  {500, "Internal Server Error"},
      {502, "Bad Gateway"},        {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  std::map<std::string, std::string> errors;
  while (!written_out.empty()) {
    const size_t end = written_out.find('\n');
    std::string_view line = written_out.substr(0, end);
    written_out.remove_prefix(end == std::string_view::npos ? written_out.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 5 || line[3] != ' ' ||
        !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    if (code < 400) continue;
    const std::string file(line.substr(4));
    std::string text = "the server answered " + std::string(line.substr(0, 3));
    for (const auto& [number, reason] : kReasons) {
      if (number == code) text += std::string(" ") + reason;
    }
    errors.emplace(file, text + " for " + file);
  }
  return errors;
}

std::string MakeStandInExecutable(const ProgramVersion& v, std::string_view name) {
  // MZ header, PE signature at 0x80, a 64-bit optional header of 0xF0 bytes,
  // one section ".rsrc" whose raw data (0x200 bytes at 0x200) holds the
  // version stamp: small, but complete as far as the checks look.
  std::string b(0x400, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  PutLe32(b, 0x3C, 0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  PutLe32(b, 0x84, 0x00018664);  // machine x64, one section
  PutLe32(b, 0x94, 0x002200F0);  // optional header size, characteristics
  PutLe32(b, 0x98, 0x020B);      // PE32+ magic
  PutLe32(b, 0x98 + 60, 0x200);  // SizeOfHeaders
  std::memcpy(&b[0x188], ".rsrc", 5);
  PutLe32(b, 0x188 + 16, 0x200);  // SizeOfRawData
  PutLe32(b, 0x188 + 20, 0x200);  // PointerToRawData
  // VS_FIXEDFILEINFO: signature, structure version, file version MS and LS.
  PutLe32(b, 0x220, 0xFEEF04BD);
  PutLe32(b, 0x224, 0x00010000);
  PutLe32(b, 0x228, static_cast<uint32_t>(static_cast<uint16_t>(v.major)) << 16 | static_cast<uint16_t>(v.minor));
  PutLe32(b, 0x22C, static_cast<uint32_t>(static_cast<uint16_t>(v.revision)) << 16);
  std::string label = "stand-in program file ";
  label += name;
  std::memcpy(&b[0x240], label.data(), std::min<size_t>(label.size(), 0x3F));
  return b;
}

}  // namespace kalmora
