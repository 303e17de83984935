#include "sim_fixture.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <stdexcept>

#include "config/rules.h"
#include "update/versions.h"

namespace fs = std::filesystem;

namespace kalmora::testing {

ScratchDir::ScratchDir() {
  static std::mt19937_64 rng{std::random_device{}()};
  fs::path p = fs::temp_directory_path() / ("kalmora-test-" + std::to_string(rng()));
  fs::create_directories(p);
  path_ = p.string();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  fs::path p = fs::path(path_) / name;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ScratchDir::Read(const std::string& name) const {
  std::ifstream in(fs::path(path_) / name, std::ios::binary);
  if (!in) throw std::runtime_error("missing " + name);
  return {std::istreambuf_iterator<char>(in), {}};
}

bool ScratchDir::Exists(const std::string& name) const { return fs::exists(fs::path(path_) / name); }

void ScratchDir::Remove(const std::string& name) const { fs::remove(fs::path(path_) / name); }

std::string Crlf(const std::string& lf_text) { return ReplaceAll(lf_text, "\n", "\r\n"); }

Strings Lines(const std::vector<sim::Record>& records, const std::set<std::string>& kinds) {
  Strings out;
  for (const auto& r : records) {
    const std::string kind = r["kind"];
    if (!kinds.empty() && !kinds.count(kind)) continue;
    std::string line = r["t"].get<std::string>().substr(11) + (r["program"] == "zorvane" ? " zorvane " : " ") + kind;
    for (const auto& [key, v] : r.items()) {
      if (key == "t" || key == "program" || key == "kind" || key == "type" || key == "id" || key == "ms") continue;
      if (v.is_string() && !v.get<std::string>().empty()) line += " " + v.get<std::string>();
      if (v.is_number()) line += " " + v.dump();
    }
    out.push_back(line + (r.value("ok", true) ? "" : " failed"));
  }
  return out;
}

std::vector<sim::Record> SimRun::Of(const std::string& kind) const {
  std::vector<sim::Record> out;
  std::copy_if(records.begin(), records.end(), std::back_inserter(out),
               [&](const auto& r) { return r["kind"] == kind; });
  return out;
}

Strings SimRun::Texts(const std::string& kind, int type) const {
  Strings out;
  for (const auto& r : Of(kind)) {
    if (!type || r["type"] == type) out.push_back(r["text"]);
  }
  return out;
}

Strings SimRun::Brief(const std::set<std::string>& kinds) const {
  // Of a mail's headers only the recipient and the subject stay, unnamed.
  static const std::regex dropped(R"(From: [^|]*\||\|X-[^|]*|To: |Subject: |\|+$)");
  Strings out = Lines(kinds);
  for (std::string& line : out) line = std::regex_replace(ReplaceAll(line, "\r\n", "|"), dropped, "");
  return out;
}

SimRun RunSim(const ScratchDir& dir, const SimSetup& run_setup) {
  sim::Options o;
  o.work_dir = dir.path();
  o.args = run_setup.args;
  o.service = run_setup.service;
  o.start = sim::ParseTime(run_setup.start).value();
  o.until = run_setup.until.empty() ? o.start + 48LL * 3600 * 1000 : sim::ParseTime(run_setup.until).value();
  if (!run_setup.stop_at.empty()) o.stop_at = sim::ParseTime(run_setup.stop_at).value();
  o.server_url = run_setup.server_url;
  o.server_dir = run_setup.server_dir;
  o.without.insert(run_setup.without.begin(), run_setup.without.end());
  o.server_delay_ms = run_setup.server_delay_ms;
  o.send_delay_ms = run_setup.send_delay_ms;
  o.server_cut = run_setup.server_cut;
  o.exit_status = run_setup.exit_status;
  o.smtp_down = run_setup.smtp_down;
  o.smtp_refused = run_setup.smtp_refused;
  o.registered = run_setup.registered;
  o.sessions = run_setup.sessions;
  o.inputs = run_setup.inputs;
  o.clicks = run_setup.clicks;
  o.power = run_setup.power;
  o.computer = run_setup.computer;
  o.updates_pending = run_setup.updates_pending;
  o.processes = run_setup.processes;
  for (const auto& [from, to] : run_setup.servicing)
    o.servicing.emplace_back(*sim::ParseTime(from), *sim::ParseTime(to));
  for (const auto& w : run_setup.wakes) o.wakes.push_back(*sim::ParseTime(w));
  if (!run_setup.kill_at.empty()) o.kill_at = sim::ParseTime(run_setup.kill_at).value();
  for (const auto& l : run_setup.later) o.later_starts.push_back({sim::ParseTime(l.at).value(), l.service, l.args});
  for (const auto& [from, to] : run_setup.sleeps) o.sleeps.emplace_back(*sim::ParseTime(from), *sim::ParseTime(to));
  const ProgramVersion ours{KALMORA_VERSION_MAJOR, KALMORA_VERSION_MINOR, KALMORA_VERSION_REVISION};
  for (const std::string name : {"kalmora", "zorvane"}) {
    if (!dir.Exists(name + ".exe")) dir.Write(name + ".exe", MakeStandInExecutable(ours, name));
  }
  sim::World world(o);
  world.Run();
  return {world.records(), world.timer_wakeups(), world.counts()};
}

SimRun RunIni(const std::string& ini, const SimSetup& run_setup) {
  ScratchDir dir;
  dir.Write("kalmora.ini", ini);
  return RunSim(dir, run_setup);
}

DirectHost::DirectHost(const ScratchDir& dir, const std::string& start, const std::string& program,
                       const std::string& args, bool registered)
    : world({.work_dir = dir.path(),
             .start = sim::ParseTime(start).value(),
             .registered = registered,
             .until = sim::ParseTime(start).value() + 86400000}),
      host(world, program, args, false) {}

std::string Ini(const std::string& general, const std::string& shutdown_holidays, const std::string& msg_holidays,
                const std::string& messaging, const std::string& scheduled) {
  // Each part on lines of its own, then an empty line.
  auto part = [](const std::string& lines) { return lines + (lines.empty() || lines.back() == '\n' ? "\n" : "\n\n"); };
  return Crlf("[GeneralOptions]\nVersion=1\n" + part(general) + "[Messaging]\n" + part(messaging) +
              "[ScheduledShutdown]\n" + part(scheduled) + "[ShutdownHolidays]\n" + part(shutdown_holidays) +
              "[MsgHolidays]\n" + part(msg_holidays) + "; end\n");
}

}  // namespace kalmora::testing
