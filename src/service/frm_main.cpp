#include "service/frm_main.h"

#include <algorithm>

#include "config/numbers.h"

namespace kalmora {

namespace {
constexpr uint32_t kWaitExitMs = 4500;
constexpr uint32_t kDelayMs = 10000;
constexpr int64_t kStartWaitMs = 10000;
constexpr int64_t kSettlingWaitMs = 120000;
constexpr uint32_t kWaitCycleMs = 500;
constexpr uint32_t kChildWaitCycleMs = 100;
}  // namespace

frmMain::frmMain(Host& host) : host_(host) {
  host_.SetTimerInterval(TimerId::WaitExit, kWaitExitMs);
  host_.SetTimerInterval(TimerId::Delay, kDelayMs);
  host_.EnableTimer(TimerId::WaitExit, false);
  host_.EnableTimer(TimerId::Delay, false);
}

std::string frmMain::VersionText() {
  ProgramVersion v = host_.Version();
  return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.revision);
}

void frmMain::RunStartup() {
  // Every relative name (kalmora.ini, mail.tmp, system\...) resolves against
  // the program directory; the service manager starts us somewhere else.
  (void)host_.SetCurrentDirectory(host_.ProgramDirectory());
  host_.HideWindow();
  ClearDayState();
  ActOnCommandLine();
  EnsureOnlyInstance();
  StartAndSettle();
  if (ReadConfiguration() != 0) {
    host_.ReportServiceStopped();
    host_.ExitProgram(ExitReason::Config);
  }
  AcceptPowerEvents();
  OnlineUpdate();
  DailyCheck();
}

// A service that decides daily hears when the host resumes from sleep,
// hibernation or Fast Startup.
void frmMain::AcceptPowerEvents() {
  const bool wanted = IsOn(cfg_.DecideDaily);
  if (wanted == power_events_accepted_) return;
  power_events_accepted_ = wanted;
  host_.SetAcceptedControls(wanted ? ServiceControls::StopAndPowerEvents : ServiceControls::Stop);
}

void frmMain::ClearDayState() {
  // A new decision: yesterday's windows, postpones and waits are gone.
  CloseDeskWindows();
  desk_reason_.clear();
  desk_dismissed_.clear();
  postpones_ = 0;
  due_at_ = 0;
  waiting_for_idle_ = false;
  TimeToShutdown_ = 0;
  host_.EnableTimer(TimerId::WaitExit, false);
  host_.EnableTimer(TimerId::Delay, false);
  DoShutdown_ = false;
  DoScheduledShutdown_ = false;
  TooLate_ = false;
  IsHoliday_ = false;
  IsMsgHoliday_ = false;
  IsWeekend_ = false;
}

// The whole argument string, exactly: "-INSTALL" or "-install x" are not
// "-install". Every argument but "-debug" ends the program here.
void frmMain::ActOnCommandLine() {
  const std::string args = host_.CommandLineArgs();
  const std::string caption = "Kalmora";
  // A failure says why in a second paragraph, in the system's own words.
  auto tell = [&](const Status& done, const std::string& success, const std::string& failure) {
    if (done) {
      host_.ShowMessage(caption, success, MsgIcon::Information);
    } else {
      host_.ShowMessage(caption, failure + (done.reason().empty() ? "" : "\r\n\r\n" + done.reason()), MsgIcon::Warning);
    }
  };
  if (args == "-install") {
    host_.SetInteractiveDesktop(true);
    host_.SetStartType(StartType::Automatic);
    const Status done = host_.RegisterService();
    tell(done, "Kalmora Service successfully installed!", "Kalmora Service could not be installed.");
    host_.ExitProgram(done ? ExitReason::Command : ExitReason::CommandFailed);
  } else if (args == "-uninstall") {
    const Status done = host_.UnregisterService();
    tell(done, "Kalmora Service successfully uninstalled!", "Kalmora Service could not be uninstalled.");
    host_.ExitProgram(done ? ExitReason::Command : ExitReason::CommandFailed);
  } else if (args == "-debug") {
    host_.SetDebugMode(true);
  } else if (!args.empty()) {
    host_.ShowMessage(caption, "Invalid command line parameter.", MsgIcon::None);
    host_.ExitProgram(ExitReason::Command);
  }
}

// One Kalmora per host: two would both decide, both mail and both halt. A
// second start (the service beside one started by hand, or a start by hand
// beside the service) ends before it reads or sends anything. -install and
// -uninstall have already been acted on and ended above.
void frmMain::EnsureOnlyInstance() {
  if (instance_claimed_) return;
  const std::optional<uint32_t> holder = host_.ClaimInstance();
  if (!holder) {
    instance_claimed_ = true;
    return;
  }
  const std::string text = "Kalmora is already running (process " + std::to_string(*holder) + "); this start ends.";
  host_.LogEvent(EventType::Error, EventId::Failure, "Kalmora: " + text);
  if (host_.CommandLineArgs() == "-debug") {
    host_.ShowMessage("Kalmora", text, MsgIcon::Warning);
  } else {
    // The service manager that started us waits for our answer: connect,
    // so that it hears of the end at once instead of after its time-out.
    host_.SetAcceptedControls(ServiceControls::Stop);
    host_.ConnectServiceManager();
    WaitProcessingEvents(0, kStartWaitMs, kWaitCycleMs, [&] { return host_.IsServiceRunning(); });
  }
  host_.ExitProgram(ExitReason::AlreadyRunning);
}

void frmMain::StartAndSettle() {
  // A re-run after midnight is already the running service.
  if (!RunningAsService_) {
    host_.SetAcceptedControls(ServiceControls::Stop);
    host_.ConnectServiceManager();
  }
  // Start wait: the service manager's start request arrives while events are
  // processed; without a service manager this costs the full ten seconds.
  if (WaitProcessingEvents(0, kStartWaitMs, kWaitCycleMs, [&] { return host_.IsServiceRunning(); })) {
    RunningAsService_ = true;
  }
  // The settling wait gives the service manager and the rest of the boot
  // time to finish before we read files and start programs.
  if (RunningAsService_) WaitProcessingEvents(kSettlingWaitMs, kSettlingWaitMs, kWaitCycleMs);
}

int frmMain::ReadConfiguration() {
  ++configuration_reads_;
  IniPath_ = host_.ProgramDirectory() + "\\kalmora.ini";
  ConfigReadResult r = ParseConfiguration(host_, IniPath_, host_.Version().major);
  if (r.incompatible_version) {
    host_.LogEvent(EventType::Warning, EventId::Report,
                   "Kalmora: Warning: The file kalmora.ini is not compatible with this version of Kalmora. "
                   "Dazed and confused, but trying to continue.");
  }
  cfg_ = std::move(r.values);
  tables_ = std::move(r.tables);
  if (r.status != 0) {
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: Error while reading kalmora.ini. The file is probably missing or corrupt. "
                   "The service will now terminate.");
    // The entry above says that it failed; Event Viewer shows this one too,
    // so that it also says why, and where.
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: kalmora.ini" + (r.failure_line ? " line " + std::to_string(r.failure_line) : "") + ": " +
                       r.failure + ".");
    return 1;
  }
  return 0;
}

void frmMain::OnServiceStartRequested(bool& success) { success = true; }

void frmMain::OnServiceStopRequested() {
  // The countdown is cancelled: no window goes on counting down to nothing.
  CloseDeskWindows();
  host_.ExitProgram(ExitReason::Stop);
}

void frmMain::OnTimer(TimerId id) {
  switch (id) {
    case TimerId::WaitExit:
      host_.EnableTimer(TimerId::WaitExit, false);
      host_.ReportServiceStopped();
      host_.ExitProgram(ExitReason::ExitTimer);
    case TimerId::Delay:
      CountdownTick();
      break;
    case TimerId::Update:
      break;
  }
}

bool frmMain::WaitProcessingEvents(int64_t at_least_ms, int64_t at_most_ms, uint32_t step_ms,
                                   const std::function<bool()>& done) {
  const int64_t noted = host_.ElapsedMs();
  for (;;) {
    const int64_t waited = host_.ElapsedMs() - noted;
    if (waited >= at_least_ms && done && done()) return true;
    if (waited >= std::max(at_least_ms, at_most_ms)) return false;
    host_.DoEvents();
    host_.Sleep(step_ms);
  }
}

frmMain::ChildEnd frmMain::RunChild(const std::string& command_line, int64_t at_least_ms, int64_t bound_ms,
                                    std::optional<ChildProcess>* slot) {
  ChildEnd end;
  auto child = host_.StartChild(command_line);
  if (!child) {
    end.start = child.status();
    return end;
  }
  if (slot) *slot = *child;
  // A stop request during the wait still ends the program at once; the
  // child is then left to finish on its own.
  WaitProcessingEvents(at_least_ms, bound_ms, kChildWaitCycleMs,
                       [&] { return host_.ChildExitStatus(*child).has_value(); });
  end.status = host_.ChildExitStatus(*child);
  host_.ReleaseChild(*child, true);
  if (slot) slot->reset();
  return end;
}

Status frmMain::HandedTo(const std::string& program, const ChildEnd& end, int64_t bound_ms) {
  if (!end.start) {
    return Status::Failure("could not be sent: " + program + " could not be started (" + end.start.reason() + ")");
  }
  if (!end.status) {
    return Status::Failure("was handed to " + program + ", which did not end within " +
                           std::to_string(bound_ms / 1000) + " s and was ended");
  }
  if (*end.status != 0) {
    return Status::Failure("was handed to " + program + ", which reported failure (status " +
                           std::to_string(*end.status) + ")");
  }
  return Status();
}

void frmMain::BeepPattern() {
  if (!IsTrueBoolean(cfg_.BeepOnShutdown)) return;
  host_.Beep(1000, 500);
  host_.Beep(500, 500);
  host_.Beep(1000, 500);
  host_.Beep(500, 500);
}

[[noreturn]] void RunKalmora(Host& host) {
  frmMain form(host);
  host.SetEventSink(&form);
  form.RunStartup();
  host.RunEventLoop();
}

}  // namespace kalmora
