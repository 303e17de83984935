#include "service/frm_main.h"

#include <cstdio>

#include "notify/entries.h"

namespace kalmora {

namespace {
constexpr uint32_t kWaitExitMs = 4500;
constexpr int64_t kStartWaitMs = 10000;
constexpr int64_t kSettlingWaitMs = 120000;
constexpr uint32_t kWaitCycleMs = 500;
}  // namespace

frmMain::frmMain(Host& host)
    : host_(host),
      waits_(host, host, host),
      notices_(host, waits_, config_, facts_),
      holds_(host, config_),
      desk_(host, waits_, config_, day_, holds_),
      halt_(host, config_, day_),
      decision_(host, config_, day_, notices_, desk_, halt_),
      countdown_(host, config_, day_, decision_, desk_, halt_, [this] { RunStartup(); }),
      updater_(host, waits_, config_, [this] {
        if (ReadConfiguration() != 0) {
          host_.ReportServiceStopped();
          host_.ExitProgram(ExitReason::Config);
        }
      }) {
  host_.SetTimerInterval(TimerId::WaitExit, kWaitExitMs);
  host_.SetTimerInterval(TimerId::Delay, kTickMs);
  host_.EnableTimer(TimerId::WaitExit, false);
  host_.EnableTimer(TimerId::Delay, false);
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
  const bool wanted = settings().DecideDaily;
  if (wanted == power_events_accepted_) return;
  power_events_accepted_ = wanted;
  host_.SetAcceptedControls(wanted ? ServiceControls::StopAndPowerEvents : ServiceControls::Stop);
}

void frmMain::ClearDayState() {
  desk_.Forget();
  host_.EnableTimer(TimerId::WaitExit, false);
  host_.EnableTimer(TimerId::Delay, false);
  day_.ClearDecision();
}

// The whole argument string, exactly: "-INSTALL" or "-install x" are not
// "-install". Every argument but "-debug" ends the program here. Scripts
// add " -quiet" to -install and -uninstall: the same, without the message
// box, the exit status alone telling how it went.
void frmMain::ActOnCommandLine() {
  const std::string args = host_.CommandLineArgs();
  const std::string caption = "Kalmora";
  const bool quiet = args == "-install -quiet" || args == "-uninstall -quiet";
  // A failure says why in a second paragraph, in the system's own words.
  auto tell = [&](const Status& done, const std::string& success, const std::string& failure) {
    if (quiet) return;
    if (done) {
      host_.ShowMessage(caption, success, MsgIcon::Information);
    } else {
      host_.ShowMessage(caption, failure + (done.reason().empty() ? "" : "\r\n\r\n" + done.reason()), MsgIcon::Warning);
    }
  };
  if (args == "-install" || args == "-install -quiet") {
    host_.SetInteractiveDesktop(true);
    host_.SetStartType(StartType::Automatic);
    const Status done = host_.RegisterService();
    tell(done, "Kalmora Service successfully installed!", "Kalmora Service could not be installed.");
    host_.ExitProgram(done ? ExitReason::Command : ExitReason::CommandFailed);
  } else if (args == "-uninstall" || args == "-uninstall -quiet") {
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
    waits_.WaitProcessingEvents(0, kStartWaitMs, kWaitCycleMs, [&] { return host_.IsServiceRunning(); });
  }
  host_.ExitProgram(ExitReason::AlreadyRunning);
}

void frmMain::StartAndSettle() {
  // A re-run after midnight is already the running service.
  if (!facts_.RunningAsService) {
    host_.SetAcceptedControls(ServiceControls::Stop);
    host_.ConnectServiceManager();
  }
  // Start wait: the service manager's start request arrives while events are
  // processed; without a service manager this costs the full ten seconds.
  if (waits_.WaitProcessingEvents(0, kStartWaitMs, kWaitCycleMs, [&] { return host_.IsServiceRunning(); })) {
    facts_.RunningAsService = true;
  }
  // The settling wait gives the service manager and the rest of the boot
  // time to finish before we read files and start programs.
  if (facts_.RunningAsService) waits_.WaitProcessingEvents(kSettlingWaitMs, kSettlingWaitMs, kWaitCycleMs);
}

int frmMain::ReadConfiguration() {
  const std::string IniPath = host_.ProgramDirectory() + "\\kalmora.ini";
  ConfigReadResult r = ParseConfiguration(host_, host_, IniPath, host_.Version().major);
  if (r.incompatible_version) {
    host_.LogEvent(EventType::Warning, EventId::Report,
                   "Kalmora: Warning: The file kalmora.ini is not compatible with this version of Kalmora. "
                   "Dazed and confused, but trying to continue.");
  }
  config_ = std::move(r);
  if (config_.status == 0 && settings().ShutdownAction == HaltAction::Unknown) {
    host_.LogEvent(EventType::Warning, EventId::Report,
                   "Kalmora: ShutdownAction=" + settings().Text("ShutdownAction") +
                       " is not shutdown, hibernate or sleep; the host is halted the forced way.");
  }
  if (config_.status != 0) {
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: Error while reading kalmora.ini. The file is probably missing or corrupt. "
                   "The service will now terminate.");
    // The entry above says that it failed; Event Viewer shows this one too,
    // so that it also says why, and where.
    host_.LogEvent(EventType::Error, EventId::Failure,
                   "Kalmora: kalmora.ini" +
                       (config_.failure_line ? " line " + std::to_string(config_.failure_line) : "") + ": " +
                       config_.failure + ".");
    return 1;
  }
  return 0;
}

void frmMain::OnServiceStartRequested(bool& success) { success = true; }

void frmMain::DailyCheck() {
  decision_.DailyCheck();
  if (settings().DailyReport) LogDailyReport();
}

// One entry per decision, so that a collector sees every host every day,
// also on days without a halt.
void frmMain::LogDailyReport() {
  std::string configuration = facts_.GlobalIniVersion;
  if (configuration.empty()) {
    configuration =
        ReadProfileString(host_, "Versions", "IniVersion", host_.ProgramDirectory() + "\\versions.idx", "unknown");
  }
  const CivilDate date = *day_.DecidedOn;
  char day[16];
  std::snprintf(day, sizeof day, "%04d-%02d-%02d", date.year, date.month, date.day);
  host_.LogEvent(EventType::Information, EventId::DailyReport,
                 EntryText(Entry::DailyReport, {VersionText(host_.Version()), configuration, host_.ComputerName(), day,
                                                DailyReportDecision(day_, settings())}));
}

void frmMain::OnlineUpdate() {
  if (online_update_) updater_.OnlineUpdate(facts_.RunningAsService, facts_.GlobalIniVersion);
}

void frmMain::OnPowerResume() { countdown_.OnPowerResume(); }

void frmMain::OnServiceStopRequested() {
  // The countdown is cancelled: no window goes on counting down to nothing.
  desk_.Close();
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

[[noreturn]] void RunKalmora(Host& host, bool online_update) {
  frmMain form(host);
  if (!online_update) form.LeaveOutOnlineUpdate();
  host.SetEventSink(&form);
  form.RunStartup();
  host.RunEventLoop();
}

}  // namespace kalmora
