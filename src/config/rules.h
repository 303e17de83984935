// The daily decision's pure rules: date matching, the cut-off, text
// replacement and the moments that kalmora.ini's times stand for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kalmora {

struct CivilDate {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const CivilDate&, const CivilDate&) = default;
};

// Day, month and year combined as a calendar date function does: months and
// days beyond their ranges carry into the next month or year, 0 falls back
// into the one before (29.02 in a common year is 1 March, month 13 is January
// of the next year).
std::optional<CivilDate> CombineDate(long long year, long long month, long long day);

// A holiday entry DD.MM.YYYY (or DD.MM.####, every year), read once when
// the list is read: the day in characters 1 and 2, the month in 4 and 5,
// the year in the last four. Entries whose day, month or year are not whole
// numbers never match.
struct HolidayDate {
  std::string text;  // as listed
  bool valid = false;
  bool every_year = false;
  int day = 0, month = 0, year = 0;

  bool Matches(const CivilDate& today) const;
};
HolidayDate ParseHolidayDate(std::string_view entry);
bool DateMatches(std::string_view entry, const CivilDate& today);

// The cut-off "HH:MM" (seconds, if any, ignored) as a moment in seconds
// since midnight; nothing when it does not read as hours and minutes, which
// never makes it too late.
std::optional<float> CutOffMoment(std::string_view dont_shutdown_after);
// True when hour:minute is later than the cut-off; within the cut-off
// minute itself it is not.
bool IsTooLate(int hour, int minute, const std::optional<float>& cut_off);
bool IsTooLate(int hour, int minute, std::string_view dont_shutdown_after);

// Every occurrence, left to right, case-sensitive; replaced text is not
// scanned again.
std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with);

// The scheduled moment in seconds since midnight from a time whose first two
// characters are the hours and last two the minutes; nothing when either
// does not read as a number.
std::optional<float> ScheduledMoment(std::string_view time);

// The [Desktop] counts (PostponeMinutes, MaxPostpones, IdleMinutes): a whole
// number from 0 to 1440, or nothing.
std::optional<int> DesktopCount(std::string_view text);

// LatestShutdown's moment in seconds since midnight: strictly HH:MM within
// a day, since a latest time the administrator did not mean must never move
// a halt; nothing otherwise.
std::optional<float> LatestShutdownMoment(std::string_view hhmm);

// HH:MM:SS of a moment in seconds since midnight (within its day).
std::string ClockText(float seconds);

// Whether the weekday's digit (1 Monday .. 7 Sunday) occurs in the day list.
bool ScheduledOnWeekday(std::string_view days, int weekday);

}  // namespace kalmora
