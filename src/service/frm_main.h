// frmMain: the main program's one object. It holds the run's shared state,
// the two timers (on the host's event loop) and the six holiday tables, and
// carries the routines of start-up, the daily check, the countdown, the
// scheduled shutdown, the notices and the online update.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"
#include "host/host.h"
#include "service/rules.h"

namespace kalmora {

// The defaults that a ShutdownDelay or ScheduledShutdownDelay that is not a
// number counts as, so that a halt never comes sooner than people were told
// to expect; and the seconds of a day on the clock of TimeToShutdown.
inline constexpr double kDefaultShutdownDelay = 180.0;
inline constexpr double kDefaultWarningDelay = 900.0;
inline constexpr float kDaySeconds = 86400.0f;

class frmMain : public EventSink {
 public:
  explicit frmMain(Host& host);

  // The whole start-up: working directory, command line, service start,
  // waits, configuration, online update, daily check. Also re-run by the
  // countdown tick just after midnight.
  void RunStartup();

  // EventSink: delivered by the host on the program's one thread.
  void OnServiceStartRequested(bool& success) override;
  void OnServiceStopRequested() override;
  void OnTimer(TimerId id) override;
  void OnPowerResume() override;

  // Read-only views for tests and tools.
  const Configuration& config() const { return cfg_; }
  const HolidayTables& tables() const { return tables_; }
  float TimeToShutdown() const { return TimeToShutdown_; }
  bool DoShutdown() const { return DoShutdown_; }
  bool DoScheduledShutdown() const { return DoScheduledShutdown_; }
  bool IsHoliday() const { return IsHoliday_; }
  bool IsMsgHoliday() const { return IsMsgHoliday_; }
  bool IsWeekend() const { return IsWeekend_; }
  bool TooLate() const { return TooLate_; }
  bool RunningAsService() const { return RunningAsService_; }
  bool ScheduleWarningSent() const { return ScheduleWarningSent_; }
  const std::string& CurrHoliday() const { return CurrHoliday_; }
  const std::string& GlobalIniVersion() const { return GlobalIniVersion_; }
  int configuration_reads() const { return configuration_reads_; }

  // The routines, public so that tests can drive one piece at a time.
  int ReadConfiguration();
  void OnlineUpdate();
  void DailyCheck();
  void CountdownTick();
  // Each is ok only when its child program took the notice and ended with
  // status 0; otherwise the reason says what became of it, worded to follow
  // "An email to inform ADDRESS".
  Status SendEmail(const std::string& address, const std::string& subject, const std::string& body);
  Status SendNetMessage(const std::string& address, const std::string& text);
  void SendScheduledShutdownWarning(const std::string& time_text);

  std::string VersionText();

 private:
  // Start-up steps.
  void ClearDayState();
  void ActOnCommandLine();
  void EnsureOnlyInstance();
  void StartAndSettle();
  void AcceptPowerEvents();
  // Daily check steps.
  void SendMsgHolidayEmails(const CivilDate& day);
  void RememberSentMails(const CivilDate& day);
  void DecideHolidayShutdown(const LocalTime& now);
  void AnnounceHolidayShutdown();
  void ArmTimersAndExit();
  std::string ShutdownNotice(double delay);
  void NoticeFailed(const std::string& what, const std::string& address, const Status& sent);

  // At the desk (desk.cpp).
  void OpenDeskWindows(const std::string& reason);
  void TendDeskWindows();
  void StartDeskWindows();
  void CloseDeskWindows();
  void Postpone(const DeskSession& from);
  bool HoldHalt();
  std::optional<float> LatestMoment() const;
  std::string SessionName(const DeskSession& s) const;

  // Countdown steps (countdown.cpp).
  bool DateChangedSinceDecision();
  void NewDay();
  bool HaltPassed(float now_s) const;
  void ResumeAfterSleep();
  void RearmAfterSleep(float missed);
  void ArmMidnightWake();
  uint32_t SecondsUntil(float moment);
  [[noreturn]] void HaltSystem();
  void ScheduledShutdownDecision();
  void BeepPattern();
  // The one wait: processes pending events and sleeps `step_ms` at a time
  // until `done` holds (asked once `at_least_ms` have passed) or `at_most_ms`
  // have passed; elapsed time, so midnight is harmless. True when `done`
  // held; without `done`, the wait lasts `at_least_ms`.
  bool WaitProcessingEvents(int64_t at_least_ms, int64_t at_most_ms, uint32_t step_ms,
                            const std::function<bool()>& done = {});

  // How a child program whose work we rely on came to its end.
  struct ChildEnd {
    Status start;                    // failed: it never ran
    std::optional<uint32_t> status;  // nothing: still running at the bound, and ended by us
  };
  // Starts a child and waits: at least `at_least_ms`, then until it has
  // ended, up to `bound_ms`. `slot` names the child while it runs.
  ChildEnd RunChild(const std::string& command_line, int64_t at_least_ms, int64_t bound_ms,
                    std::optional<ChildProcess>* slot = nullptr);
  static Status HandedTo(const std::string& program, const ChildEnd& end, int64_t bound_ms);
  // A composed mail sent through curl to SmtpServer.
  Status SendBySmtp(const std::string& composed);

  // Online update steps (online_update.cpp).
  struct UpdateRun;
  Status Download(const std::string& files);
  void ReadServerIndex(UpdateRun& run);
  Result<std::optional<std::string>> ReadUpdateKey();
  Status CheckSignedIndex(const std::string& key);
  Status CheckSignedOffer(const UpdateRun& run);
  void RefuseIndex(const std::string& why);
  void InstallConfigurationOnly(UpdateRun& run);
  void InstallProgramOnly(UpdateRun& run);
  void InstallBoth(UpdateRun& run);
  void InstallConfiguration(UpdateRun& run, const Status& transfer);
  void HandOverProgram(UpdateRun& run, const Status& ready);
  void RereadConfiguration();
  Status AcceptDownloadedConfiguration(const std::string& pinned_sha);
  Status AcceptDownloadedProgram(const std::string& offered_version, const std::string& pinned_sha);
  void SwapVersionIndex();
  std::string UpdateReport(const UpdateRun& run);

  Host& host_;

  // Configuration values as read, and the holiday tables.
  Configuration cfg_;
  HolidayTables tables_;
  std::string IniPath_;

  // Decision state.
  float TimeToShutdown_ = 0;
  bool DoShutdown_ = false;
  bool DoScheduledShutdown_ = false;
  bool TooLate_ = false;
  bool IsHoliday_ = false;
  bool IsMsgHoliday_ = false;
  bool IsWeekend_ = false;
  bool RunningAsService_ = false;
  bool ScheduleWarningSent_ = false;
  std::string CurrHoliday_;
  // The scheduled time armed today, as written: the warning's %TIME%.
  std::string ScheduledTimeToday_;
  std::string GlobalIniVersion_;

  int configuration_reads_ = 0;
  // The date of the last decision, the moment of the last tick (or of the
  // arming), and a resume the next tick is to act on.
  std::optional<CivilDate> DecidedOn_;
  // Today's sent message-holiday mails, as msgholidays.sent lists them.
  std::optional<CivilDate> SentOn_;
  std::vector<std::string> SentToday_;
  float LastTickAt_ = 0;
  bool Resumed_ = false;
  bool power_events_accepted_ = false;
  bool instance_claimed_ = false;  // this process is the host's one Kalmora
  // The countdown windows of the armed halt: what they say, one per session
  // (sessions that pressed OK keep theirs closed until the halt moves), the
  // postpones used, and whether the halt already waits for people at work.
  struct DeskWindow {
    DeskSession session;
    ChildProcess child;
  };
  std::string desk_reason_;  // empty: no windows wanted
  std::vector<DeskWindow> desk_windows_;
  std::vector<uint32_t> desk_dismissed_;
  int postpones_ = 0;
  float due_at_ = 0;  // the halt's moment before any postpone or wait
  bool waiting_for_idle_ = false;
  bool desk_busy_ = false;  // inside a wait for the desk programs' answers
  // The send.bat (or curl) that is handling a mail right now, if one is.
  std::optional<ChildProcess> mail_in_flight_;
  uint64_t mails_composed_ = 0;  // numbers each SMTP mail's file and Message-ID
};

// The log entry's sentence about one notice: that it was sent, or what
// became of it; begins with the two line breaks that set it apart.
std::string NoticeSentence(const std::string& what, const std::string& address, const Status& sent);
// The same about the message boxes in the users' sessions.
std::string SessionSentence(const Result<int>& shown);

// Runs Kalmora on a host: start-up, then the event loop until it ends.
[[noreturn]] void RunKalmora(Host& host);

}  // namespace kalmora
