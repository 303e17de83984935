// kalmora-sim: shows what a program directory (its kalmora.ini above all)
// will do on a given day, on the simulated host: nothing is shut down,
// mailed or downloaded for real.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>

#include "check/config_check.h"
#include "config/numbers.h"
#include "host/sim/sim_host.h"
#include "host/sim/sim_world.h"
#include "tools/plan.h"
#include "tools/publish.h"
#include "update/versions.h"

namespace fs = std::filesystem;
using namespace kalmora;

namespace {

int Unusable(const std::string& message) {
  std::cerr << "kalmora-sim: " << message << "\n";
  return 2;
}

// Now in UTC as iCalendar writes it: 20261207T093000Z.
std::string UtcStamp() {
  const std::time_t t = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &utc);
  return buf;
}

// Kalmora's argument string is taken here, not by the option parser: the
// next argument is the value even when it begins with a dash ("--args
// -debug") or is empty, and "--args=VALUE" works too. Nothing else of the
// command line is looked at.
bool TakeArgsValue(int argc, char** argv, std::vector<std::string>& rest, std::optional<std::string>& value,
                   std::string& problem) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::optional<std::string> v;
    if (a == "--args") {
      if (i + 1 >= argc) {
        problem = "--args needs a value (the argument string; \"\" for none)";
        return false;
      }
      v = argv[++i];
    } else if (a.rfind("--args=", 0) == 0) {
      v = a.substr(7);
    } else {
      rest.push_back(a);
      continue;
    }
    if (value) {
      problem = "--args is given more than once";
      return false;
    }
    value = std::move(v);
  }
  return true;
}

// A new directory of our own under the system's temporary directory, never
// one that exists already: it is removed at the end.
std::optional<std::string> MakeTemporaryDirectory(const char* prefix) {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return std::nullopt;
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path p = base / (prefix + std::to_string(random()));
    if (fs::create_directory(p, ec)) return p.string();
  }
  return std::nullopt;
}

// The first "=" after which an existing directory follows splits URL from
// DIR, so that either may hold "=" itself.
bool SplitServer(const std::string& text, std::string& url, std::string& dir, std::string& problem) {
  std::error_code ec;
  for (size_t eq = text.find('='); eq != std::string::npos; eq = text.find('=', eq + 1)) {
    if (eq == 0 || eq + 1 == text.size()) continue;
    if (fs::is_directory(text.substr(eq + 1), ec)) {
      url = text.substr(0, eq);
      dir = fs::absolute(text.substr(eq + 1), ec).string();
      return true;
    }
  }
  size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
    problem = "--server: expected URL=DIR, got '" + text + "'";
  } else {
    problem = "--server: '" + text.substr(eq + 1) + "' is not a directory";
  }
  return false;
}

// Whether `inner` is `outer` or lies somewhere beneath it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(fs::absolute(inner, ec), ec);
  const fs::path b = fs::weakly_canonical(fs::absolute(outer, ec), ec);
  auto [end_b, end_a] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return end_b == b.end() || (std::next(end_b) == b.end() && end_b->empty());
}

// A number of seconds from 0 to a million, as milliseconds.
bool ParseSeconds(const std::string& option, const std::string& text, int64_t& ms, std::string& problem) {
  auto v = ParseNumber(text);
  if (!v || *v < 0 || *v > 1e6) {
    problem = option + ": '" + text + "' is not a number of seconds from 0 to 1000000";
    return false;
  }
  ms = static_cast<int64_t>(*v * 1000);
  return true;
}

// NAME=VALUE, the last "=" splitting them.
bool SplitPair(const std::string& option, const std::string& text, std::string& name, std::string& value,
               std::string& problem) {
  const size_t eq = text.rfind('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
    problem = option + ": expected NAME=VALUE, got '" + text + "'";
    return false;
  }
  name = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

// What the command line says, before anything is checked.
struct CommandLine {
  std::string dir = KALMORA_EXAMPLE_DIR;
  std::string work, args, start, stop_at, until, server, server_delay, send_delay, kill_at;
  std::vector<std::string> without, server_faults, exit_statuses, sleeps, smtp_refused, sc_starts, starts_by_hand;
  std::vector<std::string> sessions, inputs, clicks;
  bool service = false, registered = false, json = false, smtp_down = false;
};

// FROM..TO spans, in order and apart.
bool ParseSleeps(const std::vector<std::string>& texts, sim::Options& o, std::string& problem) {
  for (const std::string& text : texts) {
    const size_t dots = text.find("..");
    auto from = sim::ParseTime(text.substr(0, dots));
    auto to = dots == std::string::npos ? std::nullopt : sim::ParseTime(text.substr(dots + 2));
    if (!from || !to || *to <= *from) {
      problem = "--sleep: expected FROM..TO with TO after FROM, each YYYY-MM-DD HH:MM[:SS[.mmm]], got '" + text + "'";
      return false;
    }
    o.sleeps.emplace_back(*from, *to);
  }
  std::sort(o.sleeps.begin(), o.sleeps.end());
  for (size_t i = 1; i < o.sleeps.size(); ++i) {
    if (o.sleeps[i].first < o.sleeps[i - 1].second) {
      problem = "--sleep: the spans overlap";
      return false;
    }
  }
  return true;
}

// NAME[=USER]@FROM..TO, NAME@FROM..TO and NAME@TIME=postpone|ok: the people
// at the simulated host.
bool ParseDesks(const CommandLine& c, sim::Options& o, std::string& problem) {
  auto span = [&](const std::string& option, const std::string& text, std::string& name, sim::LocalMs& from,
                  sim::LocalMs& to) {
    const size_t at = text.find('@'), dots = text.find("..");
    const bool shaped = at != std::string::npos && at > 0 && dots != std::string::npos && dots > at;
    const sim::LocalMs f = shaped ? sim::ParseTime(text.substr(at + 1, dots - at - 1)).value_or(-1) : -1;
    const sim::LocalMs t = shaped ? sim::ParseTime(text.substr(dots + 2)).value_or(-1) : -1;
    if (f < 0 || t <= f) {
      problem = option + ": expected NAME@FROM..TO with TO after FROM, got '" + text + "'";
      return false;
    }
    name = text.substr(0, at);
    from = f;
    to = t;
    return true;
  };
  for (const std::string& text : c.sessions) {
    sim::Options::Session s;
    if (!span("--session", text, s.name, s.from, s.to)) return false;
    if (const size_t eq = s.name.find('='); eq != std::string::npos) {
      s.user = s.name.substr(eq + 1);
      s.name.resize(eq);
    }
    o.sessions.push_back(s);
  }
  auto known = [&](const std::string& option, const std::string& name) {
    for (const auto& s : o.sessions) {
      if (s.name == name) return true;
    }
    problem = option + ": no --session named '" + name + "'";
    return false;
  };
  for (const std::string& text : c.inputs) {
    sim::Options::Input in;
    if (!span("--input", text, in.session, in.from, in.to) || !known("--input", in.session)) return false;
    o.inputs.push_back(in);
  }
  for (const std::string& text : c.clicks) {
    const size_t at = text.find('@'), eq = text.rfind('=');
    auto t = at == std::string::npos || eq == std::string::npos || eq < at
                 ? std::nullopt
                 : sim::ParseTime(text.substr(at + 1, eq - at - 1));
    const std::string what = eq == std::string::npos ? "" : text.substr(eq + 1);
    if (!t || (what != "postpone" && what != "ok")) {
      problem = "--click: expected NAME@TIME=postpone or NAME@TIME=ok, got '" + text + "'";
      return false;
    }
    if (!known("--click", text.substr(0, at))) return false;
    o.clicks.push_back({text.substr(0, at), *t, what == "postpone"});
  }
  return true;
}

// Fills `o` from the command line; false with `problem` set when it is unusable.
bool MakeOptions(const CommandLine& c, sim::Options& o, std::string& problem) {
  auto time = [&](const std::string& option, const std::string& text, sim::LocalMs& t) {
    auto v = sim::ParseTime(text);
    if (!v) problem = option + ": '" + text + "' is not YYYY-MM-DD HH:MM[:SS[.mmm]]";
    if (v) t = *v;
    return v.has_value();
  };
  o.args = c.args;
  o.service = c.service;
  o.start = sim::MachineNow();
  if (!c.start.empty() && !time("--start", c.start, o.start)) return false;
  o.until = o.start + 48LL * 3600 * 1000;
  if (!c.until.empty()) {
    if (!time("--until", c.until, o.until)) return false;
    if (o.until < o.start) {
      problem = "--until lies before --start";
      return false;
    }
  }
  if (!c.stop_at.empty()) {
    sim::LocalMs t = 0;
    if (!time("--stop-at", c.stop_at, t)) return false;
    o.stop_at = t;
  }
  if (!c.kill_at.empty()) {
    sim::LocalMs t = 0;
    if (!time("--kill-at", c.kill_at, t)) return false;
    o.kill_at = t;
  }
  o.registered = c.registered;
  if (!ParseDesks(c, o, problem)) return false;
  for (const std::string& text : c.sc_starts) {
    sim::Options::LaterStart later{0, true, ""};
    if (!time("--sc-start", text, later.at)) return false;
    o.later_starts.push_back(later);
  }
  for (const std::string& text : c.starts_by_hand) {
    const size_t eq = text.find('=');
    sim::Options::LaterStart later{0, false, eq == std::string::npos ? "" : text.substr(eq + 1)};
    if (!time("--start-by-hand", text.substr(0, eq), later.at)) return false;
    o.later_starts.push_back(later);
  }
  if (!c.server.empty() && !SplitServer(c.server, o.server_url, o.server_dir, problem)) return false;
  for (const std::string& w : c.without) {
    if (w != "curl" && w != "send.bat" && w != "net" && w != "zorvane") {
      problem = "--without: '" + w + "' is not one of curl, send.bat, net, zorvane";
      return false;
    }
    o.without.insert(w);
  }
  if (!c.server_delay.empty() && !ParseSeconds("--server-delay", c.server_delay, o.server_delay_ms, problem)) {
    return false;
  }
  if (!c.send_delay.empty() && !ParseSeconds("--send-delay", c.send_delay, o.send_delay_ms, problem)) return false;
  if (!ParseSleeps(c.sleeps, o, problem)) return false;
  o.smtp_down = c.smtp_down;
  o.smtp_refused.insert(c.smtp_refused.begin(), c.smtp_refused.end());
  for (const std::string& f : c.server_faults) {
    std::string file, fraction;
    if (!SplitPair("--server-fault", f, file, fraction, problem)) return false;
    auto v = ParseNumber(fraction);
    if (!v || *v < 0 || *v >= 1) {
      problem = "--server-fault: '" + fraction + "' is not a fraction from 0 to below 1";
      return false;
    }
    o.server_cut[file] = *v;
  }
  for (const std::string& e : c.exit_statuses) {
    std::string name, status;
    if (!SplitPair("--exit-status", e, name, status, problem)) return false;
    auto v = ParseNumber(status);
    if ((name != "send.bat" && name != "net") || !v || *v < 0 || *v > 4294967295.0 || *v != static_cast<int64_t>(*v)) {
      problem = "--exit-status: expected send.bat=N or net=N with N a whole number, got '" + e + "'";
      return false;
    }
    o.exit_status[name] = static_cast<uint32_t>(*v);
  }
  return true;
}

// The directory the run happens in: --work (kept) or a temporary one
// (removed at the end), holding a copy of --dir and stand-in programs where
// it has none.
bool PrepareWorkDirectory(const CommandLine& c, std::string& work, bool& keep, std::string& problem) {
  std::error_code ec;
  if (!fs::is_directory(c.dir, ec)) {
    problem = "--dir: '" + c.dir + "' is not a directory";
    return false;
  }
  work = c.work;
  keep = !work.empty();
  if (keep) {
    if (fs::exists(work, ec) && (!fs::is_directory(work, ec) || !fs::is_empty(work, ec))) {
      problem = "--work: '" + work + "' exists and is not an empty directory";
      return false;
    }
    // Copying a directory into itself would never end.
    if (IsWithin(work, c.dir)) {
      problem = "--work: '" + work + "' lies inside --dir '" + c.dir + "'";
      return false;
    }
    fs::create_directories(work, ec);
    if (ec) {
      problem = "--work: cannot create '" + work + "': " + ec.message();
      return false;
    }
  } else {
    auto made = MakeTemporaryDirectory("kalmora-sim-");
    if (!made) {
      problem = "cannot create a temporary directory";
      return false;
    }
    work = *made;
  }
  work = fs::absolute(work).string();
  sim::CopyTree(c.dir, work, ec);
  if (ec) {
    problem = "--dir: cannot copy '" + c.dir + "': " + ec.message();
    if (!keep) fs::remove_all(work, ec);
    return false;
  }
  const ProgramVersion ours{KALMORA_VERSION_MAJOR, KALMORA_VERSION_MINOR, KALMORA_VERSION_REVISION};
  for (const char* name : {"kalmora", "zorvane"}) {
    fs::path exe = fs::path(work) / (std::string(name) + ".exe");
    if (!fs::exists(exe)) std::ofstream(exe, std::ios::binary) << MakeStandInExecutable(ours, name);
  }
  return true;
}

void AddOptions(CLI::App& app, CommandLine& c, std::string& args_help) {
  app.add_option("--dir", c.dir, "program directory to start from (copied, never changed)");
  app.add_option("--work", c.work, "run in DIR (missing or empty) and keep it");
  // Shown in the help only; the value is taken before parsing (TakeArgsValue).
  app.add_option("--args", args_help, "Kalmora's command-line argument string, exactly (\"\" by default)");
  app.add_option("--start", c.start, "local date and time of the start (default: now)");
  app.add_flag("--service", c.service, "the service manager starts Kalmora");
  app.add_option("--stop-at", c.stop_at, "the service manager asks the service to stop at TIME");
  app.add_flag("--registered", c.registered, "the service is registered, though Kalmora starts by hand");
  app.add_option("--sc-start", c.sc_starts, "TIME: the service manager is asked to start the service (sc start)");
  app.add_option("--start-by-hand", c.starts_by_hand, "TIME[=ARGS]: kalmora.exe is started by hand at TIME");
  app.add_option("--kill-at", c.kill_at, "TIME: the running Kalmora dies without a word (a crash)");
  app.add_option("--session", c.sessions, "NAME[=USER]@FROM..TO: someone is logged on in a session of their own");
  app.add_option("--input", c.inputs, "NAME@FROM..TO: keyboard or mouse input in the session");
  app.add_option("--click", c.clicks, "NAME@TIME=postpone|ok: a click in the session's countdown window");
  app.add_option("--until", c.until, "end of the simulation (default: 48 hours after the start)");
  app.add_option("--server", c.server, "update server: URL=DIR");
  app.add_option("--server-delay", c.server_delay, "seconds each download from the server takes");
  app.add_option("--server-fault", c.server_faults,
                 "FILE=FRACTION: the transfer of FILE breaks off after that fraction of its bytes");
  app.add_option("--send-delay", c.send_delay, "seconds send.bat (or the mail server) takes for each mail");
  app.add_flag("--smtp-down", c.smtp_down, "the mail server (SmtpServer) cannot be reached");
  app.add_option("--smtp-refuse", c.smtp_refused, "ADDRESS: the mail server answers 550 to this recipient");
  app.add_option("--exit-status", c.exit_statuses, "send.bat=N or net=N: the status the program ends with");
  app.add_option("--sleep", c.sleeps, "FROM..TO: the host sleeps from TIME to TIME and then resumes");
  app.add_option("--without", c.without, "child program that is missing: curl, send.bat, net or zorvane");
  app.add_flag("--json", c.json, "JSON Lines instead of readable text");
  app.footer("TIME is YYYY-MM-DD HH:MM, YYYY-MM-DD HH:MM:SS or YYYY-MM-DD HH:MM:SS.mmm.");
}

// kalmora-sim check [--dir DIR | FILE] [--json]: every finding of the
// checker, then a summary; exit status 0 clean, 1 warnings, 2 the service
// would refuse the file, 3 unusable arguments.
int Check(int argc, char** argv) {
  CLI::App app{"Checks a kalmora.ini with the service's own reader and says what is wrong, line by line.",
               "kalmora-sim check"};
  std::string dir, file;
  bool json = false;
  app.add_option("--dir", dir, "program directory whose kalmora.ini is checked");
  app.add_option("file", file, "the file to check (its directory is the program directory)");
  app.add_flag("--json", json, "one JSON object instead of lines");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "kalmora-sim check: " << e.what() << "\n";
    return 3;
  }
  std::error_code ec;
  if (!dir.empty() && !file.empty()) {
    std::cerr << "kalmora-sim check: give --dir or a file, not both\n";
    return 3;
  }
  if (file.empty()) file = (fs::path(dir.empty() ? std::string(KALMORA_EXAMPLE_DIR) : dir) / "kalmora.ini").string();
  if (fs::is_directory(file, ec)) {
    std::cerr << "kalmora-sim check: '" << file << "' is a directory; give the file or --dir\n";
    return 3;
  }
  const fs::path path = fs::absolute(file, ec);
  sim::Options o;
  o.work_dir = path.parent_path().string();
  o.start = sim::MachineNow();  // today's date tells which dated rows have passed
  sim::World world(o);
  sim::SimHost host(world, "kalmora", "", false);
  const auto findings = CheckConfiguration(host, path.string(), KALMORA_VERSION_MAJOR);
  const int status = CheckExitStatus(findings);
  const std::string name = fs::path(file).filename().string();
  std::map<Severity, int> counts;
  for (const Finding& f : findings) ++counts[f.rule->severity];
  auto plural = [](int n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); };
  const std::string summary = findings.empty() ? "clean"
                                               : plural(counts[Severity::Error], "error") + ", " +
                                                     plural(counts[Severity::Warning], "warning") + ", " +
                                                     plural(counts[Severity::Note], "note");
  if (json) {
    sim::Record out{{"file", file}, {"status", status}, {"summary", summary}, {"findings", sim::Record::array()}};
    for (const Finding& f : findings) {
      out["findings"].push_back(
          {{"line", f.line}, {"severity", SeverityName(f.rule->severity)}, {"rule", f.rule->name}, {"text", f.text}});
    }
    std::cout << out.dump() << "\n";
  } else {
    for (const Finding& f : findings) {
      std::cout << name << ":" << (f.line ? std::to_string(f.line) + ":" : "") << " " << SeverityName(f.rule->severity)
                << ": " << f.text << "\n";
    }
    std::cout << name << ": " << summary << "\n";
  }
  return status;
}

// kalmora-sim plan: one row a day of what the service will do. Exit status
// 0, 1 when a day has an error entry, 2 for unusable arguments.
int Plan(int argc, char** argv) {
  CLI::App app{"Runs the service day by day on the simulated host and shows what it will do.", "kalmora-sim plan"};
  std::string dir = KALMORA_EXAMPLE_DIR, from, boot = "07:58", format = "text", output, server;
  int days = 0, year = 0;
  app.add_option("--dir", dir, "program directory (copied, never changed)");
  app.add_option("--from", from, "first day, YYYY-MM-DD (default: today, or 1 January with --year)");
  app.add_option("--days", days, "number of days (default 7)");
  app.add_option("--year", year, "a whole year");
  app.add_option("--boot", boot, "when the host boots each day, HH:MM (default 07:58)");
  app.add_option("--format", format, "text, json, ics or html")->check(CLI::IsMember({"text", "json", "ics", "html"}));
  app.add_option("-o", output, "write to FILE instead of the standard output");
  app.add_option("--server", server, "update server: URL=DIR (without it the server is unreachable)");
  std::string only;
  bool no_weekends = false;
  app.add_option("--only", only, "shutdowns or mails: only those")->check(CLI::IsMember({"shutdowns", "mails"}));
  app.add_flag("--no-weekends", no_weekends, "leave weekend shutdowns out");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Unusable(std::string("plan: ") + e.what());
  }
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Unusable("plan: --dir: '" + dir + "' is not a directory");
  if (days && year) return Unusable("plan: give --days or --year, not both");
  plan::Options o;
  o.dir = dir;
  if (year) {
    if (year < 1601 || year > 9999) return Unusable("plan: --year: " + std::to_string(year) + " is not a year");
    if (from.empty()) from = std::to_string(year) + "-01-01";
  }
  auto start = sim::ParseTime((from.empty() ? sim::FormatTime(sim::MachineNow()).substr(0, 10) : from) + " 00:00");
  if (!start) return Unusable("plan: --from: '" + from + "' is not YYYY-MM-DD");
  o.from = *start;
  if (year) {
    days = 0;
    for (sim::LocalMs t = o.from; sim::ToLocalTime(t).year == year; t += 86400000) ++days;
  }
  o.days = days ? days : 7;
  if (o.days < 1 || o.days > 3660) return Unusable("plan: --days: from 1 to 3660");
  auto moment = sim::ParseTime("2000-01-01 " + boot);
  if (!moment) return Unusable("plan: --boot: '" + boot + "' is not HH:MM");
  o.boot_minute = static_cast<int>(*moment % 86400000 / 60000);
  std::string problem;
  if (!server.empty() && !SplitServer(server, o.server_url, o.server_dir, problem)) return Unusable("plan: " + problem);
  auto made = MakeTemporaryDirectory("kalmora-plan-");
  if (!made) return Unusable("plan: cannot create a temporary directory");
  o.work = *made;
  const auto planned = plan::Select(plan::Run(o), {only != "mails", only != "shutdowns", !no_weekends});
  fs::remove_all(o.work, ec);
  const std::string text = format == "json"   ? plan::Json(planned)
                           : format == "ics"  ? plan::Ics(planned, UtcStamp())
                           : format == "html" ? plan::Html(planned)
                                              : plan::Text(planned, server.empty());
  if (output.empty()) {
    std::cout << text;
  } else {
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return Unusable("plan: -o: cannot write '" + output + "'");
  }
  for (const auto& d : planned) {
    if (!d.errors.empty()) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "check") return Check(argc - 1, argv + 1);
  if (argc > 1 && std::string(argv[1]) == "plan") return Plan(argc - 1, argv + 1);
  if (argc > 1 && std::string(argv[1]) == "publish") return Publish(argc - 1, argv + 1);
  CLI::App app{"Shows what Kalmora and Zorvane will do with a program directory, on a simulated host.", "kalmora-sim"};
  CommandLine c;
  std::string args_help;
  AddOptions(app, c, args_help);
  std::vector<std::string> rest;
  std::optional<std::string> args_value;
  std::string problem;
  if (!TakeArgsValue(argc, argv, rest, args_value, problem)) return Unusable(problem);
  c.args = args_value.value_or("");
  std::reverse(rest.begin(), rest.end());  // CLI11 takes them in reverse
  try {
    app.parse(rest);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Unusable(e.what());
  }

  sim::Options o;
  if (!MakeOptions(c, o, problem)) return Unusable(problem);
  bool keep = false;
  if (!PrepareWorkDirectory(c, o.work_dir, keep, problem)) return Unusable(problem);

  sim::World world(o, [&](const sim::Record& r) { std::cout << (c.json ? r.dump() + "\n" : sim::FormatReadable(r)); });
  world.Run();
  std::cout.flush();
  std::error_code ec;
  if (!keep) fs::remove_all(o.work_dir, ec);
  return 0;
}
