#include "host/sim/sim_host.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/numbers.h"
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
    world_.SetNow(world_.options().until);
    ExitProgram(ExitReason::Until);
  }
}

void SimHost::Sleep(uint32_t ms) {
  CheckUntil(world_.now() + ms);
  world_.Advance(ms);
}

void SimHost::Beep(uint32_t hz, uint32_t ms) {
  Emit("beep", Record{{"hz", hz}, {"ms", ms}});
  CheckUntil(world_.now() + ms);
  world_.Advance(ms);
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
  if (sink_) sink_->OnTimer(static_cast<TimerId>(best_id));
  return true;
}

void SimHost::DoEvents() {
  while (DeliverOne()) {
  }
}

void SimHost::IdleUntilEnd() {
  for (;;) {
    DoEvents();
    auto next = NextDue();
    if (!next) CheckUntil(world_.options().until + 1);
    CheckUntil(*next);
    if (*next > world_.now()) world_.SetNow(*next);
  }
}

void SimHost::EndProgram(ExitReason reason) {
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

bool SimHost::StartProcess(const std::string& command_line) {
  size_t blank = command_line.find(' ');
  const std::string token = AsciiLower(command_line.substr(0, blank));
  std::string rest = blank == std::string::npos ? std::string() : command_line.substr(blank);
  rest.erase(0, rest.find_first_not_of(' ') == std::string::npos ? rest.size() : rest.find_first_not_of(' '));

  std::string child;
  if (token == "system\\curl" || token == "system\\curl.exe") {
    child = "curl";
  } else if (token == "system\\send.bat") {
    child = "send.bat";
  } else if (token == "net" || token == "net.exe") {
    child = "net";
  } else if (token == "zorvane.exe" || token == "zorvane") {
    child = "zorvane";
  } else if (token == "kalmora.exe" || token == "kalmora") {
    child = "kalmora";
  }
  bool ok = !child.empty() && world_.options().without.count(child) == 0;
  if (ok && (child == "zorvane" || child == "kalmora")) {
    // Like the system's loader, start only a program file that is an
    // executable.
    auto bytes = FileExistsQuiet(child + ".exe") ? ReadWhole(world_.Resolve(child + ".exe", cwd_)) : std::nullopt;
    ok = bytes && LooksLikeWindowsExecutable(*bytes);
  }
  Emit("spawn", Record{{"cmd", command_line}, {"ok", ok}});
  if (!ok) return false;

  if (child == "curl") {
    RunCurl(command_line);
  } else if (child == "send.bat") {
    auto mail = ReadWhole(world_.Resolve("mail.tmp", cwd_));
    Emit("mail", Record{{"text", mail.value_or("")}});
  } else if (child == "zorvane" || child == "kalmora") {
    world_.Queue(World::Launch{child, rest, false});
  }
  return true;
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

void SimHost::RunCurl(const std::string& command_line) {
  // The URL is the last word; -O saves under its last segment.
  size_t last = command_line.find_last_of(' ');
  const std::string url = command_line.substr(last + 1);
  const Options& o = world_.options();
  const std::string prefix = o.server_url + "kalmora/";
  for (const std::string& one : ExpandBraces(url)) {
    const std::string file = one.substr(one.find_last_of('/') + 1);
    const bool reachable = !o.server_url.empty() && one.compare(0, prefix.size(), prefix) == 0;
    // A last segment that names no plain file in the working directory
    // saves nothing.
    const bool savable = !file.empty() && file != "." && file != ".." && file.find('\\') == std::string::npos;
    if (!reachable || !savable) {
      Emit("download", Record{{"url", one}, {"file", file}, {"saved", false}});
      continue;
    }
    // The server serves its own directory and nothing above it.
    const std::string name = one.substr(prefix.size());
    const bool inside = name.find("..") == std::string::npos && (name.empty() || name[0] != '/');
    auto content = inside ? ReadWhole(o.server_dir + "/" + name) : std::nullopt;
    std::ofstream out(world_.Resolve(file, cwd_), std::ios::binary | std::ios::trunc);
    out << (content ? *content : std::string(kErrorPage));
    out.close();
    Emit("download", Record{{"url", one}, {"file", file}, {"saved", static_cast<bool>(out)}});
  }
}

void SimHost::SetInteractiveDesktop(bool on) {
  Emit("service", Record{{"call", "SetInteractiveDesktop"}, {"arg", on}});
}
void SimHost::SetStartType(int32_t type) { Emit("service", Record{{"call", "SetStartType"}, {"arg", type}}); }
bool SimHost::RegisterService() {
  Emit("service", Record{{"call", "RegisterService"}, {"result", true}});
  return true;
}
bool SimHost::UnregisterService() {
  Emit("service", Record{{"call", "UnregisterService"}, {"result", true}});
  return true;
}
void SimHost::SetDebugMode(bool on) {
  debug_mode_ = on;
  Emit("service", Record{{"call", "SetDebugMode"}, {"arg", on}});
}
void SimHost::SetAcceptedControls(int32_t controls) {
  Emit("service", Record{{"call", "SetAcceptedControls"}, {"arg", controls}});
}
void SimHost::ConnectServiceManager() {
  Emit("service", Record{{"call", "ConnectServiceManager"}});
  if (started_by_scm_ && !debug_mode_ && !connected_) {
    connected_ = true;
    start_pending_ = true;
  }
}
void SimHost::ReportServiceStopped() { Emit("service", Record{{"call", "ReportServiceStopped"}}); }

void SimHost::LogEvent(int16_t type, int32_t id, const std::string& text) {
  Emit("event", Record{{"type", type}, {"id", id}, {"text", text}});
}

bool SimHost::DeleteFile(const std::string& name) {
  std::error_code ec;
  const std::string path = world_.Resolve(name, cwd_);
  bool ok = !IsLocked(name) && fs::is_regular_file(path, ec) && fs::remove(path, ec);
  Emit("file", Record{{"op", "delete"}, {"name", name}, {"ok", ok}});
  return ok;
}

bool SimHost::ReplaceFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  const std::string src = world_.Resolve(from, cwd_), dst = world_.Resolve(to, cwd_);
  bool ok = !IsLocked(from) && !IsLocked(to) && fs::is_regular_file(src, ec) && !fs::is_directory(dst, ec);
  if (ok) {
    fs::rename(src, dst, ec);
    ok = !ec;
  }
  Emit("file", Record{{"op", "rename"}, {"name", from}, {"to", to}, {"ok", ok}});
  return ok;
}

bool SimHost::FileExists(const std::string& name) { return FileExistsQuiet(name); }

std::optional<std::string> SimHost::ReadFile(const std::string& name) { return ReadWhole(world_.Resolve(name, cwd_)); }

bool SimHost::WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream out(world_.Resolve(name, cwd_), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

std::optional<std::string> SimHost::Sha256OfFile(const std::string& name) {
  auto bytes = ReadFile(name);
  if (!bytes) return std::nullopt;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(bytes->data(), bytes->size(), digest, &len, EVP_sha256(), nullptr) != 1) return std::nullopt;
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

std::string SimHost::GetProfileString(const std::string& section, const std::string& key,
                                      const std::string& default_value, const std::string& path, size_t buffer_size) {
  return LookupProfileString(ReadWhole(world_.Resolve(path, cwd_)), section, key, default_value, buffer_size);
}

void SimHost::ExitWindowsEx(uint32_t flags, uint32_t reason) {
  Emit("halt", Record{{"flags", flags}, {"reason", reason}});
}

}  // namespace kalmora::sim
