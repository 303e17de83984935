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
#include "tools/events_xml.h"
#include "tools/plan.h"
#include "tools/publish.h"
#include "tools/report.h"
#include "tools/sim_options.h"
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
  app.add_option("--server", server,
                 "update server: URL=DIR, DIR as publish --out wrote it (without it the update is left out)");
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
                                              : plan::Text(planned);
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
  if (argc > 1 && std::string(argv[1]) == "report") return report::Main(argc - 1, argv + 1);
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
  if (!c.events_xml.empty()) {
    std::ofstream xml(c.events_xml, std::ios::binary | std::ios::trunc);
    xml << report::SimulatedEventsXml(world.records(), o.computer);
    if (!xml) return Unusable("--events-xml: cannot write '" + c.events_xml + "'");
  }
  std::error_code ec;
  if (!keep) fs::remove_all(o.work_dir, ec);
  return 0;
}
