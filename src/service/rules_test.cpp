// The daily decision's pure rules: date matching with calendar overflow, the
// cut-off minute, text replacement and the scheduled moment.
#include "service/rules.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

TEST(DateMatch, AgainstToday) {
  const struct {
    const char* entry;
    CivilDate today;
    bool matches;
  } cases[] = {
      // clang-format off
      {"24.12.####", {2026, 12, 24}, true}, {"24.12.####", {2031, 12, 24}, true},
      {"24.12.2026", {2026, 12, 24}, true}, {"24.12.2026", {2027, 12, 24}, false},
      {"24.12.####", {2026, 12, 25}, false},
      // Leap years, and overflow carried as a calendar date function does.
      {"29.02.####", {2028, 2, 29}, true}, {"29.02.####", {2027, 3, 1}, true}, {"29.02.####", {2027, 2, 28}, false},
      {"29.02.2100", {2100, 3, 1}, true}, {"29.02.2000", {2000, 2, 29}, true}, {"31.04.2026", {2026, 5, 1}, true},
      {"01.13.2026", {2027, 1, 1}, true}, {"32.12.2026", {2027, 1, 1}, true}, {"00.03.2026", {2026, 2, 28}, true},
      {"00.03.2028", {2028, 2, 29}, true}, {"15.00.2026", {2025, 12, 15}, true}, {"00.00.2027", {2026, 11, 30}, true},
      {"99.99.2026", {2034, 6, 7}, true},
      // The separators are not examined; the year is the last four characters.
      {"24-12/2026", {2026, 12, 24}, true}, {"24.12.xx2026", {2026, 12, 24}, true},
      // Anything else never matches (and never throws).
      {"", {2026, 12, 24}, false}, {"24.12", {2026, 12, 24}, false}, {"24.12.", {2026, 12, 24}, false},
      {"24.12.26", {2026, 12, 24}, false}, {"1.1.2026", {2026, 1, 1}, false}, {"xx.12.2026", {2026, 12, 24}, false},
      {"24.1x.2026", {2026, 12, 24}, false}, {"24.12.20x6", {2026, 12, 24}, false},
      {"-1.12.2026", {2026, 11, 29}, false}, {"##.##.####", {2026, 12, 24}, false}, {"####", {2026, 12, 24}, false},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateMatches(c.entry, c.today), c.matches)
        << c.entry << " on " << c.today.day << "." << c.today.month << "." << c.today.year;
  }
}

TEST(CutOff, WithinTheCutOffMinuteItIsNotTooLate) {
  const struct {
    int hour, minute;
    const char* cut_off;
    bool too_late;
  } cases[] = {
      // clang-format off
      {17, 0, "17:00", false}, {17, 1, "17:00", true}, {16, 59, "17:00", false}, {23, 59, "23:59", false},
      {0, 0, "00:00", false}, {0, 1, "0:00", true}, {17, 1, "17:00:59", true}, {18, 0, "24:00", false},
      // A cut-off that does not read as hours and minutes never makes it too late.
      {23, 59, "late", false}, {23, 59, "", false}, {23, 59, "17", false}, {23, 59, "17:xx", false},
      {23, 59, "ab:00", false},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsTooLate(c.hour, c.minute, c.cut_off), c.too_late) << c.hour << ":" << c.minute << " vs " << c.cut_off;
  }
}

TEST(Replace, EveryOccurrenceCaseSensitiveNotRescanned) {
  EXPECT_EQ(ReplaceAll("%MIN% and %MIN%", "%MIN%", "3"), "3 and 3");
  EXPECT_EQ(ReplaceAll("%min% %Min%", "%MIN%", "3"), "%min% %Min%");
  EXPECT_EQ(ReplaceAll("%X%", "%X%", "%X%%X%"), "%X%%X%");
  EXPECT_EQ(ReplaceAll("%%MIN%%", "%MIN%", "3"), "%3%");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

TEST(Schedule, MomentFromTheFirstAndLastTwoCharacters) {
  EXPECT_EQ(ScheduledMoment("17:30"), 63000.0f);
  EXPECT_EQ(ScheduledMoment("17:30:00"), 61200.0f);  // 17 hours, 0 minutes
  EXPECT_EQ(ScheduledMoment("25:00"), 90000.0f);     // never reached
  EXPECT_EQ(ScheduledMoment("7:30"), std::nullopt);  // "7:" is not a number
  EXPECT_EQ(ScheduledMoment("ab:cd"), std::nullopt);
  EXPECT_EQ(ScheduledMoment(""), std::nullopt);
}

TEST(Schedule, WeekdayDigitsAnywhereInTheList) {
  for (auto [days, expected] :
       {std::pair{"12345", "1111100"}, {"67", "0000011"}, {"1,3,5", "1010100"}, {"", "0000000"}, {"0895", "0000100"}}) {
    std::string got;
    for (int wd = 1; wd <= 7; ++wd) got += ScheduledOnWeekday(days, wd) ? '1' : '0';
    EXPECT_EQ(got, expected) << days;
  }
}

}  // namespace
}  // namespace kalmora
