// The simulated host: a virtual local clock that moves only when a program
// sleeps, beeps or idles, a simulated service manager, real files in a
// scratch program directory, a simulated curl and update server, and a
// record of every effect. Kalmora and Zorvane run on it one after another,
// as the command lines they start each other with say.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "host/host.h"

namespace kalmora::sim {

using Record = nlohmann::ordered_json;

// Local date and time as milliseconds since 1970-01-01 00:00 local time.
using LocalMs = int64_t;

std::optional<LocalMs> ParseTime(const std::string& text);
std::string FormatTime(LocalMs t);
LocalTime ToLocalTime(LocalMs t);
// This machine's own local time now, to the second: where the tools' days
// begin when none is given.
LocalMs MachineNow();

struct Options {
  std::string work_dir;  // the program directory; must exist
  std::string computer = "SIMHOST";
  std::string args;  // Kalmora's argument string
  LocalMs start = 0;
  bool service = false;            // the service manager starts Kalmora
  bool registered = false;         // the service is registered all the same
  std::optional<LocalMs> stop_at;  // the service manager asks it to stop
  LocalMs until = 0;               // where the simulation ends
  std::string server_url;          // --server URL=DIR
  std::string server_dir;
  // False: Kalmora leaves the online update out whatever kalmora.ini says
  // (a plan without an update server).
  bool online_update = true;
  std::set<std::string> without;  // curl, send.bat, net, zorvane
  // The update server's transfers: how long each file takes, and files whose
  // transfer breaks off after this fraction of their bytes (curl status 18).
  int64_t server_delay_ms = 0;
  std::map<std::string, double> server_cut;
  int64_t send_delay_ms = 0;                    // how long send.bat runs
  std::map<std::string, uint32_t> exit_status;  // send.bat, net: the status they end with
  // The mail server that curl sends to (every SmtpServer reaches it): down,
  // or answering 550 to these recipients. A mail takes send_delay_ms.
  bool smtp_down = false;
  std::set<std::string> smtp_refused;
  // Spans in which the host sleeps: no program runs, the clock jumps from
  // the first moment to the second, and the resume is delivered.
  std::vector<std::pair<LocalMs, LocalMs>> sleeps;
  // The running Kalmora dies at this moment without a word (a crash, or
  // ended from Task Manager); the service manager's recovery may restart it.
  std::optional<LocalMs> kill_at;
  // Further starts while the simulation runs: kalmora.exe by hand with
  // these arguments, or the service manager asked to start the service.
  struct LaterStart {
    LocalMs at = 0;
    bool service = false;
    std::string args;
  };
  std::vector<LaterStart> later_starts;
  // People at the host: sessions logged on from..to (ids 1, 2, … in this
  // order), keyboard or mouse input in them, and clicks in their countdown
  // window ("postpone", or "OK").
  struct Session {
    std::string name, user;
    LocalMs from = 0, to = 0;
  };
  std::vector<Session> sessions;
  struct Input {
    std::string session;
    LocalMs from = 0, to = 0;
  };
  std::vector<Input> inputs;
  enum class ClickKind { Ok, Postpone, Kill };
  struct Click {
    std::string session;
    LocalMs at = 0;
    ClickKind kind = ClickKind::Ok;
  };
  std::vector<Click> clicks;
  // The host's power: what it can do besides powering off, updates waiting
  // for a restart, when Windows installs updates (TrustedInstaller runs),
  // other programs that run on it, and when a suspended host is woken
  // (without one it stays suspended to the end).
  PowerCapabilities power{true, true};
  bool updates_pending = false;
  std::vector<std::pair<LocalMs, LocalMs>> servicing;
  struct Process {
    std::string name;
    LocalMs from = 0, to = 0;
    uint32_t pid = 0;
  };
  std::vector<Process> processes;
  std::vector<LocalMs> wakes;
};

// A child program on the virtual clock: it ends by itself at `end`, with its
// effects, unless its parent ends it first.
struct SimChild {
  std::string parent;  // the program that started it
  std::string cmd;
  LocalMs start = 0;
  LocalMs end = 0;
  uint32_t status = 0;
  bool ended = false;
  std::function<void()> on_end;          // its effects when it ends by itself
  std::function<void(LocalMs)> on_kill;  // what it leaves when ended early
};

class World {
 public:
  // Each record is handed to `sink` as it happens, and kept.
  World(Options options, std::function<void(const Record&)> sink = {});
  ~World();

  // Runs Kalmora, then whatever it started, until every program has ended or
  // the simulation's end is reached.
  void Run();

  const std::vector<Record>& records() const { return records_; }
  LocalMs now() const { return now_; }
  const Options& options() const { return options_; }

  // Used by the per-program hosts.
  void Emit(const std::string& program, const std::string& kind, Record fields);
  // Moves the clock on; children that end on the way end at their moment.
  void Advance(int64_t ms) { MoveTo(now_ + ms); }
  void MoveTo(LocalMs t);
  // A child that ends no later than now ends at once.
  uint64_t AddChild(SimChild child);
  SimChild* Child(uint64_t id);
  void EndChildNow(uint64_t id);
  // A resume not yet delivered to the running program.
  bool TakeResume();
  // The running program suspended the host, which is woken at `wake`.
  void Suspend(LocalMs wake);
  // How often a program's timer fired: the cost of idling.
  int64_t timer_wakeups() const { return timer_wakeups_; }
  void CountTimerWakeup() { ++timer_wakeups_; }
  // How often something was done, by name ("read kalmora.ini", "index
  // kalmora.ini"): what the counted guards of the tests look at.
  void Count(const std::string& what) { ++counts_[what]; }
  const std::map<std::string, int>& counts() const { return counts_; }
  std::string Resolve(const std::string& name, const std::string& cwd) const;

  struct Launch {
    std::string program;  // "kalmora" or "zorvane"
    std::string args;
    bool service = false;
    LocalMs at = 0;  // not before this moment
  };
  void Queue(Launch l) { pending_.push_back(std::move(l)); }

  // The process ids the simulated programs get, one after the other.
  uint32_t NewPid() { return next_pid_ += 4; }
  // One Kalmora per host: 0 when `pid` holds the claim now, else the holder.
  uint32_t ClaimInstance(uint32_t pid);

  // The service manager's one service, "Kalmora", registered for the program
  // directory's kalmora.exe when the simulation began with its start.
  bool service_registered() const { return options_.service || options_.registered; }
  ServiceState service_state() const { return service_state_; }
  void SetServiceState(ServiceState s) { service_state_ = s; }
  // A start request, from `who`: refused while the service runs, otherwise
  // the service's program is queued.
  Status StartService(const std::string& who);
  // The service's process ended without reporting the service stopped: the
  // recovery settings restart it after a minute, twice.
  void ServiceFailed();
  // The next of the later starts due by `t`, taken.
  std::optional<Options::LaterStart> TakeLaterStart(LocalMs t);
  std::optional<LocalMs> NextLaterStart() const;
  // Starts it now: beside the program that runs, or queued when none does.
  void LaterStart(const Options::LaterStart& s, bool beside);
  // The moment the running Kalmora is killed, while it is still to come.
  std::optional<LocalMs> kill_due() const { return killed_ ? std::nullopt : options_.kill_at; }
  void MarkKilled() { killed_ = true; }
  void MarkHalted() { halted_ = true; }

 private:
  Options options_;
  std::function<void(const Record&)> sink_;
  std::vector<Record> records_;
  std::vector<Launch> pending_;
  std::map<uint64_t, SimChild> children_;
  std::string running_;  // the program that runs now
  bool resume_pending_ = false;
  int64_t timer_wakeups_ = 0;
  std::map<std::string, int> counts_;
  uint64_t next_child_ = 1;
  uint32_t next_pid_ = 4096;
  uint32_t instance_holder_ = 0;
  ServiceState service_state_ = ServiceState::Stopped;
  int service_failures_ = 0;
  size_t later_taken_ = 0;
  bool killed_ = false, halted_ = false;
  LocalMs now_ = 0;
  void RunProgram(const Launch& l);
  void Finish(SimChild& c, bool killed);
  // Ends the children due by `t`, each at its moment, and moves the clock to `t`.
  void SettleChildren(LocalMs t);
};

// Runs the program the simulation starts ("kalmora" or "zorvane") on its
// host until it ends. The programs live above the hosts, so the world finds
// them at link time (tools/sim_programs.cpp).
class SimHost;
void RunSimulatedProgram(const std::string& program, SimHost& host, const Options& options);

// Copies a directory's files and folders into another, which may exist;
// files there are overwritten.
void CopyTree(const std::string& from, const std::string& to, std::error_code& ec);

// Reads the simulated records back as readable lines.
std::string FormatReadable(const Record& r);

}  // namespace kalmora::sim
