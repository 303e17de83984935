#include "notify/notices.h"

#include <cstdio>
#include <map>

#include "config/numbers.h"
#include "notify/mail_file.h"
#include "notify/sent_mails.h"
#include "notify/smtp.h"
#include "update/versions.h"

namespace kalmora {

namespace {
// send.bat reads mail.tmp in its own time; the pause keeps the next notice
// from overwriting it too soon, and the wait after it until the batch file
// has ended makes sure it never is.
constexpr int64_t kMailPauseMs = 3000;
// A notice program that has not ended by then is not going to.
constexpr int64_t kNoticeBoundMs = 60000;

Status HandedTo(const std::string& program, const ChildEnd& end, int64_t bound_ms) {
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

}  // namespace

Status Notices::SendEmail(const std::string& address, const std::string& subject, const std::string& body) {
  const bool smtp = !settings().SmtpServer.empty();
  // A countdown tick may send the scheduled warning while an earlier mail's
  // send.bat still runs: mail.tmp stays that mail's until it has ended.
  if (mail_in_flight_) {
    const ChildProcess earlier = *mail_in_flight_;
    if (!waits_.WaitProcessingEvents(0, kNoticeBoundMs, 100,
                                     [&] { return host_.ChildExitStatus(earlier).has_value(); })) {
      return Status::Failure(std::string("could not be sent: the previous email was still with ") +
                             (smtp ? "curl" : "send.bat"));
    }
  }
  MailHeaders h;
  h.sender = settings().EmailSender;
  h.use_bcc = settings().EmailUseBcc;
  h.ini_version = facts_.GlobalIniVersion;
  h.running_as_service = facts_.RunningAsService;
  h.version_text = VersionText(host_.Version());
  std::string mail = MailHeaderLines(h, address, subject);
  if (auto file = BodyFileName(body)) {
    if (!IsInsideProgramDirectory(*file)) {
      return Status::Failure("could not be sent: its body file " + *file + " lies outside the program directory");
    }
    auto bytes = host_.ReadFile(*file);
    if (!bytes) {
      // The message file is created before the body file is opened; what
      // was written so far stays, and the batch file is not started.
      if (!smtp) (void)host_.WriteFile("mail.tmp", mail);
      return Status::Failure("could not be sent: its body file " + *file + " could not be read");
    }
    mail += MailFileBody(*bytes, h.version_text);
  } else {
    mail += MailTextBody(body, h.version_text);
  }
  if (smtp) return SendBySmtp(mail);
  if (Status written = host_.WriteFile("mail.tmp", mail); !written) {
    return Status::Failure("could not be sent: mail.tmp could not be written (" + written.reason() + ")");
  }
  return HandedTo("send.bat", waits_.RunChild("system\\send.bat", kMailPauseMs, kNoticeBoundMs, &mail_in_flight_),
                  kNoticeBoundMs);
}

// Each mail has a file of its own, so that no mail waits for another's
// file; it is removed once the server has taken the mail, and a mail that
// did not go out leaves it for the administrator to look at.
Status Notices::SendBySmtp(const std::string& composed) {
  if (auto problem = SmtpServerProblem(settings().SmtpServer)) return Status::Failure("could not be sent: " + *problem);
  const LocalTime now = host_.Now();
  const uint64_t number = ++mails_composed_;
  const std::string computer = host_.ComputerName();
  auto mail = PrepareSmtpMail(composed, {MailDate(now, host_.UtcOffsetMinutes()),
                                         MailMessageId(now, number, computer, HeaderValue(settings().EmailSender)),
                                         computer, CharsetOfCodePage(host_.AnsiCodePage())});
  if (!mail) return Status::Failure("could not be sent: " + mail.reason());
  char name[48];
  std::snprintf(name, sizeof name, "mail-%04d%02d%02d-%02d%02d%02d-%llu.eml", now.year, now.month, now.day, now.hour,
                now.minute, now.second, static_cast<unsigned long long>(number));
  if (Status written = host_.WriteFile(name, mail->message); !written) {
    return Status::Failure(std::string("could not be sent: ") + name + " could not be written (" + written.reason() +
                           ")");
  }
  SmtpCommand command;
  command.server = settings().SmtpServer;
  command.require_tls = settings().SmtpRequireTls;
  command.credentials = host_.FileExists("system\\smtp.cfg");
  command.message_file = name;
  const ChildEnd end = waits_.RunChild(SmtpCommandLine(command, *mail), 0, kNoticeBoundMs, &mail_in_flight_);
  if (end.start && end.status && *end.status != 0) {
    return Status::Failure("could not be sent: " + CurlFailureText(*end.status, CurlTask::Mail));
  }
  if (Status handed = HandedTo("curl", end, kNoticeBoundMs); !handed) return handed;
  (void)host_.DeleteFile(name);
  return Status();
}

Status Notices::SendNetMessage(const std::string& address, const std::string& text) {
  return HandedTo("net", waits_.RunChild(NetSendCommandLine(address, text), 0, kNoticeBoundMs), kNoticeBoundMs);
}

// "An email has been sent to inform ADDRESS." when it was; otherwise what
// became of it, so that the entry never claims more than happened.
bool NamesThisHost(std::string_view value, std::string_view computer_name, std::string_view dns_name) {
  if (value.size() > 1 && value.back() == '.') value.remove_suffix(1);
  const std::string name = AsciiLower(value);
  return name == AsciiLower(computer_name) || (!dns_name.empty() && name == AsciiLower(dns_name));
}

std::string NoticeSentence(const std::string& what, const std::string& address, const Status& sent) {
  if (sent) return "\r\n\r\n" + what + " has been sent to inform " + address + ".";
  return "\r\n\r\n" + what + " to inform " + address + " " + sent.reason() + ".";
}

std::string SessionSentence(const Result<int>& shown) {
  if (!shown) return "\r\n\r\nA message box for the logged-on users could not be shown: " + shown.reason() + ".";
  if (*shown == 0) return "\r\n\r\nNo user was logged on to see a message box.";
  return "\r\n\r\nA message box has been shown in " + std::to_string(*shown) + " user session" +
         (*shown == 1 ? "" : "s") + ".";
}

// A start, resume or re-decision later the same day skips the rows
// msgholidays.sent lists. A mail that did not go out gets an error entry
// naming its row, so that nobody waits for a notice in vain without a
// trace, and is not remembered: a later start today tries it again.
bool Notices::SendMsgHolidayEmails(const CivilDate& day) {
  // This run's own record once it has one for today (it wrote the file
  // itself, or tried to), otherwise what an earlier start left.
  if (sent_on_ != day) {
    const auto bytes = host_.ReadFile(kSentMailsFile);
    sent_today_ = bytes ? ParseSentMails(*bytes, day) : std::vector<std::string>();
    sent_on_ = day;
  }
  // Each listed key stands for one mail, so two identical rows send two.
  std::map<std::string, int> already;
  for (const std::string& key : sent_today_) ++already[key];
  // A fleet that shares one kalmora.ini lets one computer send the mails
  // meant for everybody, instead of each host sending them once.
  const std::string sender = settings().MsgHolidaysComputer;
  const bool sends_here = sender.empty() || NamesThisHost(sender, host_.ComputerName(), host_.DnsHostName());
  // The tables of this reading stay alive across the mails' waits, whatever
  // a re-reading meanwhile makes of config_.
  const std::shared_ptr<const HolidayTables> tables = config_.tables;
  const std::shared_ptr<const Settings> values = config_.values;
  bool matched = false;
  int left_to_sender = 0;
  for (size_t i = 0; i < tables->lstMsgHolidaysDates.size(); ++i) {
    if (!tables->lstMsgHolidaysDates[i].Matches(day)) continue;
    matched = true;
    if (!sends_here) {
      ++left_to_sender;
      continue;
    }
    const std::string& date = tables->lstMsgHolidaysDates[i].text;
    const std::string& address =
        tables->lstMsgHolidaysAddress[i].empty() ? values->DefaultEmailAddress : tables->lstMsgHolidaysAddress[i];
    const std::string& subject =
        tables->lstMsgHolidaysSubject[i].empty() ? values->DefaultEmailSubject : tables->lstMsgHolidaysSubject[i];
    const std::string& body =
        tables->lstMsgHolidaysBody[i].empty() ? values->DefaultEmailSubject : tables->lstMsgHolidaysBody[i];
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
    sent_today_.push_back(key);
    RememberSentMails(day);
  }
  if (left_to_sender > 0) {
    host_.LogEvent(EventType::Information, EventId::Report,
                   "Kalmora: Today's message-holiday emails (" + std::to_string(left_to_sender) +
                       ") are sent by the computer " + sender + " (MsgHolidaysComputer), not by this one (" +
                       host_.ComputerName() + ").");
  }
  return matched;
}

// After each mail, so that a halt or stop later in the check loses none.
// Written aside and swapped in with one rename: a file cut off half-way
// would count as empty and send the whole day again.
void Notices::RememberSentMails(const CivilDate& day) {
  Status done = host_.WriteFile(kSentMailsNewFile, SentMailsText(day, sent_today_));
  if (done) done = host_.ReplaceFile(kSentMailsNewFile, kSentMailsFile);
  if (done) return;
  (void)host_.DeleteFile(kSentMailsNewFile);
  host_.LogEvent(EventType::Warning, EventId::Report,
                 std::string("Kalmora: Warning: ") + kSentMailsFile + " could not be written (" + done.reason() +
                     "). A start later today may send today's message-holiday emails again.");
}

}  // namespace kalmora
