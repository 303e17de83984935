#include "update/versions.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kalmora {
namespace {

constexpr ProgramVersion k105{1, 0, 5};

struct ProgramCase {
  const char* server;
  bool newer;
};

class ProgramVersionTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramVersionTest, EachPartOnItsOwn) {
  EXPECT_EQ(IsProgramNewer(GetParam().server, k105), GetParam().newer) << GetParam().server;
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, ProgramVersionTest,
    ::testing::Values(ProgramCase{"1.0.5", false}, ProgramCase{"1.0.6", true}, ProgramCase{"1.0.10", true},
                      ProgramCase{"1.1.0", true}, ProgramCase{"2.0.0", true}, ProgramCase{"1.0.4", false},
                      ProgramCase{"0.0.0", false},
                      // Parts compared one by one: 9 is greater than 0.
                      ProgramCase{"0.9.0", true}, ProgramCase{"0.0.6", true}, ProgramCase{"1.0.05", false},
                      ProgramCase{"01.00.06", true}, ProgramCase{"32767.0.0", true},
                      // Not the three-part form, or parts outside 0..32767: never newer.
                      ProgramCase{"", false}, ProgramCase{"NO_UPDATE", false}, ProgramCase{"1.2", false},
                      ProgramCase{"2", false}, ProgramCase{"1..9", false}, ProgramCase{"9.9.", false},
                      ProgramCase{".9.9", false}, ProgramCase{"1.0.6.1", false}, ProgramCase{"1.0.6 beta", false},
                      ProgramCase{"a.b.c", false}, ProgramCase{"-1.9.9", false}, ProgramCase{"+2.0.0", false},
                      ProgramCase{"1.0.32768", false}, ProgramCase{"99999999999.0.0", false},
                      ProgramCase{" 2.0.0", false}));

struct ConfigCase {
  const char* server;
  const char* local;
  bool newer;
};

class ConfigVersionTest : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigVersionTest, OrdinalTextOrder) {
  const ConfigCase& c = GetParam();
  EXPECT_EQ(IsConfigurationNewer(c.server, c.local), c.newer) << '"' << c.server << "\" vs \"" << c.local << '"';
}

INSTANTIATE_TEST_SUITE_P(Decisions, ConfigVersionTest,
                         ::testing::Values(ConfigCase{"8", "7", true}, ConfigCase{"7", "7", false},
                                           ConfigCase{"6", "7", false},
                                           // Text order, not numbers: "10" sorts before "9".
                                           ConfigCase{"10", "9", false}, ConfigCase{"9", "10", true},
                                           // A text that another begins with is the smaller.
                                           ConfigCase{"10", "1", true}, ConfigCase{"1", "10", false},
                                           // Missing local index gives "0".
                                           ConfigCase{"1", "0", true}, ConfigCase{"", "0", false},
                                           ConfigCase{"", "", false}, ConfigCase{"a", "", true},
                                           // "NO_UPDATE" never updates, whatever the local text.
                                           ConfigCase{"NO_UPDATE", "0", false}, ConfigCase{"NO_UPDATE", "", false},
                                           // Case-sensitive, by character code, bytes above 127 sort high.
                                           ConfigCase{"a", "B", true}, ConfigCase{"B", "a", false},
                                           ConfigCase{"\xE9", "z", true}, ConfigCase{"2026-02", "2026-01b", true}));

std::string PeWithSignatureAt(uint32_t offset, size_t size) {
  std::string b(size, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  for (int i = 0; i < 4; ++i) b[0x3C + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
  if (offset <= size && size - offset >= 4) std::memcpy(&b[offset], "PE\0\0", 4);
  return b;
}

TEST(ExecutableCheck, MzHeaderWithPeSignatureWhereItSays) {
  struct {
    std::string bytes;
    bool executable;
    const char* what;
  } cases[] = {
      {MakeStandInExecutable(k105, "kalmora"), true, "stand-in"},
      {PeWithSignatureAt(0x40, 0x44), true, "signature in the last four bytes"},
      {PeWithSignatureAt(0x80, 0x83), false, "signature cut off"},
      {PeWithSignatureAt(0xFFFFFFFF, 0x100), false, "offset far past the end"},
      {PeWithSignatureAt(0xFFFFFFFE, 0x100), false, "offset that wraps"},
      {std::string(), false, "empty file"},
      {"MZ", false, "header only"},
      {std::string("MZ") + std::string(0x3E, '\0'), false, "offset zero"},
      {"<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n<html><head><title>404 Not Found</title>"
       "</head><body><h1>Not Found</h1></body></html>\r\n",
       false, "error page"},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeWindowsExecutable(c.bytes), c.executable) << c.what;

  std::string wrong = PeWithSignatureAt(0x80, 0x100);
  wrong[0x83] = 'x';
  EXPECT_FALSE(LooksLikeWindowsExecutable(wrong)) << "PE without its two zero bytes";
  std::string zm = PeWithSignatureAt(0x80, 0x100);
  std::swap(zm[0], zm[1]);
  EXPECT_FALSE(LooksLikeWindowsExecutable(zm)) << "ZM";
}

TEST(StampedVersion, ReadsWhatTheStandInCarries) {
  for (ProgramVersion v : {ProgramVersion{1, 0, 6}, ProgramVersion{0, 9, 0}, ProgramVersion{32767, 1, 32767}}) {
    auto got = StampedVersion(MakeStandInExecutable(v, "kalmora"));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->major, v.major);
    EXPECT_EQ(got->minor, v.minor);
    EXPECT_EQ(got->revision, v.revision);
  }
  EXPECT_FALSE(StampedVersion(PeWithSignatureAt(0x80, 0x100)));
  EXPECT_FALSE(StampedVersion(std::string("\xBD\x04\xEF\xFE", 4)));
}

}  // namespace
}  // namespace kalmora
