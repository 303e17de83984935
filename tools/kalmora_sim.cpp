// kalmora-sim: shows what a program directory (its kalmora.ini above all)
// will do on a given day, on the simulated host: nothing is shut down,
// mailed or downloaded for real.
#include <CLI/CLI.hpp>

#include <chrono>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

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

// "--args -debug" takes -debug as the value although it begins with a dash.
std::vector<std::string> JoinArgsValue(int argc, char** argv) {
  std::vector<std::string> out;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--args" && i + 1 < argc) {
      out.push_back("--args=" + std::string(argv[++i]));
    } else {
      out.push_back(a);
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Shows what Kalmora and Zorvane will do with a program directory, on a simulated host."};
  std::string dir = KALMORA_EXAMPLE_DIR;
  std::string work, args, start_text, stop_text, until_text, server;
  std::vector<std::string> without;
  bool service = false, json = false;
  app.add_option("--dir", dir, "program directory to start from (copied, never changed)");
  app.add_option("--work", work, "run in DIR (missing or empty) and keep it");
  app.add_option("--args", args, "Kalmora's command-line argument string, exactly");
  app.add_option("--start", start_text, "local date and time of the start (default: now)");
  app.add_flag("--service", service, "the service manager starts Kalmora");
  app.add_option("--stop-at", stop_text, "the service manager asks the service to stop at TIME");
  app.add_option("--until", until_text, "end of the simulation (default: 48 hours after the start)");
  app.add_option("--server", server, "update server: URL=DIR");
  app.add_option("--without", without, "child program that is missing: curl, send.bat, net or zorvane");
  app.add_flag("--json", json, "JSON Lines instead of readable text");
  app.footer("TIME is YYYY-MM-DD HH:MM, YYYY-MM-DD HH:MM:SS or YYYY-MM-DD HH:MM:SS.mmm.");

  std::vector<std::string> joined = JoinArgsValue(argc, argv);
  std::reverse(joined.begin(), joined.end());  // CLI11 takes them in reverse
  try {
    app.parse(joined);
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
  if (!server.empty()) {
    size_t eq = server.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == server.size()) {
      return Unusable("--server: expected URL=DIR, got '" + server + "'");
    }
    o.server_url = server.substr(0, eq);
    o.server_dir = server.substr(eq + 1);
    std::error_code ec;
    if (!fs::is_directory(o.server_dir, ec)) return Unusable("--server: '" + o.server_dir + "' is not a directory");
  }
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
    fs::create_directories(work, ec);
    if (ec) return Unusable("--work: cannot create '" + work + "': " + ec.message());
  } else {
    std::random_device rd;
    work = (fs::temp_directory_path() / ("kalmora-sim-" + std::to_string(rd()))).string();
    fs::create_directories(work, ec);
    if (ec) return Unusable("cannot create a temporary directory: " + ec.message());
  }
  work = fs::absolute(work).string();
  fs::copy(dir, work, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  if (ec) return Unusable("cannot copy '" + dir + "': " + ec.message());
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
