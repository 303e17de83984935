// Mail by SMTP: the composed message turned into what curl hands to the mail
// server, and curl's command line for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace kalmora {

// One mail as the mail server receives it.
struct SmtpMail {
  std::string sender;                   // the envelope sender, from From:
  std::vector<std::string> recipients;  // To:, Cc: and Bcc: addresses, each once
  std::string message;                  // without Bcc:, with Date: and Message-ID:, CR LF line ends
};

// What the host adds to each mail it sends itself.
struct SmtpStamp {
  std::string date;        // Date:
  std::string message_id;  // Message-ID:
  std::string computer;    // X-Kalmora-Computer:
  std::string charset;     // of the subject and body, as read from kalmora.ini
};

// The envelope and the message of a composed mail (headers, an empty line,
// the body). Address lists may be separated by "," or ";", and an address
// may stand in angle brackets after a display name. An address that could
// break curl's command line (a blank, a quote or a control character) is
// refused, and so is a mail without sender or recipient; the reason follows
// "could not be sent: ". The message is MIME: a Subject with 8-bit characters
// as encoded words, a body with 8-bit characters or lines over 998 bytes as
// quoted-printable, so that any mail server passes it on unchanged.
Result<SmtpMail> PrepareSmtpMail(const std::string& composed, const SmtpStamp& stamp);

// The charset name mail uses for a Windows ANSI code page.
std::string CharsetOfCodePage(uint32_t code_page);

// An unstructured header "Name: value", folded into RFC 2047 encoded words
// ("=?charset?Q?...?=", none longer than 75 characters, no character split
// between two) when the value holds 8-bit characters; otherwise as it is.
std::string EncodedHeader(const std::string& name, const std::string& value, const std::string& charset);

// The other way, for display: the value of a header as read from a mail
// (folded lines joined), its encoded words ("=?charset?Q?...?=" and
// "=?charset?B?...?=") decoded and the blanks between two of them dropped,
// in UTF-8; 8-bit text outside them is taken to be in `charset` (mail.tmp's
// headers are in the ANSI code page). utf-8, us-ascii, iso-8859-1 and
// windows-1252 are known; a word in another charset, or one that is not well
// formed, stays as it is.
std::string DecodedHeader(std::string_view value, const std::string& charset);

// A body with CR LF line ends as quoted-printable: lines of at most 76
// characters, its hard line ends kept.
std::string QuotedPrintable(std::string_view body);

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
