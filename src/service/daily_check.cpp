#include <algorithm>
#include <map>

#include "config/numbers.h"
#include "service/frm_main.h"
#include "service/rules.h"
#include "service/sent_mails.h"

namespace kalmora {

// Values that do not read as numbers never stop the check. What each counts
// as:
// - a switch (ShutdownEnabled, WeekendShutdown, the MsgOn... switches,
//   ScheduledShutdown, ForceExitAfterCheck) is off; BeepOnShutdown is off;
// - ExitAfterCheck is neither 0 nor 1: it neither starts tmrDelay on a day
//   with nothing armed nor ends the program after the check;
// - DontShutdownAfter never makes it too late (as if it were "23:59");
// - ShutdownDelay counts as 180 seconds for the moment and "%MIN%", while the
//   log entry shows the text as configured;
// - a ScheduledShutdownTime whose hours or minutes are not numbers arms
//   nothing that day; ScheduledShutdownDelay counts as 900 (countdown.cpp);
// - a holiday date not in the DD.MM.YYYY form never matches.

// "An email has been sent to inform ADDRESS." when it was; otherwise what
// became of it, so that the entry never claims more than happened.
std::string NoticeSentence(const std::string& what, const std::string& address, const Status& sent) {
  if (sent) return "\r\n\r\n" + what + " has been sent to inform " + address + ".";
  return "\r\n\r\n" + what + " to inform " + address + " " + sent.reason() + ".";
}

// One e-mail for every matching row, whatever else today is, but at most
// once a day on this host: a start, resume or re-decision later the same day
// skips the rows msgholidays.sent lists. A mail that did not go out gets an
// error entry naming its row, so that nobody waits for a notice in vain
// without a trace, and is not remembered: a later start today tries it again.
void frmMain::SendMsgHolidayEmails(const CivilDate& day) {
  // This run's own record once it has one for today (it wrote the file
  // itself, or tried to), otherwise what an earlier start left.
  if (SentOn_ != day) {
    const auto bytes = host_.ReadFile(kSentMailsFile);
    SentToday_ = bytes ? ParseSentMails(*bytes, day) : std::vector<std::string>();
    SentOn_ = day;
  }
  // Each listed key stands for one mail, so two identical rows send two.
  std::map<std::string, int> already;
  for (const std::string& key : SentToday_) ++already[key];
  // A fleet that shares one kalmora.ini lets one computer send the mails
  // meant for everybody, instead of each host sending them once.
  const std::string sender(TrimBlanks(cfg_.MsgHolidaysComputer));
  const bool sends_here = sender.empty() || AsciiLower(sender) == AsciiLower(host_.ComputerName());
  int left_to_sender = 0;
  for (size_t i = 0; i < tables_.lstMsgHolidaysDates.size(); ++i) {
    if (!DateMatches(tables_.lstMsgHolidaysDates[i], day)) continue;
    IsMsgHoliday_ = true;
    if (!sends_here) {
      ++left_to_sender;
      continue;
    }
    // Copies: the mail's wait processes events, and nothing the tables hold
    // may be relied on across it.
    const std::string date = tables_.lstMsgHolidaysDates[i];
    const std::string address =
        tables_.lstMsgHolidaysAddress[i].empty() ? cfg_.DefaultEmailAddress : tables_.lstMsgHolidaysAddress[i];
    const std::string subject =
        tables_.lstMsgHolidaysSubject[i].empty() ? cfg_.DefaultEmailSubject : tables_.lstMsgHolidaysSubject[i];
    const std::string body =
        tables_.lstMsgHolidaysBody[i].empty() ? cfg_.DefaultEmailSubject : tables_.lstMsgHolidaysBody[i];
    const std::string key = SentMailKey(date, address, subject);
    if (auto it = already.find(key); it != already.end() && it->second > 0) {
      --it->second;
      continue;
    }
    if (Status sent = SendEmail(address, subject, body); !sent) {
      host_.LogEvent(EventType::Error, EventId::Failure,
                     "Kalmora: The message-holiday email of [MsgHolidays] row " + std::to_string(i + 1) + " (" + date +
                         ", subject \"" + subject + "\") to inform " + address + " " + sent.reason() + ".");
      continue;
    }
    SentToday_.push_back(key);
    RememberSentMails(day);
  }
  if (left_to_sender > 0) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: Today's message-holiday emails (" + std::to_string(left_to_sender) +
                       ") are sent by the computer " + sender + " (MsgHolidaysComputer), not by this one (" +
                       host_.ComputerName() + ").");
  }
}

// After each mail, so that a halt or stop later in the check loses none.
// Written aside and swapped in with one rename: a file cut off half-way
// would count as empty and send the whole day again.
void frmMain::RememberSentMails(const CivilDate& day) {
  Status done = host_.WriteFile(kSentMailsNewFile, SentMailsText(day, SentToday_));
  if (done) done = host_.ReplaceFile(kSentMailsNewFile, kSentMailsFile);
  if (done) return;
  (void)host_.DeleteFile(kSentMailsNewFile);
  host_.LogEvent(EventType::Warning, EventId::Report,
                 std::string("Kalmora: Warning: ") + kSentMailsFile + " could not be written (" + done.reason() +
                     "). A start later today may send today's message-holiday emails again.");
}

std::string frmMain::ShutdownNotice(double delay) {
  if (cfg_.ShutdownMsg.empty()) {
    cfg_.ShutdownMsg = "Today is %HLDY%. The host will shut down in %MIN% minutes.\\n\\nGenerated by Kalmora %VER%";
  }
  std::string notice = ReplaceAll(cfg_.ShutdownMsg, "%HLDY%", CurrHoliday_);
  notice = ReplaceAll(notice, "%MIN%", std::to_string(MinutesRoundedHalfEven(delay)));
  notice = ReplaceAll(notice, "%DSA%", cfg_.DontShutdownAfter);
  notice = ReplaceAll(notice, "%VER%", VersionText());
  return ReplaceAll(notice, "%COMPUTER%", host_.ComputerName());
}

// A notice that did not go out also gets an error entry of its own: event
// forwarding and monitoring usually collect errors only, and the information
// entry's sentence alone would pass them by.
void frmMain::NoticeFailed(const std::string& what, const std::string& address, const Status& sent) {
  if (sent) return;
  host_.LogEvent(EventType::Error, EventId::Failure,
                 "Kalmora: The " + what + " to inform " + address + " " + sent.reason() + ".");
}

std::string SessionSentence(const Result<int>& shown) {
  if (!shown) return "\r\n\r\nA message box for the logged-on users could not be shown: " + shown.reason() + ".";
  if (*shown == 0) return "\r\n\r\nNo user was logged on to see a message box.";
  return "\r\n\r\nA message box has been shown in " + std::to_string(*shown) + " user session" +
         (*shown == 1 ? "" : "s") + ".";
}

void frmMain::DailyCheck() {
  // 1. Message holidays. All rows are judged against the date the check
  // began on, even when the mails' waits run past midnight.
  const LocalTime began = host_.Now();
  const CivilDate today{began.year, began.month, began.day};
  // A new date's schedule deserves its own warning, however the date came:
  // at midnight, after a sleep, or in a start-up whose waits ran past
  // midnight.
  if (DecidedOn_ != today) ScheduleWarningSent_ = false;
  DecidedOn_ = today;
  SendMsgHolidayEmails(today);
  // 2.-6. Each mail above took at least 3 seconds, so the clock is read
  // again: the cut-off is about the moment of the decision, not the start of
  // the check.
  DecideHolidayShutdown(host_.Now());
  // 7. The scheduled shutdown; a holiday or weekend countdown wins.
  ScheduledShutdownDecision();
  ArmTimersAndExit();
}

void frmMain::DecideHolidayShutdown(const LocalTime& now) {
  const CivilDate today{now.year, now.month, now.day};
  TooLate_ = IsTooLate(now.hour, now.minute, cfg_.DontShutdownAfter);
  IsWeekend_ = now.weekday == 6 || now.weekday == 7;
  const bool weekend_shutdown = IsOn(cfg_.WeekendShutdown);
  CurrHoliday_ = weekend_shutdown && IsWeekend_ ? cfg_.WeekendPlaceholder : std::string();
  // A later matching row names the day.
  for (size_t i = 0; i < tables_.lstShutdownHolidaysDates.size(); ++i) {
    if (!DateMatches(tables_.lstShutdownHolidaysDates[i], today)) continue;
    IsHoliday_ = true;
    CurrHoliday_ =
        tables_.lstShutdownHolidaysDescr[i].empty() ? cfg_.HldyPlaceholder : tables_.lstShutdownHolidaysDescr[i];
  }
  DoShutdown_ = IsOn(cfg_.ShutdownEnabled) && !TooLate_ && (IsHoliday_ || (weekend_shutdown && IsWeekend_));
  if (DoShutdown_) AnnounceHolidayShutdown();
}

// The notices, the log entry and the countdown of a holiday or weekend
// shutdown, ShutdownDelay seconds from now.
void frmMain::AnnounceHolidayShutdown() {
  std::string log = "Kalmora: Today is holiday '" + CurrHoliday_ + "'. The host will shut down in " +
                    cfg_.ShutdownDelay + " seconds.";
  const bool send_mail =
      (IsOn(cfg_.MsgOnShutdownEmail) && IsHoliday_) || (IsOn(cfg_.MsgOnWeekendShutdownEmail) && IsWeekend_);
  const bool send_net =
      (IsOn(cfg_.MsgOnShutdownNet) && IsHoliday_) || (IsOn(cfg_.MsgOnWeekendShutdownNet) && IsWeekend_);
  const double delay = ParseNumber(cfg_.ShutdownDelay).value_or(kDefaultShutdownDelay);
  const std::string notice = send_mail || send_net ? ShutdownNotice(delay) : std::string();
  const std::string of = " of the holiday '" + CurrHoliday_ + "'";
  if (send_mail) {
    const Status sent = SendEmail(cfg_.DefaultEmailAddress, CurrHoliday_, notice);
    NoticeFailed("shutdown notice email" + of, cfg_.DefaultEmailAddress, sent);
    log += NoticeSentence("An email", cfg_.DefaultEmailAddress, sent);
  }
  if (send_net) {
    const Status sent = SendNetMessage(cfg_.NetAddress, notice);
    NoticeFailed("shutdown notice NET SEND message" + of, cfg_.NetAddress, sent);
    log += NoticeSentence("A NET SEND message", cfg_.NetAddress, sent);
  }
  if (IsOn(cfg_.MsgOnShutdownSession)) {
    log += SessionSentence(host_.ShowSessionMessage("Kalmora", ReplaceAll(ShutdownNotice(delay), "\\n", "\r\n"),
                                                    static_cast<uint32_t>(std::max(1.0, delay))));
  }
  BeepPattern();
  host_.LogEvent(EventType::Information, EventId::Report, log);
  // Not wrapped at midnight: the countdown deals with a moment past it.
  TimeToShutdown_ = static_cast<float>(host_.SecondsSinceMidnight() + delay);
  host_.SetTimerInterval(TimerId::Delay, 10000);
  host_.EnableTimer(TimerId::Delay, true);
  OpenDeskWindows(CurrHoliday_);
}

void frmMain::ArmTimersAndExit() {
  LastTickAt_ = host_.SecondsSinceMidnight();
  // Resident: never ends after the check, and wakes for the next day.
  if (IsOn(cfg_.DecideDaily)) {
    if (DoShutdown_) {
      host_.SetTimerInterval(TimerId::Delay, 10000);
      host_.EnableTimer(TimerId::Delay, true);
    } else {
      ArmMidnightWake();
    }
    return;
  }
  host_.SetTimerInterval(TimerId::Delay, 10000);
  // ExitAfterCheck is compared as a number; text that is none is neither 0
  // nor 1.
  const auto exit_after = ParseNumber(cfg_.ExitAfterCheck);
  if (DoShutdown_ || (exit_after && *exit_after == 0)) host_.EnableTimer(TimerId::Delay, true);
  if (IsOn(cfg_.ExitAfterCheck) && !DoShutdown_ && !IsOn(cfg_.ScheduledShutdown)) {
    host_.EnableTimer(TimerId::WaitExit, true);
  }
  if (IsOn(cfg_.ForceExitAfterCheck) && !DoShutdown_) host_.EnableTimer(TimerId::WaitExit, true);
}

}  // namespace kalmora
