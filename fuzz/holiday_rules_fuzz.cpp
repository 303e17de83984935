// The holiday lists and the date and time rules applied to what they hold:
// the input is read as kalmora.ini's list sections and, whole, as a date
// entry, a cut-off and a scheduled time; its first twelve bytes also give a
// year, a month and a day for the calendar.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "fuzz_input.h"
#include "service/rules.h"

using kalmora::CivilDate;
using kalmora::fuzz::Check;
using namespace std::chrono;

namespace {

sys_days Days(const CivilDate& d) { return sys_days{year{d.year} / d.month / d.day}; }

std::string Entry(const CivilDate& d, bool every_year) {
  char buf[32];
  std::snprintf(buf, sizeof buf, every_year ? "%02d.%02d.####" : "%02d.%02d.%04d", d.day, d.month, d.year);
  return buf;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

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
  const CivilDate tomorrow{int(next.year()), int(unsigned(next.month())), int(unsigned(next.day()))};
  for (bool every_year : {false, true}) {
    Check(kalmora::DateMatches(Entry(today, every_year), today));
    Check(!kalmora::DateMatches(Entry(tomorrow, every_year), today));
  }

  kalmora::HolidayTables t;
  std::string failure;
  const bool read = kalmora::ParseHolidayLists(input, t, failure);
  Check(read == failure.empty());
  Check(t.lstShutdownHolidaysDates.size() == t.lstShutdownHolidaysDescr.size());
  for (const std::string& d : t.lstShutdownHolidaysDates) kalmora::DateMatches(d, today);
  for (const std::string& d : t.lstMsgHolidaysDates) {
    Check(d.size() <= 10);
    kalmora::DateMatches(d, today);
  }
  kalmora::DateMatches(input, today);

  // Midnight is never past a cut-off, and past it is past it for the rest of the day.
  Check(!kalmora::IsTooLate(0, 0, input));
  const int minute = static_cast<int>(size % 1440);
  if (kalmora::IsTooLate(minute / 60, minute % 60, input)) Check(kalmora::IsTooLate(23, 59, input));

  if (auto m = kalmora::ScheduledMoment(input)) Check(std::isfinite(*m));
  kalmora::ScheduledOnWeekday(input, 1 + static_cast<int>(size % 7));
  kalmora::ReplaceAll(input, "%VER%", "1.0.5");
  return 0;
}
