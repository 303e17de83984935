// Shared scaffolding for tests and benchmarks that run the programs on the
// simulated host: a scratch program directory and the records of a run.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/sim/sim_host.h"

namespace kalmora::testing {

using Strings = std::vector<std::string>;

// The version this build stamps into its programs, as the notices write it.
inline const std::string kVersionText = std::to_string(KALMORA_VERSION_MAJOR) + "." +
                                        std::to_string(KALMORA_VERSION_MINOR) + "." +
                                        std::to_string(KALMORA_VERSION_REVISION);

// A fresh, empty directory under the system's temporary directory, removed
// when the object goes. Names are relative to it; bytes go in as given.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  void Remove(const std::string& name) const;

 private:
  std::string path_;
};

// "a\nb" with CR LF line ends, as the Windows files are.
std::string Crlf(const std::string& lf_text);

// Records one a line, "HH:MM:SS.mmm kind" and their texts and numbers (not
// the event type and id, nor a beep's length), "zorvane" before the kind of
// Zorvane's records and " failed" where "ok" is false. Only the given kinds,
// when any are given.
Strings Lines(const std::vector<sim::Record>& records, const std::set<std::string>& kinds = {});

// The records of a simulated run.
struct SimRun {
  std::vector<sim::Record> records;
  int64_t timer_wakeups = 0;
  std::map<std::string, int> counts;  // what the world counted ("read kalmora.ini", …)

  std::vector<sim::Record> Of(const std::string& kind) const;
  // The texts of the records of a kind; of entries, only those of this type when given.
  Strings Texts(const std::string& kind, int type = 0) const;
  Strings Lines(const std::set<std::string>& kinds = {}) const { return testing::Lines(records, kinds); }
  // The same in brief: every line end as "|", and a mail as "TO|SUBJECT||BODY".
  Strings Brief(const std::set<std::string>& kinds) const;
};

// Starts Kalmora at `start` ("YYYY-MM-DD HH:MM[:SS[.mmm]]") in `dir`, adding
// stand-in program files where missing. `until` defaults to 48 hours on.
struct SimSetup {
  std::string start = "2026-12-24 07:58";
  std::string args;
  bool service = false;
  std::string stop_at, until, server_url, server_dir;
  std::vector<std::string> without;
  // Slow or failing child programs, as sim::Options has them.
  int64_t server_delay_ms = 0, send_delay_ms = 0;
  std::map<std::string, double> server_cut;
  std::map<std::string, uint32_t> exit_status;
  std::vector<std::pair<std::string, std::string>> sleeps;  // FROM, TO
  bool smtp_down = false;
  std::set<std::string> smtp_refused;
  // The service registered though Kalmora starts by hand; a crash; further
  // starts (AT, by the service manager or by hand with ARGS).
  bool registered = false;
  std::string kill_at;
  struct Later {
    std::string at;
    bool service = false;
    std::string args;
  };
  std::vector<Later> later;
  // People at the host, as sim::Options has them.
  std::vector<sim::Options::Session> sessions;
  std::vector<sim::Options::Input> inputs;
  std::vector<sim::Options::Click> clicks;
  // The host's power and what may hold its halt, as sim::Options has them;
  // spans and wakes as text.
  PowerCapabilities power{true, true};
  bool updates_pending = false;
  std::vector<std::pair<std::string, std::string>> servicing;
  std::vector<sim::Options::Process> processes;
  std::vector<std::string> wakes;
  std::string computer = "SIMHOST";
};
SimRun RunSim(const ScratchDir& dir, const SimSetup& run_setup);
// The same in a fresh directory that holds this kalmora.ini.
SimRun RunIni(const std::string& ini, const SimSetup& run_setup = {});

// One program on a simulated host of its own in `dir`, driven by the test;
// the clock starts at `start`, and the world ends a day later.
struct DirectHost {
  // With `registered`, the service Kalmora is registered for the
  // directory's kalmora.exe.
  DirectHost(const ScratchDir& dir, const std::string& start, const std::string& program = "kalmora",
             const std::string& args = "", bool registered = false);
  sim::World world;
  sim::SimHost host;
};

// A kalmora.ini with Version 1, the given [GeneralOptions] lines, and the
// given list sections (empty ones when not given).
std::string Ini(const std::string& general, const std::string& shutdown_holidays = "",
                const std::string& msg_holidays = "", const std::string& messaging = "",
                const std::string& scheduled = "");

}  // namespace kalmora::testing
