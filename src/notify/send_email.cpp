#include "notify/mail_file.h"
#include "service/frm_main.h"

namespace kalmora {

void frmMain::SendEmail(const std::string& address, const std::string& subject, const std::string& body) {
  MailHeaders h;
  h.sender = cfg_.EmailSender;
  h.use_bcc = cfg_.EmailUseBcc;
  h.ini_version = GlobalIniVersion_;
  h.running_as_service = RunningAsService_;
  h.version_text = VersionText();
  std::string mail = MailHeaderLines(h, address, subject);
  if (auto file = BodyFileName(body)) {
    auto bytes = host_.ReadFile(*file);
    if (!bytes) {
      // The message file is created before the body file is opened; what
      // was written so far stays, and the batch file is not started.
      host_.WriteFile("mail.tmp", mail);
      return;
    }
    mail += MailFileBody(*bytes, h.version_text);
  } else {
    mail += MailTextBody(body, h.version_text);
  }
  if (!host_.WriteFile("mail.tmp", mail)) return;
  if (!host_.StartProcess("system\\send.bat")) return;
  // The batch file reads mail.tmp in its own time; the pause keeps the next
  // notice from overwriting it too soon.
  PauseProcessingEvents(3000, 100);
}

void frmMain::SendNetMessage(const std::string& address, const std::string& text) {
  host_.StartProcess(NetSendCommandLine(address, text));
}

}  // namespace kalmora
