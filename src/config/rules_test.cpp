// The daily decision's pure rules: configuration texts as numbers, switches
// and minutes, date matching with calendar overflow, the cut-off minute, text
// replacement and the scheduled moment.
#include "config/rules.h"

#include <gtest/gtest.h>

#include "config/numbers.h"

namespace kalmora {
namespace {

using namespace std::string_literals;

TEST(Numbers, NumbersSwitchesAndMinutes) {
  const std::string zeros(100000, '0');
  const std::pair<std::string, std::optional<double>> cases[] = {
      // clang-format off
      {"1", 1}, {"0", 0}, {" -1 ", -1}, {"\t+180\t", 180}, {"007", 7}, {"1.5", 1.5}, {"-0.25", -0.25}, {".5", 0.5},
      {"5.", 5}, {"1.0", 1}, {zeros + "2", 2},
      // Not numbers, or beyond what a double holds.
      {"", {}}, {" \t ", {}}, {"abc", {}}, {"1a", {}}, {"1 2", {}}, {"- 1", {}}, {"+", {}}, {".", {}}, {"-.", {}},
      {"1,5", {}}, {"1.2.3", {}}, {"1e3", {}}, {"0x10", {}}, {"inf", {}}, {"nan", {}}, {"--1", {}}, {"1\0"s, {}},
      {"\r1\n", {}}, {"1" + zeros.substr(0, 400), {}}, {"-" + std::string(100000, '9'), {}},
      // clang-format on
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseNumber(text), expected) << '"' << text.substr(0, 20) << '"';
  // A switch is on for 1 alone; BeepOnShutdown for -1 alone.
  for (const char* on : {"1", " 1 ", "+1", "01", "1.0", "1.000"}) EXPECT_TRUE(IsOn(on)) << on;
  for (const char* off : {"0", "2", "-1", "1.5", "0.9", "", "yes", "true", "1e0"}) EXPECT_FALSE(IsOn(off)) << off;
  for (const char* on : {"-1", " -1 ", "-1.0", "-01"}) EXPECT_TRUE(IsTrueBoolean(on)) << on;
  for (const char* off : {"1", "0", "True", "-2", ""}) EXPECT_FALSE(IsTrueBoolean(off)) << off;
  // Minutes: an exact half goes to the even neighbour.
  const std::pair<double, long long> minutes[] = {// clang-format off
      {0, 0}, {29, 0}, {30, 0}, {31, 1}, {89, 1}, {90, 2}, {91, 2}, {150, 2}, {210, 4}, {270, 4}, {900, 15}, {-90, -2},
      {1e300, 9000000000000000000LL}};
  // clang-format on
  for (auto [seconds, expected] : minutes) EXPECT_EQ(MinutesRoundedHalfEven(seconds), expected) << seconds;
}

TEST(Rules, DateMatchAgainstToday) {
  const std::tuple<const char*, int, bool> cases[] = {
      // entry, today as YYYYMMDD, whether it matches
      // clang-format off
      {"24.12.####", 20261224, true}, {"24.12.####", 20311224, true}, {"24.12.2026", 20271224, false},
      {"24.12.####", 20261225, false},
      // Leap years, and overflow carried as a calendar date function does.
      {"29.02.####", 20280229, true}, {"29.02.####", 20270301, true}, {"29.02.####", 20270228, false},
      {"29.02.2100", 21000301, true}, {"29.02.2000", 20000229, true}, {"31.04.2026", 20260501, true},
      {"01.13.2026", 20270101, true}, {"32.12.2026", 20270101, true}, {"00.03.2028", 20280229, true},
      {"15.00.2026", 20251215, true}, {"00.00.2027", 20261130, true}, {"99.99.2026", 20340607, true},
      // The separators are not examined; the year is the last four characters.
      {"24-12/2026", 20261224, true}, {"24.12.xx2026", 20261224, true},
      // Anything else never matches (and never throws).
      {"", 20261224, false}, {"24.12", 20261224, false}, {"24.12.", 20261224, false}, {"24.12.26", 20261224, false},
      {"1.1.2026", 20260101, false}, {"xx.12.2026", 20261224, false}, {"24.1x.2026", 20261224, false},
      {"24.12.20x6", 20261224, false}, {"-1.12.2026", 20261129, false}, {"##.##.####", 20261224, false},
      {"####", 20261224, false},
      // clang-format on
  };
  for (auto [entry, today, matches] : cases) {
    EXPECT_EQ(DateMatches(entry, {today / 10000, today / 100 % 100, today % 100}), matches) << entry << " " << today;
  }
}

TEST(Rules, CutOffReplaceAndSchedule) {
  // Within the cut-off minute it is not too late; a cut-off that does not
  // read as hours and minutes never makes it too late.
  const std::tuple<int, int, const char*, bool> cut_offs[] = {
      // clang-format off
      {17, 0, "17:00", false}, {17, 1, "17:00", true}, {16, 59, "17:00", false}, {0, 0, "00:00", false},
      {0, 1, "0:00", true}, {17, 1, "17:00:59", true}, {18, 0, "24:00", false}, {23, 59, "late", false},
      {23, 59, "", false}, {23, 59, "17", false}, {23, 59, "17:xx", false}, {23, 59, "ab:00", false},
      // clang-format on
  };
  for (auto [h, m, cut_off, late] : cut_offs) EXPECT_EQ(IsTooLate(h, m, cut_off), late) << h << ":" << m << cut_off;
  // Every occurrence, case-sensitive, replaced text not scanned again.
  const char* const replaced[][4] = {// clang-format off
      {"%MIN% and %MIN%", "%MIN%", "3", "3 and 3"}, {"%min% %Min%", "%MIN%", "3", "%min% %Min%"},
      {"%X%", "%X%", "%X%%X%", "%X%%X%"}, {"%%MIN%%", "%MIN%", "3", "%3%"}, {"abc", "", "x", "abc"}};
  // clang-format on
  for (const auto& r : replaced) EXPECT_EQ(ReplaceAll(r[0], r[1], r[2]), r[3]) << r[0];
  // Hours from the first two characters, minutes from the last two.
  const std::pair<const char*, std::optional<float>> moments[] = {
      {"17:30", 63000.0f}, {"17:30:00", 61200.0f}, {"25:00", 90000.0f}, {"7:30", {}}, {"ab:cd", {}}, {"", {}}};
  for (auto [time, moment] : moments) EXPECT_EQ(ScheduledMoment(time), moment) << time;
  for (auto [days, expected] :
       {std::pair{"12345", "1111100"}, {"67", "0000011"}, {"1,3,5", "1010100"}, {"", "0000000"}, {"0895", "0000100"}}) {
    std::string got;
    for (int wd = 1; wd <= 7; ++wd) got += ScheduledOnWeekday(days, wd) ? '1' : '0';
    EXPECT_EQ(got, expected) << days;
  }
}

}  // namespace
}  // namespace kalmora
