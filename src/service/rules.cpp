#include "service/rules.h"

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

bool DateMatches(std::string_view entry, const CivilDate& today) {
  std::string d(entry);
  if (d.size() >= 4 && d.compare(d.size() - 4, 4, "####") == 0) {
    char year[16];
    std::snprintf(year, sizeof year, "%04d", today.year);
    d = d.substr(0, 6) + year;
  }
  if (d.size() < 5) return false;
  auto day = WholeNumber(std::string_view(d).substr(0, 2));
  auto month = WholeNumber(std::string_view(d).substr(3, 2));
  auto year = d.size() >= 4 ? WholeNumber(std::string_view(d).substr(d.size() - 4)) : std::nullopt;
  if (!day || !month || !year) return false;
  // No day up to 28 of a month from 1 to 12 carries over: the common case
  // needs no calendar arithmetic (the checks of long lists run through here).
  const long long dd = *day, mm = *month, yy = *year;
  if (dd >= 1 && dd <= 28 && mm >= 1 && mm <= 12) return dd == today.day && mm == today.month && yy == today.year;
  auto date = CombineDate(yy, mm, dd);
  return date && date->year == today.year && date->month == today.month && date->day == today.day;
}

bool IsTooLate(int hour, int minute, std::string_view dont_shutdown_after) {
  size_t colon = dont_shutdown_after.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view rest = dont_shutdown_after.substr(colon + 1);
  size_t colon2 = rest.find(':');  // seconds, if any, are ignored
  if (colon2 != std::string_view::npos) rest = rest.substr(0, colon2);
  auto h = WholeNumber(dont_shutdown_after.substr(0, colon));
  auto m = WholeNumber(rest);
  if (!h || !m) return false;
  return hour * 60 + minute > *h * 60 + *m;
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

std::optional<int> DesktopCount(const std::string& text) {
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
