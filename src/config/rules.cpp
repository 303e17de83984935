#include "config/rules.h"

#include <chrono>
#include <cstdio>

#include "config/numbers.h"

namespace kalmora {
namespace {

// A whole number made of digits only (blanks around it allowed).
std::optional<long long> WholeNumber(std::string_view s) {
  s = TrimBlanks(s);
  if (s.empty() || s.size() > 9) return std::nullopt;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

std::optional<CivilDate> CombineDate(long long year, long long month, long long day) {
  using namespace std::chrono;
  if (year < -30000 || year > 30000 || month < -1000 || month > 1000 || day < -100000 || day > 100000) {
    return std::nullopt;
  }
  year_month ym = year_month{std::chrono::year{static_cast<int>(year)}, January} + months{month - 1};
  if (!ym.ok()) return std::nullopt;
  sys_days d = sys_days{ym / 1} + days{day - 1};
  year_month_day ymd{d};
  if (!ymd.ok()) return std::nullopt;
  return CivilDate{static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

HolidayDate ParseHolidayDate(std::string_view entry) {
  HolidayDate d;
  d.text = std::string(entry);
  // "####" stands for the year of the day it is matched against; the day
  // and the month stay where the entry has them.
  d.every_year = entry.size() >= 4 && entry.substr(entry.size() - 4) == "####";
  if (entry.size() < 5) return d;
  auto day = WholeNumber(entry.substr(0, 2));
  auto month = WholeNumber(entry.substr(3, 2));
  auto year = d.every_year ? std::optional<long long>(0) : WholeNumber(entry.substr(entry.size() - 4));
  if (!day || !month || !year) return d;
  d.valid = true;
  d.day = static_cast<int>(*day);
  d.month = static_cast<int>(*month);
  d.year = static_cast<int>(*year);
  return d;
}

bool HolidayDate::Matches(const CivilDate& today) const {
  if (!valid) return false;
  const int y = every_year ? today.year : year;
  // No day up to 28 of a month from 1 to 12 carries over: the common case
  // needs no calendar arithmetic (the checks of long lists run through here).
  if (day >= 1 && day <= 28 && month >= 1 && month <= 12)
    return day == today.day && month == today.month && y == today.year;
  auto date = CombineDate(y, month, day);
  return date && *date == today;
}

bool DateMatches(std::string_view entry, const CivilDate& today) { return ParseHolidayDate(entry).Matches(today); }

std::optional<float> CutOffMoment(std::string_view dont_shutdown_after) {
  size_t colon = dont_shutdown_after.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view rest = dont_shutdown_after.substr(colon + 1);
  size_t colon2 = rest.find(':');  // seconds, if any, are ignored
  if (colon2 != std::string_view::npos) rest = rest.substr(0, colon2);
  auto h = WholeNumber(dont_shutdown_after.substr(0, colon));
  auto m = WholeNumber(rest);
  if (!h || !m) return std::nullopt;
  return static_cast<float>(*h * 3600 + *m * 60);
}

bool IsTooLate(int hour, int minute, const std::optional<float>& cut_off) {
  return cut_off && static_cast<float>(hour * 3600 + minute * 60) > *cut_off;
}

bool IsTooLate(int hour, int minute, std::string_view dont_shutdown_after) {
  return IsTooLate(hour, minute, CutOffMoment(dont_shutdown_after));
}

std::string ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
  if (what.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = text.find(what, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(with);
    pos = hit + what.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::optional<float> ScheduledMoment(std::string_view time) {
  if (time.empty()) return std::nullopt;
  auto hours = ParseNumber(time.substr(0, 2));
  auto minutes = ParseNumber(time.size() >= 2 ? time.substr(time.size() - 2) : time);
  if (!hours || !minutes) return std::nullopt;
  return static_cast<float>(*hours * 3600.0 + *minutes * 60.0);
}

bool ScheduledOnWeekday(std::string_view days, int weekday) {
  if (weekday < 1 || weekday > 7) return false;
  return days.find(static_cast<char>('0' + weekday)) != std::string_view::npos;
}

std::optional<int> DesktopCount(std::string_view text) {
  auto v = ParseNumber(text);
  if (!v || *v < 0 || *v > 24 * 60 || *v != static_cast<int>(*v)) return std::nullopt;
  return static_cast<int>(*v);
}

std::optional<float> LatestShutdownMoment(std::string_view hhmm) {
  if (hhmm.size() != 5 || hhmm[2] != ':') return std::nullopt;
  auto moment = ScheduledMoment(hhmm);
  if (!moment || *moment >= 86400) return std::nullopt;
  return moment;
}

std::string ClockText(float seconds) {
  const long s = static_cast<long>(seconds) % 86400;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

}  // namespace kalmora
