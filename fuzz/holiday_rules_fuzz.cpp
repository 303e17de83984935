// The holiday lists and the date and time rules applied to what they hold:
// the input is read as kalmora.ini's list sections and, whole, as a date
// entry, a cut-off and a scheduled time; its first twelve bytes also give a
// year, a month and a day for the calendar.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "config/rules.h"
#include "fuzz_input.h"

using kalmora::CivilDate;
using namespace std::chrono;

namespace {
sys_days Days(const CivilDate& d) { return sys_days{year{d.year} / d.month / d.day}; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [input] = kalmora::fuzz::Fields<1>(data, size);
  // A day past the end of a month is the next month's first: one more day
  // is always exactly one day later.
  CivilDate today{2026, 12, 24};
  if (size >= 12) {
    int32_t n[3];
    std::memcpy(n, data, sizeof n);
    auto a = kalmora::CombineDate(n[0], n[1], n[2]), b = kalmora::CombineDate(n[0], n[1], n[2] + 1LL);
    if (a) Check(year_month_day{year{a->year} / a->month / a->day}.ok());
    if (a && b) Check(Days(*b) - Days(*a) == days{1});
    if (a && a->year >= 1000 && a->year <= 9999) today = *a;
  }
  // Today's own entry matches, for this year and for every year; tomorrow's does not.
  const year_month_day next{Days(today) + days{1}};
  for (const char* format : {"%02d.%02d.%04d", "%02d.%02d.####"}) {
    char entry[32], later[32];
    std::snprintf(entry, sizeof entry, format, today.day, today.month, today.year);
    std::snprintf(later, sizeof later, format, unsigned(next.day()), unsigned(next.month()), int(next.year()));
    Check(kalmora::DateMatches(entry, today) && !kalmora::DateMatches(later, today));
  }

  kalmora::HolidayTables t;
  std::string failure;
  Check(kalmora::ParseHolidayLists(input, t, failure) == failure.empty() &&
        t.lstShutdownHolidaysDates.size() == t.lstShutdownHolidaysDescr.size());
  for (const kalmora::HolidayDate& d : t.lstShutdownHolidaysDates) d.Matches(today);
  for (const kalmora::HolidayDate& d : t.lstMsgHolidaysDates) {
    Check(d.text.size() <= 10);
    d.Matches(today);
  }
  kalmora::DateMatches(input, today);

  // Midnight is never past a cut-off, and past it is past it for the rest of the day.
  const int minute = static_cast<int>(size % 1440);
  Check(!kalmora::IsTooLate(0, 0, input) &&
        (!kalmora::IsTooLate(minute / 60, minute % 60, input) || kalmora::IsTooLate(23, 59, input)));
  if (auto m = kalmora::ScheduledMoment(input)) Check(std::isfinite(*m));
  kalmora::ScheduledOnWeekday(input, 1 + static_cast<int>(size % 7));
  kalmora::ReplaceAll(input, "%VER%", "1.0.5");
  return 0;
}
