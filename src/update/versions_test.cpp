#include "update/versions.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kalmora {
namespace {

TEST(Versions, ProgramPartByPart) {
  for (const char* newer : {"1.0.6", "1.0.10", "1.1.0", "2.0.0", "0.9.0", "0.0.6", "01.00.06", "32767.0.0"}) {
    EXPECT_TRUE(IsProgramNewer(newer, {1, 0, 5})) << newer;
  }
  // Not newer, not the three-part form, or parts outside 0..32767.
  for (const char* not_newer :
       {"1.0.5", "1.0.4", "0.0.0", "1.0.05", "", "NO_UPDATE", "1.2", "2", "1..9", "9.9.", ".9.9", "1.0.6.1",
        "1.0.6 beta", "a.b.c", "-1.9.9", "+2.0.0", "1.0.32768", "99999999999.0.0", " 2.0.0"}) {
    EXPECT_FALSE(IsProgramNewer(not_newer, {1, 0, 5})) << not_newer;
  }
}

TEST(Versions, ConfigurationInOrdinalTextOrder) {
  const struct {
    const char *server, *local;
    bool newer;
  } cases[] = {
      // clang-format off
      {"8", "7", true}, {"7", "7", false}, {"6", "7", false},
      // Text order, not numbers; a text that another begins with is the smaller.
      {"10", "9", false}, {"9", "10", true}, {"10", "1", true}, {"1", "10", false},
      // A missing local index gives "0"; "NO_UPDATE" never updates.
      {"1", "0", true}, {"", "0", false}, {"", "", false}, {"a", "", true}, {"NO_UPDATE", "0", false},
      {"NO_UPDATE", "", false},
      // Case-sensitive, by character code, bytes above 127 sort high.
      {"a", "B", true}, {"B", "a", false}, {"\xE9", "z", true}, {"2026-02", "2026-01b", true},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsConfigurationNewer(c.server, c.local), c.newer) << '"' << c.server << "\" vs \"" << c.local << '"';
  }
}

std::string PeWithSignatureAt(uint32_t offset, size_t size) {
  std::string b(size, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  for (int i = 0; i < 4; ++i) b[0x3C + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
  if (offset <= size && size - offset >= 4) std::memcpy(&b[offset], "PE\0\0", 4);
  return b;
}

TEST(ExecutableCheck, MzHeaderWithPeSignatureWhereItSays) {
  EXPECT_TRUE(LooksLikeWindowsExecutable(MakeStandInExecutable({1, 0, 5}, "kalmora")));
  EXPECT_TRUE(LooksLikeWindowsExecutable(PeWithSignatureAt(0x40, 0x44)));  // in the last four bytes
  std::string no_zeros = PeWithSignatureAt(0x80, 0x100), zm = no_zeros;
  no_zeros[0x83] = 'x';
  std::swap(zm[0], zm[1]);
  // The signature cut off, offsets past the end or wrapping, too short, the
  // offset zero, an error page.
  for (const std::string& bytes :
       {PeWithSignatureAt(0x80, 0x83), PeWithSignatureAt(0xFFFFFFFF, 0x100), PeWithSignatureAt(0xFFFFFFFE, 0x100),
        no_zeros, zm, std::string(), std::string("MZ"), "MZ" + std::string(0x3E, '\0'),
        std::string("<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\r\n")}) {
    EXPECT_FALSE(LooksLikeWindowsExecutable(bytes)) << bytes.size();
  }
}

// Every way a download can stop short of the whole file, and headers that
// point past its end.
TEST(ExecutableCheck, WholeFilesOnly) {
  const std::string whole = MakeStandInExecutable({1, 0, 5}, "kalmora");
  EXPECT_TRUE(CheckWindowsExecutable(whole));
  auto patched = [&](size_t at, uint32_t v) {
    std::string b = whole;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
  };
  const struct {
    std::string bytes, why;
  } cases[] = {
      {whole.substr(0, whole.size() - 1), "it is incomplete: section 1 of 1 needs 1024 bytes, the file has 1023"},
      {whole.substr(0, 0x200), "it is incomplete: section 1 of 1 needs 1024 bytes, the file has 512"},
      {whole.substr(0, 0x1C0), "it is incomplete: the header area needs 512 bytes, the file has 448"},
      {whole.substr(0, 0x1A0), "it is incomplete: the section table needs 432 bytes, the file has 416"},
      {whole.substr(0, 0x90), "it is incomplete: the file header needs 152 bytes, the file has 144"},
      {whole.substr(0, 0x40), "it is not a Windows executable"},
      {patched(0x84, 0x8664), "it has no sections"},
      {patched(0x188 + 20, 0xFFFFFFFF), "it is incomplete: section 1 of 1 needs 4294967807 bytes, the file has 1024"},
      {patched(0x94, 0xFFFF), "it is incomplete: the section table needs 65727 bytes, the file has 1024"},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckWindowsExecutable(c.bytes).reason(), c.why);
}

TEST(StampedVersion, ReadsWhatTheStandInCarries) {
  for (ProgramVersion v : {ProgramVersion{1, 0, 6}, ProgramVersion{0, 9, 0}, ProgramVersion{32767, 1, 32767}}) {
    auto got = StampedVersion(MakeStandInExecutable(v, "kalmora"));
    ASSERT_TRUE(got);
    EXPECT_EQ(std::tuple(got->major, got->minor, got->revision), std::tuple(v.major, v.minor, v.revision));
  }
  EXPECT_FALSE(StampedVersion(PeWithSignatureAt(0x80, 0x100)));
  EXPECT_FALSE(StampedVersion(std::string("\xBD\x04\xEF\xFE", 4)));
}

}  // namespace
}  // namespace kalmora
