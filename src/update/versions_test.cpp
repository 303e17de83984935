#include "update/versions.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

// Programs part by part; configurations in ordinal text order (not numbers,
// bytes above 127 high, a text another begins with the smaller).
TEST(Versions, WhatIsNewer) {
  // clang-format off
  for (const char* newer : {"1.0.6", "1.0.10", "1.1.0", "2.0.0", "0.9.0", "0.0.6", "01.00.06", "32767.0.0"}) {
    EXPECT_TRUE(IsProgramNewer(newer, {1, 0, 5})) << newer;
  }
  // Not newer, not the three-part form, or parts outside 0..32767 (65542
  // would wrap to 6).
  for (const char* not_newer : {"1.0.5", "1.0.4", "0.0.0", "1.0.05", "", "NO_UPDATE", "1.2", "2", "1..9", "9.9.",
       ".9.9", "1.0.6.1", "1.0.6 beta", "a.b.c", "-1.9.9", "+2.0.0", "1.0.32768", "1.0.65542", "99999999999.0.0", " 2.0.0"}) {
    EXPECT_FALSE(IsProgramNewer(not_newer, {1, 0, 5})) << not_newer;
  }
  // Server and local; a missing local index gives "0", "NO_UPDATE" never updates.
  const struct { const char *server, *local; bool newer; } cases[] = {
      {"8", "7", true}, {"7", "7", false}, {"6", "7", false}, {"10", "9", false}, {"9", "10", true}, {"10", "1", true},
      {"1", "10", false}, {"1", "0", true}, {"", "0", false}, {"", "", false}, {"a", "", true}, {"NO_UPDATE", "0", false},
      {"NO_UPDATE", "", false}, {"a", "B", true}, {"B", "a", false}, {"\xE9", "z", true}, {"2026-02", "2026-01b", true}};
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(IsConfigurationNewer(c.server, c.local), c.newer) << '"' << c.server << "\" vs \"" << c.local << '"';
  }
}

// curl's -w lines: what the server refused, in words; an answer without a
// status (000), a 2xx or 3xx one and a line that is no answer are none.
TEST(Versions, TheServersRefusalsInWords) {
  EXPECT_EQ(HttpErrors("200 versions.idx.new\n404 versions.idx.sig\n000 kalmora.ini.new\n503 kalmora.exe.new\r\n"
                       "418 kalmora.ini.new\n304 a\nxyz b\n4041 c\n"),
            (std::map<std::string, std::string>{
                {"versions.idx.sig", "the server answered 404 Not Found for versions.idx.sig"},
                {"kalmora.exe.new", "the server answered 503 Service Unavailable for kalmora.exe.new"},
                {"kalmora.ini.new", "the server answered 418 for kalmora.ini.new"}}));
}

// The stand-in: MZ header, PE signature at 0x80, one section whose raw data
// ends the 1024-byte file. Every way a download can stop short of the whole
// file, headers that point past its end, and what is no executable at all.
TEST(ExecutableCheck, WholeFilesOnlyAndTheirStamps) {
  const std::string whole = MakeStandInExecutable({1, 0, 5}, "kalmora"), no = "it is not a Windows executable";
  EXPECT_TRUE(CheckWindowsExecutable(whole));
  auto patched = [&](size_t at, uint32_t v) {
    std::string b = whole;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
  };
  const struct {
    std::string bytes, why;
  } cases[] = {
      // clang-format off
      {whole.substr(0, whole.size() - 1), "it is incomplete: section 1 of 1 needs 1024 bytes, the file has 1023"},
      {whole.substr(0, 0x200), "it is incomplete: section 1 of 1 needs 1024 bytes, the file has 512"},
      {whole.substr(0, 0x1C0), "it is incomplete: the header area needs 512 bytes, the file has 448"},
      {whole.substr(0, 0x1A0), "it is incomplete: the section table needs 432 bytes, the file has 416"},
      // The signature in the last four bytes is still found.
      {whole.substr(0, 0x84), "it is incomplete: the file header needs 152 bytes, the file has 132"},
      {whole.substr(0, 0x90), "it is incomplete: the file header needs 152 bytes, the file has 144"},
      {patched(0x84, 0x8664), "it has no sections"},
      {patched(0x188 + 20, 0xFFFFFFFF), "it is incomplete: section 1 of 1 needs 4294967807 bytes, the file has 1024"},
      {patched(0x94, 0xFFFF), "it is incomplete: the section table needs 65727 bytes, the file has 1024"},
      // The signature cut off, offsets past the end or wrapping, the offset
      // zero, "XZ" or "MX", a signature without its zeros, an error page.
      {whole.substr(0, 0x83), no}, {patched(0x3C, 0xFFFFFFFF), no}, {patched(0x3C, 0xFFFFFFFE), no},
      {"MZ" + std::string(0x3E, '\0'), no}, {patched(0, 0x5A58), no}, {patched(0, 0x584D), no}, {patched(0x80, 0x78004550), no},
      {whole.substr(0, 0x40), no}, {"", no}, {"MZ", no}, {"<html><head><title>404 Not Found</title></head></html>", no},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckWindowsExecutable(c.bytes).reason(), c.why) << c.bytes.size();
    EXPECT_EQ(LooksLikeWindowsExecutable(c.bytes), c.why != no) << c.bytes.size();
  }
  for (ProgramVersion v : {ProgramVersion{1, 0, 6}, ProgramVersion{0, 9, 0}, ProgramVersion{32767, 1, 32767}}) {
    auto got = StampedVersion(MakeStandInExecutable(v, "kalmora"));
    ASSERT_TRUE(got);
    EXPECT_EQ(std::tuple(got->major, got->minor, got->revision), std::tuple(v.major, v.minor, v.revision));
  }
  // Cut before the stamp, only its signature, or a stamp of another layout.
  EXPECT_FALSE(StampedVersion(whole.substr(0, 0x200)) || StampedVersion(std::string("\xBD\x04\xEF\xFE", 4)) ||
               StampedVersion(patched(0x224, 0)));
}

}  // namespace
}  // namespace kalmora
