#include "host/sim/sim_host.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "config/numbers.h"
#include "host/sim/digest.h"
#include "host/sim/profile_lookup.h"
#include "update/versions.h"

namespace fs = std::filesystem;

namespace kalmora::sim {

namespace {

const char* IconName(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return "information";
    case MsgIcon::Warning:
      return "warning";
    case MsgIcon::None:
      break;
  }
  return "none";
}

}  // namespace

std::optional<std::string> ReadWhole(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // One read into a string of the file's size: the configuration is read
  // once per key, so this is the simulator's hot path.
  std::string bytes(static_cast<size_t>(fs::file_size(path, ec)), '\0');
  if (ec) return std::nullopt;
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

SimHost::SimHost(World& world, std::string program, std::string args, bool started_by_service_manager)
    : world_(world),
      program_(std::move(program)),
      args_(std::move(args)),
      started_by_scm_(started_by_service_manager),
      pid_(world.NewPid()),
      cwd_(world.options().work_dir) {
  version_ = ProgramVersion{KALMORA_VERSION_MAJOR, KALMORA_VERSION_MINOR, KALMORA_VERSION_REVISION};
  // A program file that carries a version resource says which version runs.
  if (auto bytes = ReadWhole(world_.Resolve(program_ + ".exe", cwd_))) {
    if (auto v = StampedVersion(*bytes)) version_ = *v;
  }
}

void SimHost::Emit(const std::string& kind, Record fields) { world_.Emit(program_, kind, std::move(fields)); }

LocalTime SimHost::Now() { return ToLocalTime(world_.now()); }

float SimHost::SecondsSinceMidnight() {
  LocalMs ms = world_.now() % 86400000;
  if (ms < 0) ms += 86400000;
  return static_cast<float>(static_cast<double>(ms) / 1000.0);
}

int64_t SimHost::ElapsedMs() { return world_.now(); }

void SimHost::CheckUntil(LocalMs t) {
  if (t > world_.options().until) {
    world_.MoveTo(world_.options().until);
    ExitProgram(ExitReason::Until);
  }
}

void SimHost::MoveClock(LocalMs t) {
  CheckUntil(t);
  auto kill = program_ == "kalmora" ? world_.kill_due() : std::nullopt;
  if (kill && *kill <= t) {
    world_.MoveTo(std::max(world_.now(), *kill));
    world_.MarkKilled();
    // Nothing of the program runs any more, and nobody tells the service
    // manager: it sees the process gone.
    ExitProgram(ExitReason::Killed);
  }
  world_.MoveTo(t);
}

void SimHost::Sleep(uint32_t ms) { MoveClock(world_.now() + ms); }

void SimHost::Beep(uint32_t hz, uint32_t ms) {
  Emit("beep", Record{{"hz", hz}, {"ms", ms}});
  MoveClock(world_.now() + ms);
}

void SimHost::SetTimerInterval(TimerId id, uint32_t ms) {
  Timer& t = timers_[static_cast<size_t>(id)];
  t.interval = ms;
  if (t.enabled) t.due = world_.now() + ms;
}

void SimHost::EnableTimer(TimerId id, bool enabled) {
  Timer& t = timers_[static_cast<size_t>(id)];
  if (enabled && !t.enabled) t.due = world_.now() + t.interval;
  t.enabled = enabled;
}

bool SimHost::TimerEnabled(TimerId id) { return timers_[static_cast<size_t>(id)].enabled; }

std::optional<LocalMs> SimHost::NextDue() const {
  std::optional<LocalMs> next;
  auto consider = [&](LocalMs t) {
    if (!next || t < *next) next = t;
  };
  if (start_pending_) consider(world_.now());
  if (auto later = world_.NextLaterStart()) consider(*later);
  if (auto kill = world_.kill_due(); kill && program_ == "kalmora") consider(*kill);
  if (connected_ && !stop_delivered_ && world_.options().stop_at) consider(*world_.options().stop_at);
  for (const Timer& t : timers_) {
    if (t.enabled && t.interval > 0) consider(t.due);
  }
  return next;
}

bool SimHost::DeliverOne() {
  const LocalMs now = world_.now();
  if (start_pending_) {
    start_pending_ = false;
    bool success = false;
    if (sink_) sink_->OnServiceStartRequested(success);
    running_ = success;
    if (success) world_.SetServiceState(ServiceState::Running);
    return true;
  }
  if (auto later = world_.TakeLaterStart(now)) {
    world_.LaterStart(*later, true);
    return true;
  }
  if (world_.TakeResume()) {
    if (power_events_ && sink_) sink_->OnPowerResume();
    return true;
  }
  if (connected_ && !stop_delivered_ && world_.options().stop_at && *world_.options().stop_at <= now) {
    stop_delivered_ = true;
    if (sink_) sink_->OnServiceStopRequested();
    return true;
  }
  // The timer that fell due first goes first.
  Timer* best = nullptr;
  size_t best_id = 0;
  for (size_t i = 0; i < timers_.size(); ++i) {
    Timer& t = timers_[i];
    if (!t.enabled || t.interval == 0 || t.due > now) continue;
    if (!best || t.due < best->due) {
      best = &t;
      best_id = i;
    }
  }
  if (!best) return false;
  // A timer keeps its rhythm; ticks missed while the program was busy are
  // not delivered one after another.
  const int64_t late = now - best->due;
  best->due += static_cast<int64_t>(best->interval) * (late / best->interval + 1);
  world_.CountTimerWakeup();
  if (sink_) sink_->OnTimer(static_cast<TimerId>(best_id));
  return true;
}

void SimHost::DoEvents() {
  MoveClock(world_.now());
  while (DeliverOne()) {
  }
}

void SimHost::IdleUntilEnd() {
  for (;;) {
    DoEvents();
    auto next = NextDue();
    if (!next) CheckUntil(world_.options().until + 1);
    MoveClock(*next);
  }
}

void SimHost::EndProgram(ExitReason reason) {
  // Whatever ends the service's program, the service manager sees it
  // stopped (the Windows host reports it on the way out).
  if (connected_ && reason != ExitReason::Killed) world_.SetServiceState(ServiceState::Stopped);
  Emit("exit", Record{{"reason", ExitReasonName(reason)}});
  throw ProgramEnded{reason};
}

std::string SimHost::ProgramDirectory() { return world_.options().work_dir; }

bool SimHost::SetCurrentDirectory(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(world_.Resolve(dir, cwd_), ec)) return false;
  cwd_ = world_.Resolve(dir, cwd_);
  return true;
}

void SimHost::ShowMessage(const std::string& caption, const std::string& text, MsgIcon icon) {
  Emit("msgbox", Record{{"caption", caption}, {"text", text}, {"icon", IconName(icon)}});
}

bool SimHost::FileExistsQuiet(const std::string& name) {
  std::error_code ec;
  return fs::is_regular_file(world_.Resolve(name, cwd_), ec);
}

bool SimHost::IsLocked(const std::string& name) const {
  auto it = locked_.find(name);
  return it != locked_.end() && (!it->second || world_.now() < *it->second);
}

void SimHost::SetInteractiveDesktop(bool on) {
  Emit("service", Record{{"call", "SetInteractiveDesktop"}, {"arg", on}});
}
// The records show the numbers the programs have always passed here.
void SimHost::SetStartType(StartType) { Emit("service", Record{{"call", "SetStartType"}, {"arg", 2}}); }
Status SimHost::RegisterService() {
  Emit("service", Record{{"call", "RegisterService"}, {"result", true}});
  return Status();
}
Status SimHost::UnregisterService() {
  Emit("service", Record{{"call", "UnregisterService"}, {"result", true}});
  return Status();
}
void SimHost::SetDebugMode(bool on) {
  debug_mode_ = on;
  Emit("service", Record{{"call", "SetDebugMode"}, {"arg", on}});
}
void SimHost::SetAcceptedControls(ServiceControls controls) {
  power_events_ = controls == ServiceControls::StopAndPowerEvents;
  Emit("service",
       Record{{"call", "SetAcceptedControls"}, {"arg", power_events_ ? Record("stop, power events") : Record(2)}});
}

// One user is logged on to the simulated host.
Result<int> SimHost::ShowSessionMessage(const std::string& title, const std::string& text, uint32_t timeout_s) {
  Emit("session", Record{{"title", title}, {"text", text}, {"timeout", timeout_s}});
  return 1;
}
void SimHost::ConnectServiceManager() {
  Emit("service", Record{{"call", "ConnectServiceManager"}});
  if (started_by_scm_ && !debug_mode_ && !connected_) {
    connected_ = true;
    start_pending_ = true;
  }
}
void SimHost::ReportServiceStopped() {
  if (connected_) world_.SetServiceState(ServiceState::Stopped);
  Emit("service", Record{{"call", "ReportServiceStopped"}});
}

std::optional<uint32_t> SimHost::ClaimInstance() {
  const uint32_t holder = world_.ClaimInstance(pid_);
  return holder == 0 ? std::nullopt : std::optional<uint32_t>(holder);
}

Result<std::optional<RegisteredService>> SimHost::QueryService(const std::string& name) {
  // Windows' installer of updates runs while it services the host.
  if (name == "TrustedInstaller") {
    const LocalMs now = world_.now();
    bool running = false;
    for (const auto& [from, to] : world_.options().servicing) running = running || (from <= now && now < to);
    return std::optional<RegisteredService>(RegisteredService{"C:\\Windows\\servicing\\TrustedInstaller.exe",
                                                              running ? ServiceState::Running : ServiceState::Stopped});
  }
  if (name != "Kalmora" || !world_.service_registered()) return std::optional<RegisteredService>();
  return std::optional<RegisteredService>(
      RegisteredService{"\"" + world_.options().work_dir + "\\kalmora.exe\"", world_.service_state()});
}

Status SimHost::StartService(const std::string& name) {
  if (name != "Kalmora") return Status::Failure("The specified service does not exist as an installed service.");
  return world_.StartService(program_);
}

// Types as the Windows event log numbers them.
void SimHost::LogEvent(EventType type, EventId id, const std::string& text) {
  const int number = type == EventType::Error ? 1 : type == EventType::Warning ? 2 : 4;
  Emit("event", Record{{"type", number}, {"id", static_cast<int32_t>(id)}, {"text", text}});
}

namespace {
constexpr const char* kInUse = "The process cannot access the file because it is being used by another process.";
constexpr const char* kNotFound = "The system cannot find the file specified.";
}  // namespace

Status SimHost::DeleteFile(const std::string& name) {
  std::error_code ec;
  const std::string path = world_.Resolve(name, cwd_);
  Status s = IsLocked(name)                   ? Status::Failure(kInUse)
             : !fs::is_regular_file(path, ec) ? Status::Failure(kNotFound)
             : !fs::remove(path, ec)          ? Status::Failure(ec.message())
                                              : Status();
  Emit("file", Record{{"op", "delete"}, {"name", name}, {"ok", s.ok()}});
  return s;
}

Status SimHost::ReplaceFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  const std::string src = world_.Resolve(from, cwd_), dst = world_.Resolve(to, cwd_);
  Status s = IsLocked(from) || IsLocked(to)  ? Status::Failure(kInUse)
             : !fs::is_regular_file(src, ec) ? Status::Failure(kNotFound)
             : fs::is_directory(dst, ec)     ? Status::Failure("Access is denied.")
                                             : Status();
  if (s) {
    fs::rename(src, dst, ec);
    if (ec) s = Status::Failure(ec.message());
  }
  Emit("file", Record{{"op", "rename"}, {"name", from}, {"to", to}, {"ok", s.ok()}});
  return s;
}

bool SimHost::FileExists(const std::string& name) { return FileExistsQuiet(name); }

std::optional<std::string> SimHost::ReadFile(const std::string& name) {
  const std::string full = world_.Resolve(name, cwd_);
  world_.Count("read " + fs::path(full).filename().string());
  return ReadWhole(full);
}

Status SimHost::WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(world_.Resolve(name, cwd_), std::ios::binary | std::ios::trunc);
  if (!out) return Status::Failure("Access is denied.");
  out << bytes;
  out.close();
  return out ? Status() : Status::Failure("The disk is full.");
}

std::optional<std::string> SimHost::Sha256OfFile(const std::string& name) {
  auto bytes = ReadFile(name);
  if (!bytes) return std::nullopt;
  return Sha256Digest(*bytes);
}

std::string SimHost::GetProfileString(const std::string& section, const std::string& key,
                                      const std::string& default_value, const std::string& path, size_t buffer_size) {
  const std::string full = world_.Resolve(path, cwd_);
  std::error_code ec1, ec2;
  const auto written = fs::last_write_time(full, ec1);
  const auto size = fs::file_size(full, ec2);
  // A file whose time of the last write (with its nanoseconds) or size
  // changed is read again, and split again only when its bytes differ.
  if (!profile_cache_.index || ec1 || ec2 || full != profile_cache_.path || written != profile_cache_.written ||
      size != profile_cache_.size) {
    auto bytes = ReadWhole(full);
    const bool same = profile_cache_.index && full == profile_cache_.path && bytes == profile_cache_.index->bytes();
    if (!same) {
      world_.Count("index " + fs::path(full).filename().string());
      profile_cache_.index = std::make_unique<ProfileIndex>(std::move(bytes));
    }
    profile_cache_.path = ec1 || ec2 ? std::string() : full;
    profile_cache_.written = written;
    profile_cache_.size = size;
  }
  return profile_cache_.index->Lookup(section, key, default_value, buffer_size);
}

// As the Windows host asks: EWX_SHUTDOWN | EWX_FORCE, every reason bit set.
void SimHost::ExitWindowsEx(ShutdownMode) {
  Emit("halt", Record{{"flags", 5u}, {"reason", 0xFFFFFFFFu}});
  world_.MarkHalted();
}

PowerCapabilities SimHost::Capabilities() { return world_.options().power; }

bool SimHost::UpdatesPending() { return world_.options().updates_pending; }

Status SimHost::InitiateShutdown(uint32_t flags, uint32_t reason, const std::string& comment) {
  const bool missing = world_.options().without.count("InitiateShutdownW") > 0;
  Record r{{"call", "InitiateShutdownW"}, {"flags", flags}, {"reason", reason}, {"comment", comment}};
  if (missing) r["failed"] = "The request is not supported. (error 50)";
  Emit("halt", std::move(r));
  if (missing) return Status::Failure("The request is not supported. (error 50)");
  world_.MarkHalted();
  return {};
}

// The host is suspended until the next --wake after now, or to the end.
Status SimHost::SetSuspendState(bool hibernate) {
  const bool missing = world_.options().without.count("SetSuspendState") > 0;
  Record r{{"call", "SetSuspendState"}, {"state", hibernate ? "hibernate" : "sleep"}};
  if (missing) r["failed"] = "The request is not supported. (error 50)";
  Emit("halt", std::move(r));
  if (missing) return Status::Failure("The request is not supported. (error 50)");
  for (LocalMs wake : world_.options().wakes) {
    if (wake <= world_.now()) continue;
    world_.Suspend(wake);
    return {};
  }
  world_.MarkHalted();
  ExitProgram(ExitReason::Halt);
}

}  // namespace kalmora::sim
