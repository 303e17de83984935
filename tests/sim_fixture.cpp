#include "sim_fixture.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

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
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool ScratchDir::Exists(const std::string& name) const { return fs::exists(fs::path(path_) / name); }

std::string Crlf(const std::string& lf_text) {
  std::string out;
  for (char c : lf_text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::vector<sim::Record> SimRun::Of(const std::string& kind) const {
  std::vector<sim::Record> out;
  for (const auto& r : records) {
    if (r["kind"] == kind) out.push_back(r);
  }
  return out;
}

std::vector<std::string> SimRun::Events() const {
  std::vector<std::string> out;
  for (const auto& r : Of("event")) out.push_back(r["text"].get<std::string>());
  return out;
}

sim::Record SimRun::Exit() const {
  auto exits = Of("exit");
  return exits.empty() ? sim::Record() : exits.back();
}

SimRun RunSim(const ScratchDir& dir, const RunSpec& spec) {
  SimRun run;
  sim::Options& o = run.options;
  o.work_dir = dir.path();
  o.args = spec.args;
  o.service = spec.service;
  o.start = sim::ParseTime(spec.start.size() == 16 || spec.start.size() == 19 || spec.start.size() == 23
                               ? spec.start
                               : spec.start + ":00")
                .value();
  o.until = spec.until.empty() ? o.start + 48LL * 3600 * 1000 : sim::ParseTime(spec.until).value();
  if (!spec.stop_at.empty()) o.stop_at = sim::ParseTime(spec.stop_at).value();
  o.server_url = spec.server_url;
  o.server_dir = spec.server_dir;
  o.without.insert(spec.without.begin(), spec.without.end());
  const ProgramVersion ours{KALMORA_VERSION_MAJOR, KALMORA_VERSION_MINOR, KALMORA_VERSION_REVISION};
  for (const char* name : {"kalmora", "zorvane"}) {
    if (!dir.Exists(std::string(name) + ".exe")) {
      dir.Write(std::string(name) + ".exe", MakeStandInExecutable(ours, name));
    }
  }
  sim::World world(o);
  world.Run();
  run.records = world.records();
  return run;
}

std::string Ini(const std::string& general, const std::string& shutdown_holidays, const std::string& msg_holidays,
                const std::string& messaging, const std::string& scheduled) {
  std::string s = "[GeneralOptions]\nVersion=1\n" + general;
  if (!s.empty() && s.back() != '\n') s += '\n';
  s += "\n[Messaging]\n" + messaging;
  if (s.back() != '\n') s += '\n';
  s += "\n[ScheduledShutdown]\n" + scheduled;
  if (s.back() != '\n') s += '\n';
  s += "\n[ShutdownHolidays]\n" + shutdown_holidays;
  if (s.back() != '\n') s += '\n';
  s += "\n[MsgHolidays]\n" + msg_holidays;
  if (s.back() != '\n') s += '\n';
  s += "\n; end\n";
  return Crlf(s);
}

}  // namespace kalmora::testing
