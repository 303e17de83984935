// The simulated host's child programs: send.bat, net, curl with the
// simulated update server and mail server, Zorvane's start, and the desk
// program in the simulated sessions.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "config/numbers.h"
#include "config/rules.h"
#include "host/sim/sim_host.h"
#include "notify/desk_command.h"
#include "update/versions.h"

namespace fs = std::filesystem;

namespace kalmora::sim {

namespace {

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
  auto child = StartChild(command_line, "");
  if (!child) return child.status();
  ReleaseChild(*child, false);
  return Status();
}

Result<ChildProcess> SimHost::StartChild(const std::string& command_line, const std::string& output) {
  std::string name, rest;
  if (Status s = Spawn(command_line, name, rest); !s) return s;
  // Made anew as the child starts, as the host's file for it is.
  if (!output.empty()) std::ofstream(world_.Resolve(output, cwd_), std::ios::binary | std::ios::trunc);
  SimChild c;
  if (name == "curl" && command_line.find(" --mail-from ") != std::string::npos) {
    c = SmtpCurl(command_line);
  } else if (name == "curl") {
    c = Curl(command_line, output.empty() ? "" : world_.Resolve(output, cwd_));
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
// each taking `each` ms, one after the other, and what -w wrote for each
// transfer that ended to `output`.
void Deliver(World& world, const std::string& program, const std::vector<Transfer>& transfers, int64_t elapsed,
             int64_t each, const std::string& output) {
  std::ofstream written_out;
  if (!output.empty()) written_out.open(output, std::ios::binary | std::ios::app);
  for (const Transfer& t : transfers) {
    if (!t.reachable) {
      world.Emit(program, "download", Record{{"url", t.url}, {"file", t.file}, {"saved", false}});
      written_out << t.written_out;
      continue;
    }
    double part = each > 0 ? std::clamp(static_cast<double>(elapsed) / static_cast<double>(each), 0.0, 1.0) : 1.0;
    elapsed -= each;
    if (part <= 0) break;
    written_out << t.written_out;
    if (t.refused) {
      world.Emit(program, "download", Record{{"url", t.url}, {"file", t.file}, {"saved", false}});
      continue;
    }
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
// curl status a failing transfer ends with. A file the server lacks comes
// as its error page with the status 404, which --fail turns into curl
// status 22 and nothing saved.
Transfer SimHost::PlanTransfer(const std::string& url, bool fail_on_http_error, uint32_t& status) {
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
    t.http_code = content ? 200 : 404;
    t.refused = !content && fail_on_http_error;
    if (t.refused) {
      if (status == 0) status = 22;  // curl: the server answered with an HTTP error
    } else if (auto it = o.server_cut.find(t.file); it != o.server_cut.end()) {
      t.cut = it->second;
      status = 18;  // curl: partial file
    }
  }
  return t;
}

// curl -O: each URL of the (brace-expanded) last word is saved under its last
// segment. Every reachable file takes the server's delay, one after the
// other; a file cut by a fault arrives in part and curl ends with status 18.
// -f (--fail) saves nothing of an HTTP error; -w "FORMAT" writes FORMAT for
// each transfer as it ends, with %{http_code} (000 without an answer),
// %{filename_effective} and \n.
SimChild SimHost::Curl(const std::string& command_line, const std::string& output) {
  SimChild c;
  c.parent = program_;
  c.cmd = command_line;
  c.start = c.end = world_.now();
  const size_t w = command_line.find(" -w \"");
  const std::string format =
      w == std::string::npos ? "" : command_line.substr(w + 5, command_line.find('"', w + 5) - w - 5);
  const bool fail = (" " + command_line + " ").find(" -f ") != std::string::npos ||
                    (command_line + " ").find(" --fail ") != std::string::npos;
  auto transfers = std::make_shared<std::vector<Transfer>>();
  for (const std::string& one : ExpandBraces(command_line.substr(command_line.find_last_of(' ') + 1))) {
    Transfer t = PlanTransfer(one, fail, c.status);
    char code[8];
    std::snprintf(code, sizeof code, "%03d", t.http_code);
    t.written_out =
        ReplaceAll(ReplaceAll(ReplaceAll(format, "%{http_code}", code), "%{filename_effective}", t.file), "\\n", "\n");
    transfers->push_back(std::move(t));
    if (transfers->back().reachable) c.end += world_.options().server_delay_ms;
  }
  World* world = &world_;
  const std::string program = program_;
  const LocalMs start = c.start, end = c.end;
  const int64_t each = world_.options().server_delay_ms;
  c.on_end = [=] { Deliver(*world, program, *transfers, end - start, each, output); };
  c.on_kill = [=](LocalMs at) { Deliver(*world, program, *transfers, at - start, each, output); };
  return c;
}

// A directory search for a file: a directory of that name does not count.
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

// The other programs that run on the host now, and this one.
Result<std::vector<RunningProgram>> SimHost::RunningPrograms() {
  std::vector<RunningProgram> out{{program_ + ".exe", pid_}};
  for (const auto& p : world_.options().processes) {
    if (p.from <= world_.now() && world_.now() < p.to) out.push_back({p.name, p.pid});
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
    using K = Options::ClickKind;
    for (const auto& click : o.clicks) {
      // A window without a postpone button takes only an OK.
      const bool button = click.kind != K::Postpone || args.find(" --postpone ") != std::string::npos;
      if (click.session == s.name && button && click.at > now && click.at < c.end) {
        c.end = click.at;
        // Ended from Task Manager: what TerminateProcess leaves.
        c.status = click.kind == K::Postpone ? kDeskPostpone : click.kind == K::Ok ? kDeskOk : 1;
      }
    }
  }
  return ChildProcess{world_.AddChild(std::move(c))};
}

}  // namespace kalmora::sim
