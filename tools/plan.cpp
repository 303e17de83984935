#include "tools/plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "config/config.h"
#include "config/numbers.h"
#include "config/rules.h"
#include "host/sim/sim_host.h"
#include "notify/smtp.h"
#include "service/day_state.h"
#include "service/desk.h"
#include "tools/events_xml.h"

namespace fs = std::filesystem;

namespace kalmora::plan {

namespace {

constexpr sim::LocalMs kDayMs = 86400000;

// A header's value as people read it: its folded lines joined, its encoded
// words decoded.
std::string HeaderValue(const std::string& mail, const std::string& name) {
  const size_t at = mail.find("\r\n" + name + ": ");
  const size_t start = mail.rfind(name + ": ", 0) == 0 ? 0 : at;
  if (start == std::string::npos) return "";
  const size_t value = mail.find(": ", start) + 2;
  size_t end = mail.find("\r\n", value);
  while (end != std::string::npos && end + 2 < mail.size() && (mail[end + 2] == ' ' || mail[end + 2] == '\t')) {
    end = mail.find("\r\n", end + 2);
  }
  // The records carry the mail's 8-bit text in UTF-8 already.
  return DecodedHeader(std::string_view(mail).substr(value, end == std::string::npos ? end : end - value), "utf-8");
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\r')); }

// What one day's records tell, in brief. A notice mail is the last mail
// before the entry that reports it; every other mail is a message holiday's.
// The service names a weekend shutdown as it names a holiday, by the
// weekend's placeholder; `holiday_row` tells them apart.
Day Summarize(const std::vector<sim::Record>& records, sim::LocalMs midnight, bool holiday_row) {
  static const char* kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  const LocalTime lt = sim::ToLocalTime(midnight);
  Day d;
  d.date = sim::FormatTime(midnight).substr(0, 10);
  d.weekday = kWeekdays[lt.weekday - 1];
  std::vector<Mail> mails;
  auto take_notice = [&](const std::string& text) {
    if (text.find("An email has been sent") != std::string::npos && !mails.empty()) {
      d.notices.push_back(mails.back());
      mails.pop_back();
    }
  };
  for (const auto& r : records) {
    const std::string kind = r["kind"], time = r["t"].get<std::string>().substr(11, 8);
    if (kind == "mail") {
      const std::string text = r["text"];
      const std::string bcc = HeaderValue(text, "Bcc");
      mails.push_back({time, bcc.empty() ? HeaderValue(text, "To") : bcc, HeaderValue(text, "Subject")});
    } else if (kind == "smtp") {
      // The envelope's recipients but the sender, who only gets the copy a
      // blind-copy mail is addressed to.
      std::string to;
      for (const auto& a : r["rcpt"]) {
        if (a != r["from"] || r["rcpt"].size() == 1) to += (to.empty() ? "" : ", ") + a.get<std::string>();
      }
      mails.push_back({time, to, HeaderValue(r["text"], "Subject")});
    } else if (kind == "spawn" && r["cmd"].get<std::string>().rfind("net send ", 0) == 0) {
      const std::string cmd = r["cmd"];
      d.net.push_back(cmd.substr(9, cmd.find(' ', 9) - 9));
    } else if (kind == "halt") {
      // A call that failed is followed by the forced shutdown.
      if (d.halt_at.empty() || !d.action.empty()) d.halt_at = time;
      const std::string call = r.value("call", "ExitWindowsEx");
      d.action = call == "SetSuspendState"                          ? r.value("state", "")
                 : call == "ExitWindowsEx"                          ? ""
                 : (r.value("flags", 0u) & kShutdownInstallUpdates) ? "shutdown with updates"
                                                                    : "shutdown";
    } else if (kind == "event") {
      const std::string text = r["text"];
      if (r["type"] == 1) d.errors.push_back(FirstLine(text));
      if (text.rfind("Kalmora: Today is holiday '", 0) == 0) {
        d.shutdown = holiday_row || lt.weekday < 6 ? "holiday" : "weekend";
        d.name = text.substr(27, text.find("'.", 27) - 27);
        take_notice(text);
      } else if (text.rfind("Kalmora: A scheduled shutdown will take place", 0) == 0) {
        d.warning_at = time;
        take_notice(text);
      } else if (text.rfind("Kalmora: Online update finished.", 0) == 0) {
        d.updated = true;
      } else if (const std::string by = "are sent by the computer "; text.find(by) != std::string::npos) {
        const size_t at = text.find(by) + by.size();
        d.mails_sent_by = text.substr(at, text.find(" (MsgHolidaysComputer)") - at);
        d.mails_left = std::atoi(text.c_str() + text.find('(') + 1);
      }
    }
  }
  if (d.shutdown.empty() && !d.halt_at.empty()) d.shutdown = "scheduled";
  d.mails = std::move(mails);
  return d;
}

// kalmora.ini as it stands in the work directory, read as the service reads it.
ConfigReadResult ReadConfiguration(const std::string& work) {
  sim::World world(sim::Options{.work_dir = work});
  sim::SimHost host(world, "kalmora", "", false);
  return ParseConfiguration(host, host, work + "/kalmora.ini", KALMORA_VERSION_MAJOR);
}

// Whether the reading lists the date as a shutdown holiday.
bool ListsShutdownHoliday(const HolidayTables& tables, sim::LocalMs midnight) {
  const LocalTime lt = sim::ToLocalTime(midnight);
  const CivilDate date{lt.year, lt.month, lt.day};
  const auto& dates = tables.lstShutdownHolidaysDates;
  return std::any_of(dates.begin(), dates.end(), [&](const HolidayDate& d) { return d.Matches(date); });
}

}  // namespace

namespace {

sim::Options DayOptions(const Options& o, sim::LocalMs midnight) {
  sim::Options so;
  so.work_dir = o.work;
  so.service = true;
  so.start = midnight + o.boot_minute * 60000LL;
  so.until = midnight + kDayMs - 1;
  so.server_url = o.server_url;
  so.server_dir = o.server_dir;
  // Without a server to simulate, every day would only report the server
  // unreachable: the update is left out, and Text says so once.
  so.online_update = !o.server_url.empty();
  return so;
}

// How far people at the desk can move the day's halt, as the service's own
// postpone policy allows.
void LatestHalt(const Settings& c, Day& d) {
  const float halt = ScheduledMoment(d.halt_at.substr(0, 5)).value_or(0) + std::stoi(d.halt_at.substr(6, 2));
  const double moment = LatestReach(c, halt);
  d.holds = c.WhileRunning;
  if (c.WhileUpdating) d.holds.push_back("Windows updates");
  if (moment >= kDaySeconds) {
    d.may_give_up = true;
  } else if (moment > halt) {
    d.latest_at = ClockText(static_cast<float>(moment));
  }
}

}  // namespace

std::vector<Day> Run(const Options& o) {
  std::error_code ec;
  sim::CopyTree(o.dir, o.work, ec);
  std::vector<Day> days;
  // Read once: only an online update changes the file while the plan runs,
  // and a day that ran one reads it again.
  ConfigReadResult read = ReadConfiguration(o.work);
  for (int i = 0; i < o.days; ++i) {
    const sim::LocalMs midnight = o.from + i * kDayMs;
    sim::World world(DayOptions(o, midnight));
    world.Run();
    if (std::any_of(world.records().begin(), world.records().end(),
                    [](const sim::Record& r) { return r["kind"] == "file" && r.value("to", "") == "kalmora.ini"; })) {
      read = ReadConfiguration(o.work);
    }
    days.push_back(Summarize(world.records(), midnight, ListsShutdownHoliday(*read.tables, midnight)));
    days.back().update_left_out = o.server_url.empty() && read.values->UpdateEnabled;
    if (!days.back().halt_at.empty()) LatestHalt(*read.values, days.back());
  }
  return days;
}

std::string Text(const std::vector<Day>& days) {
  std::string out;
  bool left_out = false;
  for (const Day& d : days) {
    out += d.date + " " + d.weekday + "  ";
    if (d.halt_at.empty()) {
      out += "no shutdown";
    } else {
      out += "shutdown at " + d.halt_at + " (" + (d.shutdown == "holiday" ? "holiday " + d.name : d.shutdown) + ")";
    }
    if (!d.action.empty()) out += ", action " + d.action;
    if (!d.warning_at.empty()) out += ", warned at " + d.warning_at;
    if (!d.latest_at.empty()) {
      out += ", at the latest " + d.latest_at +
             (d.holds.empty() ? " with postpones and work at the desk" : " with postpones, work at the desk and holds");
    }
    if (d.may_give_up)
      out += d.holds.empty() ? ", or given up at midnight while someone works"
                             : ", or given up at midnight while the wait lasts";
    if (!d.holds.empty() && !d.halt_at.empty()) {
      out += ", held while ";
      for (size_t i = 0; i < d.holds.size(); ++i)
        out += (i ? i + 1 == d.holds.size() ? " or " : ", " : "") + d.holds[i];
      out += d.holds.size() == 1 ? " runs" : " run";
    }
    out += "\n";
    for (const Mail& m : d.notices) out += "    notice " + m.at + " to " + m.to + ": " + m.subject + "\n";
    for (const std::string& n : d.net) out += "    NET SEND to " + n + "\n";
    for (const Mail& m : d.mails) out += "    mail   " + m.at + " to " + m.to + ": " + m.subject + "\n";
    if (d.mails_left) {
      out += "    mail   " + std::to_string(d.mails_left) + " message-holiday mail(s) left to " + d.mails_sent_by +
             " (MsgHolidaysComputer)\n";
    }
    for (const std::string& e : d.errors) out += "    error  " + e + "\n";
    left_out = left_out || d.update_left_out;
  }
  if (left_out) {
    out +=
        "The online update is on in kalmora.ini; this plan does not simulate it (give --server URL=DIR to do "
        "so).\n";
  }
  return out;
}

std::string Json(const std::vector<Day>& days) {
  sim::Record all = sim::Record::array();
  for (const Day& d : days) {
    sim::Record day{{"date", d.date},
                    {"weekday", d.weekday},
                    {"shutdown", d.shutdown},
                    {"name", d.name},
                    {"halt", d.halt_at},
                    {"warning", d.warning_at},
                    {"latest", d.latest_at},
                    {"may_give_up", d.may_give_up},
                    {"action", d.action},
                    {"holds", d.holds},
                    {"net", d.net},
                    {"errors", d.errors},
                    {"notices", sim::Record::array()},
                    {"mails", sim::Record::array()},
                    {"mails_sent_by", d.mails_sent_by},
                    {"mails_left", d.mails_left}};
    for (const Mail& m : d.notices) day["notices"].push_back({{"at", m.at}, {"to", m.to}, {"subject", m.subject}});
    for (const Mail& m : d.mails) day["mails"].push_back({{"at", m.at}, {"to", m.to}, {"subject", m.subject}});
    all.push_back(std::move(day));
  }
  return all.dump(2) + "\n";
}

namespace {

// RFC 5545 text: backslash, semicolon and comma escaped, lines folded at 75
// octets, CR LF ends.
std::string IcsText(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == ';' || c == ',') out += '\\';
    out += c;
  }
  return out;
}

std::string IcsLine(const std::string& line) {
  std::string out;
  for (size_t pos = 0; pos < line.size(); pos += pos == 0 ? 75 : 74) {
    out += (pos ? "\r\n " : "") + line.substr(pos, pos == 0 ? 75 : 74);
  }
  return out + "\r\n";
}

std::string IcsStamp(const std::string& date, const std::string& time) {
  std::string t = time.empty() ? "000000" : time.substr(0, 2) + time.substr(3, 2) + time.substr(6, 2);
  return date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) + "T" + t;
}

}  // namespace

std::vector<Day> Select(std::vector<Day> days, const Selection& s) {
  for (Day& d : days) {
    if (!s.shutdowns || (!s.weekends && d.shutdown == "weekend")) {
      d.shutdown.clear();
      d.name.clear();
      d.halt_at.clear();
      d.warning_at.clear();
      d.notices.clear();
      d.net.clear();
    }
    if (!s.mails) {
      d.mails.clear();
      d.mails_left = 0;
      d.mails_sent_by.clear();
    }
  }
  return days;
}

namespace {

// 64-bit FNV-1a: a short, stable name for an event's identity.
std::string Fingerprint(const std::string& text) {
  uint64_t h = 14695981039346656037ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

}  // namespace

// An event's UID comes from what it is (date, kind, name), not from its
// place in the file: adding a row elsewhere changes no other UID, and a
// calendar that imports the file again updates its events instead of
// doubling them.
std::string Ics(const std::vector<Day>& days, const std::string& generated) {
  std::string out =
      "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Kalmora//kalmora-sim plan//EN\r\nCALSCALE:GREGORIAN\r\n";
  std::map<std::string, int> seen;
  auto event = [&](const std::string& date, const std::string& time, int minutes, const std::string& kind,
                   const std::string& name, const std::string& summary, const std::string& description) {
    const std::string start = IcsStamp(date, time);
    std::string uid = start.substr(0, 8) + "-" + kind + "-" + Fingerprint(kind + "\n" + date + "\n" + name);
    // The same mail twice on one day: the second is told apart by its place among those.
    if (const int n = seen[uid]++; n > 0) uid += "-" + std::to_string(n + 1);
    out += "BEGIN:VEVENT\r\n";
    out += IcsLine("UID:" + uid + "@kalmora-plan");
    out += "DTSTAMP:" + generated + "\r\nDTSTART:" + start + "\r\nDURATION:PT" + std::to_string(minutes) + "M\r\n";
    out += IcsLine("SUMMARY:" + IcsText(summary));
    out += IcsLine("DESCRIPTION:" + IcsText(description));
    out += "END:VEVENT\r\n";
  };
  for (const Day& d : days) {
    if (!d.halt_at.empty()) {
      std::string notices;
      for (const Mail& m : d.notices) notices += "Notice to " + m.to + " at " + m.at + ". ";
      const std::string what = d.shutdown == "holiday" ? d.name : d.shutdown;
      event(d.date, d.halt_at, 15, "shutdown", d.shutdown + "\n" + d.name, "Kalmora: shutdown (" + what + ")",
            notices + "Halt at " + d.halt_at);
    }
    for (const Mail& m : d.mails) {
      event(d.date, m.at, 5, "mail", m.subject + "\n" + m.to, "Kalmora: mail \"" + m.subject + "\"", "To " + m.to);
    }
  }
  return out + "END:VCALENDAR\r\n";
}

namespace {

// One line of a day's details, for the hover text and the list.
std::string Details(const Day& d) {
  std::string s = d.halt_at.empty() ? "no shutdown"
                                    : "shutdown at " + d.halt_at + " (" +
                                          (d.shutdown == "holiday" ? "holiday " + d.name : d.shutdown) + ")";
  if (!d.latest_at.empty()) s += ", at the latest " + d.latest_at;
  if (d.may_give_up) s += ", or given up while someone works";
  for (const Mail& m : d.notices) s += "; notice to " + m.to;
  for (const Mail& m : d.mails) s += "; mail \"" + m.subject + "\" to " + m.to;
  if (d.mails_left) s += "; " + std::to_string(d.mails_left) + " mail(s) left to " + d.mails_sent_by;
  for (const std::string& e : d.errors) s += "; error: " + e;
  return s;
}

}  // namespace

// One page, no script and nothing from the network: a month grid for each
// month of the plan, each day coloured by what happens, the details on hover
// and in a list below.
std::string Html(const std::vector<Day>& days) {
  static const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Kalmora plan</title>\n<style>\n"
      "body{font-family:sans-serif;margin:1em}.month{display:inline-block;vertical-align:top;margin:0 1em 1em 0}\n"
      "table{border-collapse:collapse}td,th{width:2em;height:1.6em;text-align:center;border:1px solid #ccc}\n"
      ".holiday{background:#e53935;color:#fff}.weekend{background:#fb8c00}.scheduled{background:#1e88e5;color:#fff}\n"
      ".mail{outline:3px solid #43a047;outline-offset:-3px}.error{text-decoration:underline wavy red}\n"
      ".legend span{padding:0 .5em;margin-right:.5em}\n</style></head><body>\n<h1>Kalmora plan</h1>\n"
      "<p class=\"legend\"><span class=\"holiday\">holiday shutdown</span><span class=\"weekend\">weekend "
      "shutdown</span><span class=\"scheduled\">scheduled shutdown</span><span class=\"mail\">message "
      "day</span></p>\n";
  std::string month_key;
  for (const Day& d : days) {
    const std::string key = d.date.substr(0, 7);
    const int day = std::stoi(d.date.substr(8, 2));
    const int weekday = static_cast<int>(std::string("MonTueWedThuFriSatSun").find(d.weekday) / 3);
    if (key != month_key) {
      if (!month_key.empty()) out += "</tr></table></div>\n";
      month_key = key;
      out += "<div class=\"month\"><table><caption>" + std::string(kMonths[std::stoi(key.substr(5)) - 1]) + " " +
             key.substr(0, 4) +
             "</caption>\n<tr><th>Mo</th><th>Tu</th><th>We</th><th>Th</th><th>Fr</th><th>Sa</th>"
             "<th>Su</th></tr>\n<tr>";
      for (int i = 0; i < weekday; ++i) out += "<td></td>";
    } else if (weekday == 0) {
      out += "</tr>\n<tr>";
    }
    std::string cls = d.shutdown;
    if (!d.mails.empty()) cls += cls.empty() ? "mail" : " mail";
    if (!d.errors.empty()) cls += cls.empty() ? "error" : " error";
    out += "<td id=\"d" + d.date + "\"" + (cls.empty() ? "" : " class=\"" + cls + "\"") + " title=\"" +
           report::Escaped(d.date + ": " + Details(d)) + "\">" + std::to_string(day) + "</td>";
  }
  if (!month_key.empty()) out += "</tr></table></div>\n";
  out += "<h2>Days with something to do</h2>\n<ul>\n";
  for (const Day& d : days) {
    if (d.halt_at.empty() && d.mails.empty() && d.errors.empty()) continue;
    out += "<li>" + report::Escaped(d.date + " " + d.weekday + ": " + Details(d)) + "</li>\n";
  }
  return out + "</ul>\n</body></html>\n";
}

}  // namespace kalmora::plan
