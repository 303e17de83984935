#include "frm_zorvane.h"

#include "config/numbers.h"
#include "update/versions.h"

namespace kalmora {

bool IsUpdateSwitch(const std::string& args) { return AsciiLower(TrimSpaces(args.substr(0, 10))) == "-updateexe"; }

std::optional<std::string> ProgramName(const std::string& args) {
  if (args.size() <= 10) return std::nullopt;
  std::string name = TrimSpaces(AsciiLower(args.substr(10)));
  if (name.empty()) return std::nullopt;
  for (unsigned char c : name) {
    // Separators and drives would reach outside the working directory; a
    // blank or a quote would make the started command line name another
    // program than the file that was swapped.
    if (c == '\\' || c == '/' || c == ':' || c == ' ' || c == '"' || c < 0x20) return std::nullopt;
  }
  return name;
}

namespace {
// The system's reasons end with a full stop, or not.
std::string WithoutFullStop(std::string text) {
  while (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}
std::string WithFullStop(const std::string& text) { return WithoutFullStop(text) + "."; }
}  // namespace

frmZorvane::frmZorvane(Host& host) : host_(host) {
  host_.SetTimerInterval(TimerId::Update, 3000);
  host_.EnableTimer(TimerId::Update, false);
}

void frmZorvane::Load() {
  host_.HideWindow();
  if (!IsUpdateSwitch(host_.CommandLineArgs())) host_.ExitProgram(ExitReason::Done);
  // Kalmora ends right after starting us; three seconds is all the waiting
  // there is between the two programs.
  host_.EnableTimer(TimerId::Update, true);
}

void frmZorvane::OnTimer(TimerId id) {
  if (id == TimerId::Update) tmrUpdate_Timer();
}

void frmZorvane::tmrUpdate_Timer() {
  host_.EnableTimer(TimerId::Update, false);
  auto name = ProgramName(host_.CommandLineArgs());
  if (!name) host_.ExitProgram(ExitReason::Done);
  const std::string program = *name + ".exe";
  const std::string downloaded = *name + ".exe.new";
  // Only a whole executable replaces the program file; anything else (a
  // file damaged after Kalmora checked it, say) stays where it is and the
  // old program starts again.
  auto bytes = host_.FileExists(downloaded) ? host_.ReadFile(downloaded) : std::nullopt;
  if (bytes && CheckWindowsExecutable(*bytes)) {
    // One rename that replaces the old file: there is never a moment without
    // a program file. While the old program still runs, its file is locked;
    // try again for a while, then start whichever program file is in place,
    // so the host gets its service back either way. A .new file left behind
    // is cleared by the program's next update run.
    for (int attempt = 1; !host_.ReplaceFile(downloaded, program); ++attempt) {
      if (attempt >= kSwapAttempts) break;
      host_.Sleep(1000);
    }
  }
  RestartProgram(program);
  host_.ExitProgram(ExitReason::Done);
}

// The program starts again the way it ran. A service registered for this
// directory's program file is started by the service manager, so that stop
// requests, the package's removal and the recovery settings keep reaching
// it; a program started by itself here would run beside the service
// manager, which would then start a second one. Only where no such service
// exists (Kalmora ran by hand) is the program file started directly.
void frmZorvane::RestartProgram(const std::string& program) {
  const std::string path = host_.ProgramDirectory() + "\\" + program;
  auto service = host_.QueryService(kServiceName);
  if (!service) {
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: The update helper could not ask the service manager for the service " +
                       std::string(kServiceName) + " (" + WithoutFullStop(service.reason()) + "), and started " +
                       program + " by itself.");
  }
  if (!service || !*service || !ServiceRunsProgram((*service)->command_line, path)) {
    (void)host_.StartProcess(program);
    return;
  }
  StartService();
}

void frmZorvane::StartService() {
  // The old program reports the service stopped before it ends; the
  // service manager may take a moment to see its process gone.
  for (uint32_t waited = 0; waited < kStopWaitMs; waited += kStopPollMs) {
    auto service = host_.QueryService(kServiceName);
    if (!service || !*service || (*service)->state == ServiceState::Stopped) break;
    host_.Sleep(kStopPollMs);
  }
  Status started = host_.StartService(kServiceName);
  if (!started) {
    host_.Sleep(kRetryStartMs);
    started = host_.StartService(kServiceName);
  }
  if (!started) {
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: The update helper could not start the service " + std::string(kServiceName) +
                       " after the program update: " + WithFullStop(started.reason()));
  }
}

[[noreturn]] void RunZorvane(Host& host) {
  frmZorvane form(host);
  host.SetEventSink(&form);
  form.Load();
  host.RunEventLoop();
}

}  // namespace kalmora
