#include "host/sim/sim_world.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <utility>

#include "host/sim/sim_host.h"

namespace kalmora::sim {

namespace {

// The programs' texts are in the system's ANSI code page (Windows-1252);
// records carry them as the characters they are, in UTF-8.
std::string AnsiToUtf8(const std::string& s) {
  static const char16_t k80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    char32_t u = c < 0xA0 ? k80[c - 0x80] : c;
    if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}

void ConvertStrings(Record& r) {
  for (auto& [k, v] : r.items()) {
    if (v.is_string()) v = AnsiToUtf8(v.get<std::string>());
  }
}

std::string Quote(const std::string& s) { return Record(s).dump(); }

}  // namespace

std::optional<LocalMs> ParseTime(const std::string& text) {
  // YYYY-MM-DD HH:MM, optionally :SS and then .mmm
  static const std::string kShape = "dddd-dd-dd dd:dd:dd.ddd";
  if (text.size() != 16 && text.size() != 19 && text.size() != 23) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    const char want = kShape[i];
    if (want == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != want) return std::nullopt;
  }
  auto num = [&](size_t at, size_t len) { return std::stoi(text.substr(at, len)); };
  const int y = num(0, 4), mo = num(5, 2), d = num(8, 2), h = num(11, 2), mi = num(14, 2);
  const int s = text.size() >= 19 ? num(17, 2) : 0;
  const int ms = text.size() == 23 ? num(20, 3) : 0;
  using namespace std::chrono;
  year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
  if (!ymd.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const int64_t days_since = sys_days{ymd}.time_since_epoch().count();
  return days_since * 86400000LL + h * 3600000LL + mi * 60000LL + s * 1000LL + ms;
}

LocalTime ToLocalTime(LocalMs t) {
  using namespace std::chrono;
  int64_t day = t >= 0 ? t / 86400000 : -((-t + 86399999) / 86400000);
  int64_t in_day = t - day * 86400000;
  sys_days sd{days{day}};
  year_month_day ymd{sd};
  LocalTime lt;
  lt.year = static_cast<int>(ymd.year());
  lt.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  lt.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  lt.weekday = static_cast<int>(weekday{sd}.iso_encoding());
  lt.hour = static_cast<int>(in_day / 3600000);
  lt.minute = static_cast<int>(in_day / 60000 % 60);
  lt.second = static_cast<int>(in_day / 1000 % 60);
  lt.millisecond = static_cast<int>(in_day % 1000);
  return lt;
}

LocalMs MachineNow() {
  const std::time_t t = std::time(nullptr);
  std::tm lt{};
#ifdef _WIN32
  localtime_s(&lt, &t);
#else
  localtime_r(&t, &lt);
#endif
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &lt);
  return *ParseTime(buf);
}

std::string FormatTime(LocalMs t) {
  LocalTime lt = ToLocalTime(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", lt.year, lt.month, lt.day, lt.hour, lt.minute,
                lt.second, lt.millisecond);
  return buf;
}

World::World(Options options, std::function<void(const Record&)> sink)
    : options_(std::move(options)), sink_(std::move(sink)), now_(options_.start) {}

World::~World() = default;

void World::Emit(const std::string& program, const std::string& kind, Record fields) {
  Record r;
  r["t"] = FormatTime(now_);
  r["program"] = program;
  r["kind"] = kind;
  ConvertStrings(fields);
  for (auto& [k, v] : fields.items()) r[k] = v;
  records_.push_back(r);
  if (sink_) sink_(records_.back());
}

void World::MoveTo(LocalMs t) {
  for (const auto& [from, to] : options_.sleeps) {
    if (from <= now_ || from > t) continue;
    SettleChildren(from);
    Suspend(to);
    t = std::max(t, to);
  }
  SettleChildren(t);
}

void World::Suspend(LocalMs wake) {
  Emit(running_, "suspend", Record{{"until", FormatTime(wake)}});
  // Children go on while the host sleeps no more than the programs do.
  for (auto& [id, c] : children_) {
    if (!c.ended && c.end < wake) c.end = wake;
  }
  now_ = wake;
  Emit(running_, "resume", Record{});
  resume_pending_ = true;
}

void World::SettleChildren(LocalMs t) {
  for (;;) {
    SimChild* next = nullptr;
    for (auto& [id, c] : children_) {
      if (!c.ended && c.end <= t && (!next || c.end < next->end)) next = &c;
    }
    if (!next) break;
    now_ = std::max(now_, next->end);
    Finish(*next, false);
  }
  now_ = std::max(now_, t);
}

bool World::TakeResume() { return std::exchange(resume_pending_, false); }

uint64_t World::AddChild(SimChild child) {
  const uint64_t id = next_child_++;
  SimChild& c = children_[id] = std::move(child);
  if (c.end <= now_) Finish(c, false);
  return id;
}

SimChild* World::Child(uint64_t id) {
  auto it = children_.find(id);
  return it == children_.end() ? nullptr : &it->second;
}

void World::EndChildNow(uint64_t id) {
  SimChild* c = Child(id);
  if (c && !c->ended) Finish(*c, true);
}

// A child that ends at once and well is seen in its effects alone; one that
// took time, failed or was ended says so.
void World::Finish(SimChild& c, bool killed) {
  c.ended = true;
  if (killed) {
    c.status = 1;  // what TerminateProcess leaves
    if (c.on_kill) c.on_kill(now_);
  } else if (c.on_end) {
    c.on_end();
  }
  if (killed || c.status != 0 || c.end > c.start) {
    Record r{{"cmd", c.cmd}, {"status", c.status}, {"seconds", static_cast<double>(now_ - c.start) / 1000.0}};
    if (killed) r["ended_by"] = c.parent;
    Emit(c.parent, "end", std::move(r));
  }
}

// File by file: one recursive copy into an existing directory fails with
// some standard libraries.
void CopyTree(const std::string& from, const std::string& to, std::error_code& ec) {
  namespace fs = std::filesystem;
  for (auto it = fs::recursive_directory_iterator(from, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path target = fs::path(to) / fs::relative(it->path(), from, ec);
    if (ec) return;
    if (it->is_directory(ec)) {
      fs::create_directories(target, ec);
    } else {
      fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec);
    }
    if (ec) return;
  }
}

std::string World::Resolve(const std::string& name, const std::string& cwd) const {
  std::string p = name;
  for (char& c : p) {
    if (c == '\\') c = '/';
  }
  if (!p.empty() && (p[0] == '/' || std::filesystem::path(p).is_absolute())) return p;
  return cwd + "/" + p;
}

void World::Run() {
  pending_.clear();
  pending_.push_back(Launch{"kalmora", options_.args, options_.service});
  std::sort(options_.later_starts.begin(), options_.later_starts.end(),
            [](const auto& a, const auto& b) { return a.at < b.at; });
  // What is due at the very end still happens; only later things do not.
  // Once the host has been halted, nothing starts any more.
  while (!halted_) {
    if (pending_.empty()) {
      auto later = NextLaterStart();
      if (!later || *later > options_.until) break;
      MoveTo(*later);
      LaterStart(*TakeLaterStart(*later), false);
      continue;
    }
    Launch l = pending_.front();
    pending_.erase(pending_.begin());
    if (l.at > options_.until) break;
    MoveTo(std::max(now_, l.at));
    RunProgram(l);
  }
}

void World::RunProgram(const Launch& l) {
  SimHost host(*this, l.program, l.args, l.service);
  const std::string outer = std::exchange(running_, l.program);
  Emit(l.program, "start", Record{{"args", l.args}, {"service", l.service}});
  try {
    RunSimulatedProgram(l.program, host, options_);
  } catch (const ProgramEnded& end) {
    if (end.reason == ExitReason::Killed && host.connected()) ServiceFailed();
  }
  if (instance_holder_ == host.pid()) instance_holder_ = 0;
  running_ = outer;
}

uint32_t World::ClaimInstance(uint32_t pid) {
  if (instance_holder_ != 0 && instance_holder_ != pid) return instance_holder_;
  instance_holder_ = pid;
  return 0;
}

Status World::StartService(const std::string& who) {
  Status s;
  if (!service_registered()) {
    s = Status::Failure("The specified service does not exist as an installed service.");
  } else if (service_state_ != ServiceState::Stopped) {
    s = Status::Failure("An instance of the service is already running.");
  }
  Record r{{"call", "StartService"}, {"arg", "Kalmora"}, {"result", s.ok()}};
  if (!s) r["note"] = s.reason();
  Emit(who, "service", std::move(r));
  if (s) {
    service_state_ = ServiceState::StartPending;
    Queue(Launch{"kalmora", "", true, now_});
  }
  return s;
}

void World::ServiceFailed() {
  service_state_ = ServiceState::Stopped;
  ++service_failures_;
  const bool restart = service_failures_ <= 2;
  Emit("services", "service",
       Record{{"call", "ServiceFailed"},
              {"arg", service_failures_},
              {"note", restart ? "restart after 60 s" : "no further action"}});
  if (restart) Queue(Launch{"kalmora", "", true, now_ + 60000});
}

std::optional<LocalMs> World::NextLaterStart() const {
  if (later_taken_ >= options_.later_starts.size()) return std::nullopt;
  return options_.later_starts[later_taken_].at;
}

std::optional<Options::LaterStart> World::TakeLaterStart(LocalMs t) {
  if (later_taken_ >= options_.later_starts.size() || options_.later_starts[later_taken_].at > t) return std::nullopt;
  return options_.later_starts[later_taken_++];
}

void World::LaterStart(const Options::LaterStart& s, bool beside) {
  if (s.service) {
    if (!StartService("services")) return;
  } else {
    Queue(Launch{"kalmora", s.args, false, now_});
  }
  if (!beside) return;
  // A second process beside the one that runs: it runs now, on the same
  // clock, and the first goes on when it has ended.
  Launch l = pending_.back();
  pending_.pop_back();
  RunProgram(l);
}

namespace {

// A text of several lines goes beneath its record, each line indented.
std::string Indented(const std::string& text) {
  std::string out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find("\r\n", pos);
    size_t step = 2;
    if (end == std::string::npos) {
      end = text.find_first_of("\r\n", pos);
      step = 1;
    }
    if (end == std::string::npos) end = text.size();
    out += "        | " + text.substr(pos, end - pos) + "\n";
    pos = end + step;
    if (end == text.size()) break;
  }
  return out;
}

bool MultiLine(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Each kind's words after the time, program and kind; `below` takes what
// goes beneath.
using Describe = std::string (*)(const Record& r, std::string& below);

std::string DescribeStart(const Record& r, std::string&) {
  return "args=" + Quote(r.value("args", "")) +
         (r.value("service", false) ? "  (by the service manager)" : "  (by hand)");
}

std::string DescribeService(const Record& r, std::string&) {
  std::string line = r.value("call", "");
  if (r.contains("arg")) line += "(" + r["arg"].dump() + ")";
  if (r.contains("result")) line += std::string(" -> ") + (r["result"].get<bool>() ? "true" : "false");
  if (r.contains("note")) line += ": " + r.value("note", "");
  return line;
}

std::string DescribeMsgbox(const Record& r, std::string&) {
  return "[" + r.value("caption", "") + ", icon " + r.value("icon", "") + "] " + r.value("text", "");
}

std::string DescribeEvent(const Record& r, std::string& below) {
  const int type = r.value("type", 0);
  const char* name = type == 1 ? "error" : type == 2 ? "warning" : type == 4 ? "information" : "other";
  std::string line = std::string(name) + " " + std::to_string(r.value("id", 0));
  const std::string text = r.value("text", "");
  if (MultiLine(text)) {
    below = Indented(text);
  } else if (!text.empty()) {
    line += "  " + text;
  }
  return line;
}

std::string DescribeSpawn(const Record& r, std::string&) {
  return r.value("cmd", "") + (r.value("ok", false) ? "" : "   (could not be started)");
}

std::string DescribeEnd(const Record& r, std::string&) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "   (status %u after %.1f s)", r.value("status", 0u), r.value("seconds", 0.0));
  return r.value("cmd", "") + buf + (r.contains("ended_by") ? ", ended by " + r.value("ended_by", "") : "");
}

std::string DescribeDownload(const Record& r, std::string&) {
  std::string line = r.value("url", "") + " -> " + r.value("file", "");
  if (!r.value("saved", false)) return line + "   (nothing saved)";
  if (r.contains("cut_at")) line += "   (broke off after " + std::to_string(r.value("cut_at", 0)) + " bytes)";
  return line;
}

std::string DescribeMail(const Record& r, std::string& below) {
  below = Indented(r.value("text", ""));
  return "mail.tmp as send.bat found it:";
}

std::string DescribeSmtp(const Record& r, std::string& below) {
  below = Indented(r.value("text", ""));
  std::string to;
  for (const auto& a : r["rcpt"]) to += (to.empty() ? "" : ", ") + a.get<std::string>();
  return "the mail server " + r.value("server", "") + " took a mail from " + r.value("from", "") + " to " + to + ":";
}

std::string DescribeFile(const Record& r, std::string&) {
  std::string line = r.value("op", "") + " " + r.value("name", "");
  if (r.contains("to")) line += " -> " + r.value("to", "");
  return line + (r.value("ok", false) ? "" : "   (failed)");
}

std::string DescribeBeep(const Record& r, std::string&) {
  return std::to_string(r.value("hz", 0)) + " Hz, " + std::to_string(r.value("ms", 0)) + " ms";
}

// The exact call: today's ExitWindowsEx, a planned InitiateShutdownW with
// its comment, or a suspend.
std::string DescribeHalt(const Record& r, std::string&) {
  const std::string call = r.value("call", "ExitWindowsEx");
  std::string line;
  if (call == "SetSuspendState") {
    line = "SetSuspendState(" + r.value("state", "") + ")";
  } else {
    char buf[96];
    std::snprintf(buf, sizeof buf,
                  call == "ExitWindowsEx" ? "%s(flags %u, reason 0x%08X" : "%s(flags 0x%X, reason 0x%08X", call.c_str(),
                  r.value("flags", 0u), r.value("reason", 0u));
    line = buf;
    line += r.contains("comment") ? ", \"" + r.value("comment", "") + "\")" : ")";
  }
  return line + (r.contains("failed") ? "   (failed: " + r.value("failed", "") + ")" : "");
}

std::string DescribeExit(const Record& r, std::string&) { return r.value("reason", ""); }

std::string DescribeDesk(const Record& r, std::string&) {
  const std::string args = r.value("args", "");
  return std::string(args == "--idle" ? "idle question" : "countdown window") + " in session " +
         r.value("session", "") + (r.value("user", "").empty() ? "" : " (user " + r.value("user", "") + ")") +
         (args == "--idle" ? "" : ": " + args);
}

std::string DescribeSuspend(const Record& r, std::string&) { return "the host sleeps until " + r.value("until", ""); }

std::string DescribeSession(const Record& r, std::string& below) {
  below = Indented(r.value("text", ""));
  return "message box in each user session, gone after " + std::to_string(r.value("timeout", 0)) + " s:";
}

}  // namespace

std::string FormatReadable(const Record& r) {
  static const std::map<std::string, Describe> kDescribe = {
      {"start", DescribeStart},       {"service", DescribeService}, {"msgbox", DescribeMsgbox},
      {"event", DescribeEvent},       {"spawn", DescribeSpawn},     {"end", DescribeEnd},
      {"download", DescribeDownload}, {"mail", DescribeMail},       {"file", DescribeFile},
      {"beep", DescribeBeep},         {"halt", DescribeHalt},       {"exit", DescribeExit},
      {"suspend", DescribeSuspend},   {"session", DescribeSession}, {"smtp", DescribeSmtp},
      {"desk", DescribeDesk}};
  const std::string kind = r.value("kind", "");
  std::string program = r.value("program", ""), k = kind, below;
  program.resize(std::max<size_t>(8, program.size() + 1), ' ');
  k.resize(9, ' ');
  std::string line = r.value("t", "") + "  " + program + k;
  if (auto it = kDescribe.find(kind); it != kDescribe.end()) line += it->second(r, below);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n" + below;
}

}  // namespace kalmora::sim
