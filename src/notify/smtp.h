// Mail by SMTP: the composed message turned into what curl hands to the mail
// server, and curl's command line for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"

namespace kalmora {

// One mail as the mail server receives it.
struct SmtpMail {
  std::string sender;                   // the envelope sender, from From:
  std::vector<std::string> recipients;  // To:, Cc: and Bcc: addresses, each once
  std::string message;                  // without Bcc:, with Date: and Message-ID:, CR LF line ends
};

// The envelope and the message of a composed mail (headers, an empty line,
// the body). Address lists may be separated by "," or ";", and an address
// may stand in angle brackets after a display name. An address that could
// break curl's command line (a blank, a quote or a control character) is
// refused, and so is a mail without sender or recipient; the reason follows
// "could not be sent: ".
Result<SmtpMail> PrepareSmtpMail(const std::string& composed, const std::string& date_header,
                                 const std::string& message_id);

// "Mon, 07 Dec 2026 09:00:00 +0100".
std::string MailDate(const LocalTime& t, int utc_offset_minutes);

// "<20261207090000.123.1.HOST@domain>": the moment, a counter and the host
// keep it unique; the domain is the sender's (which may stand in angle
// brackets after a display name), or "localhost".
std::string MailMessageId(const LocalTime& t, uint64_t counter, const std::string& computer, const std::string& sender);

// Why SmtpServer cannot be used, or nothing when it can: smtp:// or
// smtps://, a host, an optional port, and nothing that could break the
// command line.
std::optional<std::string> SmtpServerProblem(const std::string& server);

struct SmtpCommand {
  std::string server;
  bool require_tls = false;
  bool credentials = false;  // system\smtp.cfg exists
  std::string message_file;
};
// curl's command line: started directly, never through a shell, so each
// argument is one word (checked above to hold no blank or quote).
std::string SmtpCommandLine(const SmtpCommand& c, const SmtpMail& mail);

}  // namespace kalmora
