#include "tools/report.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ctime>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <unordered_set>

#include "notify/entries.h"

namespace kalmora::report {

namespace {

constexpr int64_t kDayMs = 86400000;
constexpr size_t kMostDays = 3660;

// "YYYY-MM-DD" and "HH:MM:SS" of a moment, in the report's local time.
std::pair<std::string, std::string> LocalParts(int64_t utc_ms, const Options& o) {
  int64_t shown = utc_ms;
  if (o.utc_offset_minutes) {
    shown += *o.utc_offset_minutes * 60000LL;
  } else {
    const std::time_t t = static_cast<std::time_t>(utc_ms / 1000);
    std::tm local{}, utc{};
#ifdef _WIN32
    localtime_s(&local, &t);
    gmtime_s(&utc, &t);
#else
    localtime_r(&t, &local);
    gmtime_r(&t, &utc);
#endif
    utc.tm_isdst = local.tm_isdst;
    shown += static_cast<int64_t>(std::difftime(std::mktime(&local), std::mktime(&utc))) * 1000;
  }
  const std::string text = FormatSystemTime(shown);
  return {text.substr(0, 10), text.substr(11, 8)};
}

std::string ActionOf(const std::string& words) {
  if (words.starts_with("installs updates")) return "shutdown with updates";
  if (words.starts_with("goes into hibernation")) return "hibernate";
  if (words.starts_with("goes to sleep")) return "sleep";
  return "shutdown";
}

std::string OneLine(std::string text) {
  for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, " ");
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

struct Day {
  HostDay row;
  bool halt = false, given_up = false, call_failed = false, armed = false;
  std::string planned;  // HH:MM:SS of the halt the decision planned
  int64_t halt_utc = 0;
};

void Take(Day& d, const ForwardedEvent& e, const std::string& time) {
  const auto read = ReadEntryText(e.text);
  if (e.level >= 1 && e.level <= 2) d.row.errors.push_back(OneLine(e.text));
  if (!read) {
    if (e.level > 2) ++d.row.other;
    return;
  }
  const std::vector<std::string>& v = read->values;
  switch (read->entry) {
    case Entry::DailyReport: {
      d.row.version = v[0];
      d.row.configuration = v[1];
      d.row.decision = v[4];
      const size_t at = v[4].find("shutdown at ");
      d.planned = at == std::string::npos ? "" : v[4].substr(at + 12, 8);
      d.armed = !d.planned.empty();
      break;
    }
    case Entry::Holiday:
      if (d.row.decision.empty()) d.row.decision = "holiday '" + v[0] + "'";
      d.armed = true;
      break;
    case Entry::Warning:
      if (d.row.decision.empty()) d.row.decision = "scheduled shutdown";
      d.armed = true;
      break;
    case Entry::HaltForced:
    case Entry::HaltNow:
      d.halt = true;
      d.halt_utc = e.utc_ms;
      d.row.halted_at = time;
      d.row.action = read->entry == Entry::HaltForced ? "forced shutdown" : ActionOf(v[0]);
      break;
    case Entry::HaltCallFailed:
      // The forced shutdown follows the call that failed.
      d.call_failed = true;
      d.row.action = "forced shutdown";
      break;
    case Entry::Postponed:
      d.row.postponed_by.push_back(v[3]);
      break;
    case Entry::Waits:
      d.row.waited_for.push_back(v[1]);
      break;
    case Entry::GivenUp:
      d.given_up = true;
      break;
    case Entry::UpdateReport: {
      std::istringstream lines(e.text);
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find("updated to version") != std::string::npos || line.find("could not be") != std::string::npos) {
          d.row.updates.push_back(line);
        }
      }
      break;
    }
    default:
      break;
  }
}

void Finish(Day& d) {
  HostDay& r = d.row;
  if (d.call_failed) {
    r.outcome = "failed";
  } else if (d.given_up) {
    r.outcome = "given up";
  } else if (d.halt) {
    r.outcome = "halted";
  } else if (d.armed) {
    r.outcome = "failed";
    r.errors.push_back("A halt was planned" + (d.planned.empty() ? std::string() : " for " + d.planned) +
                       ", but neither a halt nor a give-up was logged.");
  } else {
    r.outcome = "no halt planned";
  }
}

int64_t DayNumber(const std::string& date) {
  int64_t ms = 0;
  return ParseSystemTime(date + "T00:00:00Z", ms) ? ms / kDayMs : 0;
}

}  // namespace

std::vector<HostDay> Build(const std::vector<ForwardedEvent>& all, const Options& o) {
  // Forwarding retries deliver the same event again: one of each.
  std::vector<const ForwardedEvent*> events;
  std::unordered_set<std::string> seen;
  for (const ForwardedEvent& e : all) {
    if (e.provider != "Kalmora") continue;
    if (seen.insert(e.computer + '\n' + std::to_string(e.record_id)).second) events.push_back(&e);
  }
  std::stable_sort(events.begin(), events.end(), [](const ForwardedEvent* a, const ForwardedEvent* b) {
    return std::tie(a->computer, a->utc_ms, a->record_id) < std::tie(b->computer, b->utc_ms, b->record_id);
  });
  std::map<std::pair<std::string, std::string>, Day> days;  // (date, computer)
  std::set<std::string> computers(o.expect.begin(), o.expect.end());
  std::string first, last;
  for (size_t i = 0; i < events.size(); ++i) {
    const ForwardedEvent& e = *events[i];
    const auto [date, time] = LocalParts(e.utc_ms, o);
    Day& d = days[{date, e.computer}];
    d.row.computer = e.computer;
    d.row.date = date;
    Take(d, e, time);
    // Off from the halt to the host's next entry, whenever that comes.
    if (d.halt && d.halt_utc == e.utc_ms && !d.row.hours_off) {
      for (size_t j = i + 1; j < events.size() && events[j]->computer == e.computer; ++j) {
        if (events[j]->utc_ms > e.utc_ms) {
          d.row.hours_off = static_cast<double>(events[j]->utc_ms - e.utc_ms) / 3600000.0;
          break;
        }
      }
    }
    computers.insert(e.computer);
    if (first.empty() || date < first) first = date;
    if (last.empty() || date > last) last = date;
  }
  // The days shown: those the events cover, or the days asked for (at most
  // ten years, so that one host's clock far off makes no million rows).
  std::set<std::string> dates;
  for (const auto& [key, day] : days) dates.insert(key.first);
  if (o.from || o.to) {
    dates.clear();
    const int64_t last_day = DayNumber(o.to.value_or(last));
    for (int64_t n = DayNumber(o.from.value_or(first)); n <= last_day && dates.size() < kMostDays; ++n) {
      dates.insert(FormatSystemTime(n * kDayMs).substr(0, 10));
    }
  }
  std::vector<HostDay> rows;
  for (const std::string& date : dates) {
    for (const std::string& c : computers) {
      auto it = days.find({date, c});
      if (it == days.end()) {
        rows.push_back(HostDay{.computer = c, .date = date, .outcome = "silent"});
        continue;
      }
      Finish(it->second);
      rows.push_back(std::move(it->second.row));
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [](const HostDay& a, const HostDay& b) {
    return std::make_tuple(a.date, !a.attention(), a.computer) < std::make_tuple(b.date, !b.attention(), b.computer);
  });
  return rows;
}

namespace {

std::string Hours(double h) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", h);
  return buf;
}

std::string Joined(const std::vector<std::string>& v, const char* by) {
  std::string out;
  for (const std::string& s : v) out += (out.empty() ? "" : by) + s;
  return out;
}

// What happened, in brief: "halted 20:00:10 (hibernate), postponed 1x by
// session 2 (user MAYER), waited for backup.exe (process 4242) runs".
std::string Happened(const HostDay& r) {
  std::string out = r.outcome;
  if (!r.halted_at.empty()) out += " " + r.halted_at + " (" + r.action + ")";
  if (!r.postponed_by.empty())
    out += ", postponed " + std::to_string(r.postponed_by.size()) + "x by " + Joined(r.postponed_by, ", ");
  if (!r.waited_for.empty()) out += ", waited: " + Joined(r.waited_for, "; ");
  return out;
}

struct Totals {
  double hours = 0;
  int hosts = 0;
};

Totals Total(const std::vector<HostDay>& rows) {
  Totals t;
  std::set<std::string> hosts;
  for (const HostDay& r : rows) {
    if (r.hours_off) t.hours += *r.hours_off;
    if (r.hours_off) hosts.insert(r.computer);
  }
  t.hosts = static_cast<int>(hosts.size());
  return t;
}

std::string Energy(double hours, double watts) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.2f kWh", hours * watts / 1000.0);
  return buf;
}

nlohmann::ordered_json Object(const HostDay& r, const Options& o) {
  nlohmann::ordered_json j{
      {"computer", r.computer},
      {"date", r.date},
      {"version", r.version},
      {"configuration", r.configuration},
      {"decision", r.decision},
      {"outcome", r.outcome},
      {"halted_at", r.halted_at.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(r.halted_at)},
      {"action", r.action},
      {"postpones", r.postponed_by.size()},
      {"postponed_by", r.postponed_by},
      {"waited_for", r.waited_for},
      {"errors", r.errors},
      {"updates", r.updates},
      {"other", r.other},
      {"hours_off", r.hours_off ? nlohmann::ordered_json(*r.hours_off) : nlohmann::ordered_json()},
      {"attention", r.attention()}};
  if (o.watts)
    j["kwh_not_used_estimate"] =
        r.hours_off ? nlohmann::ordered_json(*r.hours_off * *o.watts / 1000.0) : nlohmann::ordered_json();
  return j;
}

}  // namespace

std::string Text(const std::vector<HostDay>& rows, const Options& o, const std::vector<EventProblem>& problems) {
  std::string out;
  for (const EventProblem& p : problems) out += p.file + ":" + std::to_string(p.line) + ": " + p.what + " (left out)\n";
  std::string date;
  for (const HostDay& r : rows) {
    if (r.date != date) {
      date = r.date;
      int attention = 0;
      std::map<std::string, int> outcomes;
      for (const HostDay& s : rows) {
        if (s.date != date) continue;
        ++outcomes[s.outcome];
        attention += s.attention();
      }
      out += (out.empty() ? "" : "\n") + date + ":";
      for (const auto& [what, n] : outcomes) out += " " + std::to_string(n) + " " + what + ",";
      out += " " + std::to_string(attention) + " need attention\n";
    }
    out += std::string(r.attention() ? "  ! " : "    ") + r.computer + "  " + Happened(r);
    if (!r.decision.empty()) out += "; decided: " + r.decision;
    if (!r.version.empty()) out += "; Kalmora " + r.version + " (configuration " + r.configuration + ")";
    if (r.hours_off) {
      out += "; off " + Hours(*r.hours_off) + " h";
      if (o.watts) out += " (" + Energy(*r.hours_off, *o.watts) + " not used, estimated)";
    }
    if (r.other) out += "; " + std::to_string(r.other) + " other entries";
    out += "\n";
    for (const std::string& e : r.errors) out += "        error: " + e + "\n";
    for (const std::string& u : r.updates) out += "        update: " + u + "\n";
  }
  const Totals t = Total(rows);
  out += "\nHours off in all: " + Hours(t.hours) + " h on " + std::to_string(t.hosts) + " host(s)";
  if (o.watts) out += "; energy not used, estimated at " + Hours(*o.watts) + " W a host: " + Energy(t.hours, *o.watts);
  return out + "\n";
}

std::string JsonLines(const std::vector<HostDay>& rows, const Options& o) {
  std::string out;
  for (const HostDay& r : rows) out += Object(r, o).dump() + "\n";
  return out;
}

std::string Csv(const std::vector<HostDay>& rows, const Options& o) {
  auto field = [](const nlohmann::ordered_json& v) {
    std::string s = v.is_string()  ? v.get<std::string>()
                    : v.is_null()  ? std::string()
                    : v.is_array() ? Joined(v.get<std::vector<std::string>>(), "; ")
                                   : v.dump();
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
  };
  std::string out;
  for (size_t i = 0; i < rows.size() || (i == 0 && rows.empty()); ++i) {
    const auto j = Object(rows.empty() ? HostDay{} : rows[i], o);
    if (i == 0) {
      for (auto it = j.begin(); it != j.end(); ++it) out += (it == j.begin() ? "" : ",") + it.key();
      out += "\r\n";
    }
    if (rows.empty()) break;
    for (auto it = j.begin(); it != j.end(); ++it) out += (it == j.begin() ? "" : ",") + field(it.value());
    out += "\r\n";
  }
  return out;
}

namespace {

std::string ClassOf(const std::string& outcome) {
  std::string c = outcome;
  std::replace(c.begin(), c.end(), ' ', '-');
  return c;
}

}  // namespace

std::string Html(const std::vector<HostDay>& rows, const Options& o, const std::vector<EventProblem>& problems) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>Kalmora: the fleet</title>\n<style>\n"
      "body{font-family:system-ui,sans-serif;margin:2em}table{border-collapse:collapse;margin-bottom:2em}"
      "th,td{border:1px solid #ccc;padding:.3em .6em;text-align:left;vertical-align:top}"
      ".halted{background:#c8e6c9}.no-halt-planned{background:#eeeeee}.given-up{background:#fff3c4}"
      ".failed{background:#ffcdd2}.silent{background:#e1bee7}.legend span{padding:.2em .6em;margin-right:.4em}"
      "td.errors{color:#b71c1c}\n</style></head><body>\n<h1>Kalmora: the fleet</h1>\n"
      "<p class=\"legend\"><span class=\"halted\">halted</span><span class=\"no-halt-planned\">no halt planned</span>"
      "<span class=\"given-up\">given up</span><span class=\"failed\">failed</span><span class=\"silent\">silent</span>"
      "</p>\n";
  if (!problems.empty()) {
    out += "<ul class=\"problems\">";
    for (const EventProblem& p : problems) {
      out += "<li>" + Escaped(p.file) + ":" + std::to_string(p.line) + ": " + Escaped(p.what) + " (left out)</li>";
    }
    out += "</ul>\n";
  }
  std::string date;
  for (const HostDay& r : rows) {
    if (r.date != date) {
      if (!date.empty()) out += "</table>\n";
      date = r.date;
      out += "<h2>" + date + "</h2>\n<table id=\"d" + date +
             "\"><tr><th>Computer</th><th>Outcome</th><th>Decision</th><th>Version</th><th>Postpones</th>"
             "<th>Waited for</th><th>Hours off</th><th>Errors and updates</th></tr>\n";
    }
    std::string notes;
    for (const std::string& e : r.errors) notes += "<div>" + Escaped(e) + "</div>";
    for (const std::string& u : r.updates) notes += "<div class=\"update\">" + Escaped(u) + "</div>";
    std::string off = r.hours_off ? Hours(*r.hours_off) : "";
    if (r.hours_off && o.watts) off += " (" + Energy(*r.hours_off, *o.watts) + ", estimate)";
    out +=
        "<tr class=\"" + ClassOf(r.outcome) + "\"><td>" + Escaped(r.computer) + "</td><td>" +
        Escaped(r.outcome + (r.halted_at.empty() ? "" : " " + r.halted_at + " (" + r.action + ")")) + "</td><td>" +
        Escaped(r.decision) + "</td><td>" + Escaped(r.version.empty() ? "" : r.version + " / " + r.configuration) +
        "</td><td>" +
        (!r.postponed_by.empty() ? std::to_string(r.postponed_by.size()) + ": " + Escaped(Joined(r.postponed_by, ", "))
                                 : "") +
        "</td><td>" + Escaped(Joined(r.waited_for, "; ")) + "</td><td>" + off + "</td><td class=\"errors\">" + notes +
        "</td></tr>\n";
  }
  if (!date.empty()) out += "</table>\n";
  const Totals t = Total(rows);
  out += "<p>Hours off in all: " + Hours(t.hours) + " h on " + std::to_string(t.hosts) + " host(s)";
  if (o.watts) out += "; energy not used, estimated at " + Hours(*o.watts) + " W a host: " + Energy(t.hours, *o.watts);
  return out + ".</p>\n</body></html>\n";
}

int Main(int argc, char** argv) {
  CLI::App app{"Turns the forwarded events of a fleet into one page: a row per host and day.", "kalmora-sim report"};
  std::vector<std::string> files;
  std::string date, from, to, expect, format = "text", output;
  std::optional<double> watts;
  std::optional<int> offset;
  app.add_option("files", files, "exported events (wevtutil qe … /f:xml, or PowerShell's ToXml())")->required();
  app.add_option("--date", date, "one day, YYYY-MM-DD");
  app.add_option("--from", from, "first day, YYYY-MM-DD");
  app.add_option("--to", to, "last day, YYYY-MM-DD");
  app.add_option("--expect", expect, "FILE of computer names, one a line: each is silent on a day without an entry");
  app.add_option("--watts", watts, "a host's power draw when on, for the estimate of energy not used");
  app.add_option("--utc-offset", offset, "show times at this many minutes east of UTC (default: this machine's time)");
  app.add_option("--format", format, "text, json, csv or html")->check(CLI::IsMember({"text", "json", "csv", "html"}));
  app.add_option("-o", output, "write to FILE instead of the standard output");
  auto unusable = [](const std::string& why) {
    std::cerr << "kalmora-sim report: " << why << "\n";
    return 2;
  };
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return unusable(e.what());
  }
  Options o;
  o.watts = watts;
  o.utc_offset_minutes = offset;
  int64_t check = 0;
  for (std::string* d : {&date, &from, &to}) {
    if (!d->empty() && (d->size() != 10 || !ParseSystemTime(*d + "T00:00:00Z", check))) {
      return unusable("'" + *d + "' is not a date YYYY-MM-DD");
    }
  }
  if (!date.empty() && (!from.empty() || !to.empty())) return unusable("give --date or --from and --to, not both");
  if (!date.empty()) from = to = date;
  if (!from.empty()) o.from = from;
  if (!to.empty()) o.to = to;
  if (o.from && o.to && *o.to < *o.from) return unusable("--to lies before --from");
  if (o.from && o.to && DayNumber(*o.to) - DayNumber(*o.from) >= static_cast<int64_t>(kMostDays)) {
    return unusable("--from and --to: at most " + std::to_string(kMostDays) + " days");
  }
  if (watts && (*watts <= 0 || *watts > 100000)) return unusable("--watts: a power draw above 0");
  if (!expect.empty()) {
    std::ifstream in(expect, std::ios::binary);
    if (!in) return unusable("--expect: cannot read '" + expect + "'");
    for (std::string line; std::getline(in, line);) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (!line.empty()) o.expect.push_back(line);
    }
  }
  std::vector<ForwardedEvent> events;
  std::vector<EventProblem> problems;
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    if (!in) return unusable("cannot read '" + f + "'");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    ReadEvents(bytes.str(), f, events, problems);
  }
  if (events.empty()) return unusable("no event in " + std::string(files.size() == 1 ? "the file" : "the files"));
  const std::vector<HostDay> rows = Build(events, o);
  const std::string text = format == "json"   ? JsonLines(rows, o)
                           : format == "csv"  ? Csv(rows, o)
                           : format == "html" ? Html(rows, o, problems)
                                              : Text(rows, o, problems);
  if (output.empty()) {
    std::cout << text;
  } else {
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return unusable("-o: cannot write '" + output + "'");
  }
  if (format != "text" && format != "html") {
    for (const EventProblem& p : problems) std::cerr << p.file << ":" << p.line << ": " << p.what << " (left out)\n";
  }
  return std::any_of(rows.begin(), rows.end(), [](const HostDay& r) { return r.attention(); }) ? 1 : 0;
}

}  // namespace kalmora::report
