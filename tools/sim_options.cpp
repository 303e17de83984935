#include "tools/sim_options.h"

#include <algorithm>
#include <filesystem>
#include <random>

#include "config/numbers.h"
#include "config/settings.h"
#include "update/versions.h"

namespace fs = std::filesystem;

namespace kalmora {

namespace {
bool WorldOptions(const CommandLine& c, sim::Options& o, std::string& problem);
}  // namespace

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
// The first "=" after which an existing directory follows splits URL from
// DIR, so that either may hold "=" itself. DIR is the server's own
// directory, as publish --out writes it, and URL + "kalmora/NAME" is
// DIR/kalmora/NAME; a DIR without a kalmora folder is taken for that folder.
bool SplitServer(const std::string& text, std::string& url, std::string& dir, std::string& problem) {
  std::error_code ec;
  for (size_t eq = text.find('='); eq != std::string::npos; eq = text.find('=', eq + 1)) {
    if (eq == 0 || eq + 1 == text.size()) continue;
    if (fs::is_directory(text.substr(eq + 1), ec)) {
      url = text.substr(0, eq);
      const fs::path root = fs::absolute(text.substr(eq + 1), ec);
      dir = (fs::is_directory(root / "kalmora", ec) ? root / "kalmora" : root).string();
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

namespace {

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

// FROM..TO spans, in order and apart.
bool ParseSpans(const char* option, const std::vector<std::string>& texts,
                std::vector<std::pair<sim::LocalMs, sim::LocalMs>>& spans, std::string& problem) {
  for (const std::string& text : texts) {
    const size_t dots = text.find("..");
    auto from = sim::ParseTime(text.substr(0, dots));
    auto to = dots == std::string::npos ? std::nullopt : sim::ParseTime(text.substr(dots + 2));
    if (!from || !to || *to <= *from) {
      problem = std::string(option) +
                ": expected FROM..TO with TO after FROM, each YYYY-MM-DD HH:MM[:SS[.mmm]], got '" + text + "'";
      return false;
    }
    spans.emplace_back(*from, *to);
  }
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].first < spans[i - 1].second) {
      problem = std::string(option) + ": the spans overlap";
      return false;
    }
  }
  return true;
}

// What the host can do at the halt, what holds it, and when it is woken.
bool PowerOptions(const CommandLine& c, sim::Options& o, std::string& problem) {
  o.power = {};
  for (const std::string& cap : ParseProgramList(c.power)) {
    if (cap == "hibernate" || cap == "sleep") {
      (cap == "hibernate" ? o.power.hibernate : o.power.sleep) = true;
    } else if (cap != "none") {
      problem = "--power: '" + cap + "' is not hibernate, sleep or none";
      return false;
    }
  }
  o.updates_pending = c.updates_pending;
  if (!ParseSpans("--servicing", c.servicing, o.servicing, problem)) return false;
  uint32_t pid = 7000;
  for (const std::string& text : c.processes) {
    const size_t at = text.rfind('@'), dots = text.find("..", at == std::string::npos ? 0 : at);
    sim::LocalMs from = -1, to = -1;
    if (at != std::string::npos && at > 0 && dots != std::string::npos) {
      from = sim::ParseTime(text.substr(at + 1, dots - at - 1)).value_or(-1);
      to = sim::ParseTime(text.substr(dots + 2)).value_or(-1);
    }
    if (from < 0 || to <= from) {
      problem = "--process: expected NAME@FROM..TO with TO after FROM, got '" + text + "'";
      return false;
    }
    o.processes.push_back({text.substr(0, at), from, to, pid += 4});
  }
  for (const std::string& text : c.wakes) {
    auto t = sim::ParseTime(text);
    if (!t) {
      problem = "--wake: '" + text + "' is not YYYY-MM-DD HH:MM[:SS[.mmm]]";
      return false;
    }
    o.wakes.push_back(*t);
  }
  std::sort(o.wakes.begin(), o.wakes.end());
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
    if (!t || (what != "postpone" && what != "ok" && what != "kill")) {
      problem = "--click: expected NAME@TIME=postpone, NAME@TIME=ok or NAME@TIME=kill, got '" + text + "'";
      return false;
    }
    if (!known("--click", text.substr(0, at))) return false;
    using K = sim::Options::ClickKind;
    o.clicks.push_back({text.substr(0, at), *t, what == "postpone" ? K::Postpone : what == "ok" ? K::Ok : K::Kill});
  }
  return true;
}

}  // namespace

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
  o.computer = c.computer;
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
  return WorldOptions(c, o, problem);
}

namespace {

// The simulated world around the program: the update server, the child
// programs, the mail server and the host's sleeps.
bool WorldOptions(const CommandLine& c, sim::Options& o, std::string& problem) {
  if (!c.server.empty() && !SplitServer(c.server, o.server_url, o.server_dir, problem)) return false;
  for (const std::string& w : c.without) {
    if (w != "curl" && w != "send.bat" && w != "net" && w != "zorvane" && w != "InitiateShutdownW" &&
        w != "SetSuspendState") {
      problem = "--without: '" + w + "' is not one of curl, send.bat, net, zorvane, InitiateShutdownW, SetSuspendState";
      return false;
    }
    o.without.insert(w);
  }
  if (!c.server_delay.empty() && !ParseSeconds("--server-delay", c.server_delay, o.server_delay_ms, problem)) {
    return false;
  }
  if (!c.send_delay.empty() && !ParseSeconds("--send-delay", c.send_delay, o.send_delay_ms, problem)) return false;
  if (!ParseSpans("--sleep", c.sleeps, o.sleeps, problem) || !PowerOptions(c, o, problem)) return false;
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

}  // namespace

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
  app.add_option("--click", c.clicks,
                 "NAME@TIME=postpone|ok|kill: a click in the session's countdown window, or its process ended "
                 "without an answer");
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
  app.add_option("--without", c.without,
                 "what is missing: the child program curl, send.bat, net or zorvane, or the system call "
                 "InitiateShutdownW or SetSuspendState (it fails)");
  app.add_option("--power", c.power,
                 "CAPS: what the host can do besides power off: hibernate, sleep (comma-separated), "
                 "or none (default hibernate,sleep)");
  app.add_flag("--updates-pending", c.updates_pending, "Windows has installed updates that wait for a restart");
  app.add_option("--servicing", c.servicing, "FROM..TO: Windows installs updates (TrustedInstaller runs)");
  app.add_option("--process", c.processes, "NAME@FROM..TO: a program of that name runs on the host");
  app.add_option("--wake", c.wakes, "TIME: a suspended host resumes (without it, it stays suspended to the end)");
  app.add_flag("--json", c.json, "JSON Lines instead of readable text");
  app.add_option("--events-xml", c.events_xml,
                 "FILE: the host's event-log entries also written as Windows event XML, as wevtutil exports them");
  app.add_option("--computer", c.computer, "NAME: the simulated host's computer name (default SIMHOST)");
  app.footer("TIME is YYYY-MM-DD HH:MM, YYYY-MM-DD HH:MM:SS or YYYY-MM-DD HH:MM:SS.mmm.");
}

}  // namespace kalmora
