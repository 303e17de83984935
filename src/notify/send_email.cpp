#include <cstdio>

#include "config/numbers.h"
#include "notify/mail_file.h"
#include "notify/smtp.h"
#include "service/frm_main.h"
#include "update/versions.h"

namespace kalmora {

namespace {
// send.bat reads mail.tmp in its own time; the pause keeps the next notice
// from overwriting it too soon, and the wait after it until the batch file
// has ended makes sure it never is.
constexpr int64_t kMailPauseMs = 3000;
// A notice program that has not ended by then is not going to.
constexpr int64_t kNoticeBoundMs = 60000;
}  // namespace

Status frmMain::SendEmail(const std::string& address, const std::string& subject, const std::string& body) {
  const bool smtp = !cfg_.SmtpServer.empty();
  // A countdown tick may send the scheduled warning while an earlier mail's
  // send.bat still runs: mail.tmp stays that mail's until it has ended.
  if (mail_in_flight_) {
    const ChildProcess earlier = *mail_in_flight_;
    if (!WaitProcessingEvents(0, kNoticeBoundMs, 100, [&] { return host_.ChildExitStatus(earlier).has_value(); })) {
      return Status::Failure(std::string("could not be sent: the previous email was still with ") +
                             (smtp ? "curl" : "send.bat"));
    }
  }
  MailHeaders h;
  h.sender = cfg_.EmailSender;
  h.use_bcc = cfg_.EmailUseBcc;
  h.ini_version = GlobalIniVersion_;
  h.running_as_service = RunningAsService_;
  h.version_text = VersionText();
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
  return HandedTo("send.bat", RunChild("system\\send.bat", kMailPauseMs, kNoticeBoundMs, &mail_in_flight_),
                  kNoticeBoundMs);
}

// Each mail has a file of its own, so that no mail waits for another's
// file; it is removed once the server has taken the mail, and a mail that
// did not go out leaves it for the administrator to look at.
Status frmMain::SendBySmtp(const std::string& composed) {
  if (auto problem = SmtpServerProblem(cfg_.SmtpServer)) return Status::Failure("could not be sent: " + *problem);
  const LocalTime now = host_.Now();
  const uint64_t number = ++mails_composed_;
  const std::string computer = host_.ComputerName();
  auto mail = PrepareSmtpMail(composed, {MailDate(now, host_.UtcOffsetMinutes()),
                                         MailMessageId(now, number, computer, HeaderValue(cfg_.EmailSender)), computer,
                                         CharsetOfCodePage(host_.AnsiCodePage())});
  if (!mail) return Status::Failure("could not be sent: " + mail.reason());
  char name[48];
  std::snprintf(name, sizeof name, "mail-%04d%02d%02d-%02d%02d%02d-%llu.eml", now.year, now.month, now.day, now.hour,
                now.minute, now.second, static_cast<unsigned long long>(number));
  if (Status written = host_.WriteFile(name, mail->message); !written) {
    return Status::Failure(std::string("could not be sent: ") + name + " could not be written (" + written.reason() +
                           ")");
  }
  SmtpCommand command;
  command.server = cfg_.SmtpServer;
  command.require_tls = IsOn(cfg_.SmtpRequireTls);
  command.credentials = host_.FileExists("system\\smtp.cfg");
  command.message_file = name;
  const ChildEnd end = RunChild(SmtpCommandLine(command, *mail), 0, kNoticeBoundMs, &mail_in_flight_);
  if (end.start && end.status && *end.status != 0) {
    return Status::Failure("could not be sent: " + CurlFailureText(*end.status, CurlTask::Mail));
  }
  if (Status handed = HandedTo("curl", end, kNoticeBoundMs); !handed) return handed;
  (void)host_.DeleteFile(name);
  return Status();
}

Status frmMain::SendNetMessage(const std::string& address, const std::string& text) {
  return HandedTo("net", RunChild(NetSendCommandLine(address, text), 0, kNoticeBoundMs), kNoticeBoundMs);
}

}  // namespace kalmora
