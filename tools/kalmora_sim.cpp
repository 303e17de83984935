// kalmora-sim: shows what a program directory (its kalmora.ini above all)
// will do on a given day, on the simulated host: nothing is shut down,
// mailed or downloaded for real.
#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#include "host/sim/sim_world.h"
#include "update/versions.h"

namespace fs = std::filesystem;
using namespace kalmora;

namespace {

int Unusable(const std::string& message) {
  std::cerr << "kalmora-sim: " << message << "\n";
  return 2;
}

sim::LocalMs LocalNow() {
  std::time_t t = std::time(nullptr);
  std::tm lt{};
  localtime_r(&t, &lt);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &lt);
  return *sim::ParseTime(buf);
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Shows what Kalmora and Zorvane will do with a program directory, on a simulated host.", "kalmora-sim"};
  std::string dir = KALMORA_EXAMPLE_DIR;
  std::string work, args, start_text, stop_text, until_text, server;
  std::vector<std::string> without;
  bool service = false, json = false;
  app.add_option("--dir", dir, "program directory to start from (copied, never changed)");
  app.add_option("--work", work, "run in DIR (missing or empty) and keep it");
  // Shown in the help only; the value is taken before parsing (TakeArgsValue).
  std::string args_help;
  app.add_option("--args", args_help, "Kalmora's command-line argument string, exactly (\"\" by default)");
  app.add_option("--start", start_text, "local date and time of the start (default: now)");
  app.add_flag("--service", service, "the service manager starts Kalmora");
  app.add_option("--stop-at", stop_text, "the service manager asks the service to stop at TIME");
  app.add_option("--until", until_text, "end of the simulation (default: 48 hours after the start)");
  app.add_option("--server", server, "update server: URL=DIR");
  app.add_option("--without", without, "child program that is missing: curl, send.bat, net or zorvane");
  app.add_flag("--json", json, "JSON Lines instead of readable text");
  app.footer("TIME is YYYY-MM-DD HH:MM, YYYY-MM-DD HH:MM:SS or YYYY-MM-DD HH:MM:SS.mmm.");

  std::vector<std::string> rest;
  std::optional<std::string> args_value;
  std::string problem;
  if (!TakeArgsValue(argc, argv, rest, args_value, problem)) return Unusable(problem);
  args = args_value.value_or("");
  std::reverse(rest.begin(), rest.end());  // CLI11 takes them in reverse
  try {
    app.parse(rest);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Unusable(e.what());
  }

  sim::Options o;
  o.args = args;
  o.service = service;
  if (start_text.empty()) {
    o.start = LocalNow();
  } else if (auto t = sim::ParseTime(start_text)) {
    o.start = *t;
  } else {
    return Unusable("--start: '" + start_text + "' is not YYYY-MM-DD HH:MM[:SS[.mmm]]");
  }
  o.until = o.start + 48LL * 3600 * 1000;
  if (!until_text.empty()) {
    auto t = sim::ParseTime(until_text);
    if (!t) return Unusable("--until: '" + until_text + "' is not YYYY-MM-DD HH:MM[:SS[.mmm]]");
    if (*t < o.start) return Unusable("--until lies before --start");
    o.until = *t;
  }
  if (!stop_text.empty()) {
    auto t = sim::ParseTime(stop_text);
    if (!t) return Unusable("--stop-at: '" + stop_text + "' is not YYYY-MM-DD HH:MM[:SS[.mmm]]");
    o.stop_at = *t;
  }
  if (!server.empty() && !SplitServer(server, o.server_url, o.server_dir, problem)) return Unusable(problem);
  for (const std::string& w : without) {
    if (w != "curl" && w != "send.bat" && w != "net" && w != "zorvane") {
      return Unusable("--without: '" + w + "' is not one of curl, send.bat, net, zorvane");
    }
    o.without.insert(w);
  }

  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Unusable("--dir: '" + dir + "' is not a directory");
  bool keep = !work.empty();
  if (keep) {
    if (fs::exists(work, ec) && (!fs::is_directory(work, ec) || !fs::is_empty(work, ec))) {
      return Unusable("--work: '" + work + "' exists and is not an empty directory");
    }
    // Copying a directory into itself would never end.
    if (IsWithin(work, dir)) return Unusable("--work: '" + work + "' lies inside --dir '" + dir + "'");
    fs::create_directories(work, ec);
    if (ec) return Unusable("--work: cannot create '" + work + "': " + ec.message());
  } else {
    // A directory of our own, never one that happens to exist already: it is
    // removed at the end.
    std::string pattern = (fs::temp_directory_path(ec) / "kalmora-sim-XXXXXX").string();
    if (ec || !mkdtemp(pattern.data())) return Unusable("cannot create a temporary directory");
    work = pattern;
  }
  work = fs::absolute(work).string();
  fs::copy(dir, work, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) {
    const std::string why = ec.message();
    if (!keep) fs::remove_all(work, ec);
    return Unusable("--dir: cannot copy '" + dir + "': " + why);
  }
  const ProgramVersion ours{KALMORA_VERSION_MAJOR, KALMORA_VERSION_MINOR, KALMORA_VERSION_REVISION};
  for (const char* name : {"kalmora", "zorvane"}) {
    fs::path exe = fs::path(work) / (std::string(name) + ".exe");
    if (!fs::exists(exe)) {
      std::ofstream(exe, std::ios::binary) << MakeStandInExecutable(ours, name);
    }
  }
  o.work_dir = work;

  sim::World world(o, [&](const sim::Record& r) {
    if (json) {
      std::cout << r.dump() << "\n";
    } else {
      std::cout << sim::FormatReadable(r);
    }
  });
  world.Run();
  std::cout.flush();
  if (!keep) fs::remove_all(work, ec);
  return 0;
}
