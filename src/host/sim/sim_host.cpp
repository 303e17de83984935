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
#include "notify/desk_command.h"
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

// "{a,b}" lists expand the way curl expands them.
std::vector<std::string> ExpandBraces(const std::string& s) {
  size_t open = s.find('{');
  size_t close = open == std::string::npos ? std::string::npos : s.find('}', open);
  if (close == std::string::npos) return {s};
  std::vector<std::string> out;
  std::string inner = s.substr(open + 1, close - open - 1);
  size_t pos = 0;
  for (;;) {
    size_t comma = inner.find(',', pos);
    std::string alt = inner.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
    for (auto& rest : ExpandBraces(s.substr(close + 1))) out.push_back(s.substr(0, open) + alt + rest);
    if (comma == std::string::npos) break;
    pos = comma + 1;
  }
  return out;
}

constexpr const char* kErrorPage =
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\r\n<html><head>\r\n<title>404 Not Found</title>\r\n"
    "</head><body>\r\n<h1>Not Found</h1>\r\n<p>The requested URL was not found on this server.</p>\r\n"
    "</body></html>\r\n";

}  // namespace

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

std::string SimHost::ChildName(const std::string& command_line, std::string& rest) {
  size_t blank = command_line.find(' ');
  const std::string token = AsciiLower(command_line.substr(0, blank));
  rest = blank == std::string::npos ? std::string() : command_line.substr(blank);
  rest.erase(0, rest.find_first_not_of(' ') == std::string::npos ? rest.size() : rest.find_first_not_of(' '));
  if (token == "system\\curl" || token == "system\\curl.exe") return "curl";
  if (token == "system\\send.bat") return "send.bat";
  if (token == "net" || token == "net.exe") return "net";
  if (token == "zorvane.exe" || token == "zorvane") return "zorvane";
  if (token == "kalmora.exe" || token == "kalmora") return "kalmora";
  return "";
}

Status SimHost::Spawn(const std::string& command_line, std::string& child, std::string& rest) {
  child = ChildName(command_line, rest);
  Status started;
  if (child.empty() || world_.options().without.count(child)) {
    started = Status::Failure("The system cannot find the file specified.");
  } else if (child == "zorvane" || child == "kalmora") {
    // Like the system's loader, start only a program file that is an
    // executable.
    auto bytes = FileExistsQuiet(child + ".exe") ? ReadWhole(world_.Resolve(child + ".exe", cwd_)) : std::nullopt;
    if (!bytes || !LooksLikeWindowsExecutable(*bytes)) started = Status::Failure("Bad EXE format.");
  }
  Emit("spawn", Record{{"cmd", command_line}, {"ok", started.ok()}});
  return started;
}

Status SimHost::StartProcess(const std::string& command_line) {
  auto child = StartChild(command_line);
  if (!child) return child.status();
  ReleaseChild(*child, false);
  return Status();
}

Result<ChildProcess> SimHost::StartChild(const std::string& command_line) {
  std::string name, rest;
  if (Status s = Spawn(command_line, name, rest); !s) return s;
  SimChild c;
  if (name == "curl" && command_line.find(" --mail-from ") != std::string::npos) {
    c = SmtpCurl(command_line);
  } else if (name == "curl") {
    c = Curl(command_line);
  } else if (name == "send.bat") {
    c = SendBat();
  } else {
    c.parent = program_;
    c.cmd = command_line;
    c.start = c.end = world_.now();
    if (auto it = world_.options().exit_status.find(name); it != world_.options().exit_status.end()) {
      c.status = it->second;
    }
    if (name == "zorvane" || name == "kalmora") world_.Queue(World::Launch{name, rest, false});
  }
  return ChildProcess{world_.AddChild(std::move(c))};
}

std::optional<uint32_t> SimHost::ChildExitStatus(ChildProcess child) {
  SimChild* c = world_.Child(child.id);
  if (!c || !c->ended) return std::nullopt;
  return c->status;
}

void SimHost::ReleaseChild(ChildProcess child, bool end_if_running) {
  if (end_if_running) world_.EndChildNow(child.id);
}

// send.bat reads mail.tmp while it runs; here, when it ends.
SimChild SimHost::SendBat() {
  const Options& o = world_.options();
  SimChild c;
  c.parent = program_;
  c.cmd = "system\\send.bat";
  c.start = world_.now();
  c.end = c.start + o.send_delay_ms;
  if (auto it = o.exit_status.find("send.bat"); it != o.exit_status.end()) c.status = it->second;
  World* world = &world_;
  const std::string mail_path = world_.Resolve("mail.tmp", cwd_), program = program_;
  c.on_end = [world, mail_path, program] {
    world->Emit(program, "mail", Record{{"text", ReadWhole(mail_path).value_or("")}});
  };
  return c;
}

// curl handing one mail to the mail server: taken when it ends, unless the
// server is down (curl status 7) or refuses a recipient (55). Arguments are
// single words: the core never passes one with a blank.
SimChild SimHost::SmtpCurl(const std::string& command_line) {
  const Options& o = world_.options();
  SimChild c;
  c.parent = program_;
  c.cmd = command_line;
  c.start = world_.now();
  c.end = c.start + o.send_delay_ms;
  Record mail{{"server", ""}, {"from", ""}, {"rcpt", Record::array()}};
  std::string file;
  std::istringstream words(command_line);
  for (std::string word, value; words >> word;) {
    if (word == "--url" && words >> value) mail["server"] = value;
    if (word == "--mail-from" && words >> value) mail["from"] = value;
    if (word == "--mail-rcpt" && words >> value) {
      mail["rcpt"].push_back(value);
      if (o.smtp_refused.count(value)) c.status = 55;
    }
    if (word == "-T" && words >> value) file = world_.Resolve(value, cwd_);
  }
  if (file.empty() || !ReadWhole(file)) c.status = 26;
  if (o.smtp_down) c.status = 7;
  if (c.status != 0) return c;
  World* world = &world_;
  const std::string program = program_;
  c.on_end = [world, program, mail, file]() mutable {
    mail["text"] = ReadWhole(file).value_or("");
    world->Emit(program, "smtp", mail);
  };
  return c;
}

namespace {

// Writes what has arrived of every transfer `elapsed` ms after the start,
// each taking `each` ms, one after the other.
void Deliver(World& world, const std::string& program, const std::vector<Transfer>& transfers, int64_t elapsed,
             int64_t each) {
  for (const Transfer& t : transfers) {
    if (!t.reachable) {
      world.Emit(program, "download", Record{{"url", t.url}, {"file", t.file}, {"saved", false}});
      continue;
    }
    double part = each > 0 ? std::clamp(static_cast<double>(elapsed) / static_cast<double>(each), 0.0, 1.0) : 1.0;
    elapsed -= each;
    if (part <= 0) break;
    if (t.cut) part = std::min(part, *t.cut);
    const size_t bytes = part >= 1.0 ? t.bytes.size() : static_cast<size_t>(static_cast<double>(t.bytes.size()) * part);
    std::ofstream out(t.path, std::ios::binary | std::ios::trunc);
    out << t.bytes.substr(0, bytes);
    out.close();
    Record r{{"url", t.url}, {"file", t.file}, {"saved", static_cast<bool>(out)}};
    if (bytes < t.bytes.size()) r["cut_at"] = bytes;
    world.Emit(program, "download", std::move(r));
  }
}

}  // namespace

// What the simulated update server makes of one URL; `status` becomes the
// curl status a failing transfer ends with.
Transfer SimHost::PlanTransfer(const std::string& url, uint32_t& status) {
  const Options& o = world_.options();
  const std::string prefix = o.server_url + "kalmora/";
  Transfer t;
  t.url = url;
  t.file = url.substr(url.find_last_of('/') + 1);
  t.path = world_.Resolve(t.file, cwd_);
  // A last segment that names no plain file in the working directory saves
  // nothing.
  const bool savable = !t.file.empty() && t.file != "." && t.file != ".." && t.file.find('\\') == std::string::npos;
  t.reachable = savable && !o.server_url.empty() && url.compare(0, prefix.size(), prefix) == 0;
  if (!savable) {
    status = 23;  // curl: cannot write the output
  } else if (!t.reachable) {
    status = 7;  // curl: cannot connect
  } else {
    // The server serves its own directory and nothing above it.
    const std::string name = url.substr(prefix.size());
    const bool inside = name.find("..") == std::string::npos && (name.empty() || name[0] != '/');
    auto content = inside ? ReadWhole(o.server_dir + "/" + name) : std::nullopt;
    t.bytes = content ? *content : std::string(kErrorPage);
    if (auto it = o.server_cut.find(t.file); it != o.server_cut.end()) {
      t.cut = it->second;
      status = 18;  // curl: partial file
    }
  }
  return t;
}

// curl -O: each URL of the (brace-expanded) last word is saved under its last
// segment. Every reachable file takes the server's delay, one after the
// other; a file cut by a fault arrives in part and curl ends with status 18.
SimChild SimHost::Curl(const std::string& command_line) {
  SimChild c;
  c.parent = program_;
  c.cmd = command_line;
  c.start = c.end = world_.now();
  auto transfers = std::make_shared<std::vector<Transfer>>();
  for (const std::string& one : ExpandBraces(command_line.substr(command_line.find_last_of(' ') + 1))) {
    transfers->push_back(PlanTransfer(one, c.status));
    if (transfers->back().reachable) c.end += world_.options().server_delay_ms;
  }
  World* world = &world_;
  const std::string program = program_;
  const LocalMs start = c.start, end = c.end;
  const int64_t each = world_.options().server_delay_ms;
  c.on_end = [=] { Deliver(*world, program, *transfers, end - start, each); };
  c.on_kill = [=](LocalMs at) { Deliver(*world, program, *transfers, at - start, each); };
  return c;
}

// A directory search for a file: a directory of that name does not count.
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
  if (name != "Kalmora" || !world_.service_registered()) return std::optional<RegisteredService>();
  return std::optional<RegisteredService>(
      RegisteredService{"\"" + world_.options().work_dir + "\\kalmora.exe\"", world_.service_state()});
}

Result<std::vector<DeskSession>> SimHost::ActiveSessions() {
  std::vector<DeskSession> out;
  const auto& sessions = world_.options().sessions;
  for (size_t i = 0; i < sessions.size(); ++i) {
    if (sessions[i].from <= world_.now() && world_.now() < sessions[i].to) {
      out.push_back({static_cast<uint32_t>(i + 1), sessions[i].user});
    }
  }
  return out;
}

// The desk program in a session: in idle mode it answers at once with the
// seconds since the session's last input; a countdown window stays until
// someone clicks in it or the session ends.
Result<ChildProcess> SimHost::StartInSession(uint32_t session, const std::string& args) {
  const Options& o = world_.options();
  if (session == 0 || session > o.sessions.size()) return Status::Failure("There is no such session.");
  const Options::Session& s = o.sessions[session - 1];
  const LocalMs now = world_.now();
  Emit("desk", Record{{"session", s.name}, {"user", s.user}, {"args", args}});
  SimChild c;
  c.parent = program_;
  c.cmd = "kalmora-desk.exe " + args;
  c.start = c.end = now;
  if (args == kDeskIdleCommandLine) {
    std::optional<LocalMs> last;
    for (const auto& in : o.inputs) {
      if (in.session != s.name || in.from > now) continue;
      last = std::max(last.value_or(in.from), std::min(in.to, now));
    }
    c.status = last ? static_cast<uint32_t>(std::min<LocalMs>((now - *last) / 1000, kDeskMaxIdleSeconds))
                    : kDeskMaxIdleSeconds;
  } else {
    c.end = s.to;
    c.status = kDeskOk;
    for (const auto& click : o.clicks) {
      // A window without a postpone button takes only an OK.
      const bool button = !click.postpone || args.find(" --postpone ") != std::string::npos;
      if (click.session == s.name && button && click.at > now && click.at < c.end) {
        c.end = click.at;
        c.status = click.postpone ? kDeskPostpone : kDeskOk;
      }
    }
  }
  return ChildProcess{world_.AddChild(std::move(c))};
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

}  // namespace kalmora::sim
