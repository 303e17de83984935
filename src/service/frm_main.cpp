#include "service/frm_main.h"

#include "config/numbers.h"

namespace kalmora {

namespace {
constexpr uint32_t kWaitExitMs = 4500;
constexpr uint32_t kDelayMs = 10000;
constexpr int64_t kStartWaitMs = 10000;
constexpr int64_t kSettlingWaitMs = 120000;
constexpr uint32_t kWaitCycleMs = 500;
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
  host_.SetCurrentDirectory(host_.ProgramDirectory());
  host_.HideWindow();

  TimeToShutdown_ = 0;
  host_.EnableTimer(TimerId::WaitExit, false);
  host_.EnableTimer(TimerId::Delay, false);
  DoShutdown_ = false;
  DoScheduledShutdown_ = false;
  TooLate_ = false;
  IsHoliday_ = false;
  IsMsgHoliday_ = false;
  IsWeekend_ = false;

  // The whole argument string, exactly: "-INSTALL" or "-install x" are not
  // "-install".
  const std::string args = host_.CommandLineArgs();
  const std::string caption = "Kalmora";
  if (args == "-install") {
    host_.SetInteractiveDesktop(true);
    host_.SetStartType(2);
    if (host_.RegisterService()) {
      host_.ShowMessage(caption, "Kalmora Service successfully installed!", MsgIcon::Information);
    } else {
      host_.ShowMessage(caption, "Kalmora Service could not be installed.", MsgIcon::Warning);
    }
    host_.ExitProgram(ExitReason::Command);
  } else if (args == "-uninstall") {
    if (host_.UnregisterService()) {
      host_.ShowMessage(caption, "Kalmora Service successfully uninstalled!", MsgIcon::Information);
    } else {
      host_.ShowMessage(caption, "Kalmora Service could not be uninstalled.", MsgIcon::Warning);
    }
    host_.ExitProgram(ExitReason::Command);
  } else if (args == "-debug") {
    host_.SetDebugMode(true);
  } else if (!args.empty()) {
    host_.ShowMessage(caption, "Invalid command line parameter.", MsgIcon::None);
    host_.ExitProgram(ExitReason::Command);
  }

  // A re-run after midnight is already the running service.
  if (!RunningAsService_) {
    host_.SetAcceptedControls(2);
    host_.ConnectServiceManager();
  }

  // Start wait: the service manager's start request arrives while events are
  // processed; without a service manager this costs the full ten seconds.
  const int64_t start = host_.ElapsedMs();
  while (!host_.IsServiceRunning() && host_.ElapsedMs() - start < kStartWaitMs) {
    host_.DoEvents();
    host_.Sleep(kWaitCycleMs);
  }
  if (host_.IsServiceRunning()) RunningAsService_ = true;

  // The settling wait gives the service manager and the rest of the boot
  // time to finish before we read files and start programs.
  if (RunningAsService_) {
    const int64_t settle = host_.ElapsedMs();
    while (host_.ElapsedMs() - settle < kSettlingWaitMs) {
      host_.DoEvents();
      host_.Sleep(kWaitCycleMs);
    }
  }

  if (ReadConfiguration() != 0) {
    host_.ReportServiceStopped();
    host_.ExitProgram(ExitReason::Config);
  }
  OnlineUpdate();
  DailyCheck();
}

int frmMain::ReadConfiguration() {
  ++configuration_reads_;
  IniPath_ = host_.ProgramDirectory() + "\\kalmora.ini";
  ConfigReadResult r = ParseConfiguration(host_, IniPath_, host_.Version().major);
  if (r.incompatible_version) {
    host_.LogEvent(2, 110,
                   "Kalmora: Warning: The file kalmora.ini is not compatible with this version of Kalmora. "
                   "Dazed and confused, but trying to continue.");
  }
  cfg_ = std::move(r.values);
  tables_ = std::move(r.tables);
  if (r.status != 0) {
    host_.LogEvent(1, 109,
                   "Kalmora: Error while reading kalmora.ini. The file is probably missing or corrupt. "
                   "The service will now terminate.");
    return 1;
  }
  return 0;
}

void frmMain::OnServiceStartRequested(bool& success) { success = true; }

void frmMain::OnServiceStopRequested() { host_.ExitProgram(ExitReason::Stop); }

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

void frmMain::PauseProcessingEvents(int64_t total_ms, uint32_t step_ms) {
  const int64_t noted = host_.ElapsedMs();
  do {
    host_.DoEvents();
    host_.Sleep(step_ms);
  } while (host_.ElapsedMs() - noted < total_ms);
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
