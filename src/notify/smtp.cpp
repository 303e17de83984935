#include "notify/smtp.h"

#include <algorithm>
#include <cstdio>

#include "config/numbers.h"

namespace kalmora {

namespace {

bool BreaksCommandLine(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F || c == '"' || c == '\'';
}

// The address of "Name <addr>", or the whole of a bare "addr"; nothing when
// a "<" has no ">".
std::optional<std::string_view> AddressOf(std::string_view item) {
  const size_t open = item.rfind('<');
  if (open == std::string_view::npos) return item;
  const size_t close = item.find('>', open);
  if (close == std::string_view::npos) return std::nullopt;
  return item.substr(open + 1, close - open - 1);
}

// The addresses of one header value: "a@x, Name <b@y>; c@z".
Status AddAddresses(std::string_view value, std::vector<std::string>& out) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find_first_of(",;", start);
    if (end == std::string_view::npos) end = value.size();
    std::string_view item = TrimBlanks(value.substr(start, end - start));
    start = end + 1;
    if (item.empty()) continue;
    const auto inner = AddressOf(item);
    if (!inner) return Status::Failure("the address \"" + std::string(item) + "\" has no closing \">\"");
    item = *inner;
    if (item.empty() || item.front() == '-' || std::any_of(item.begin(), item.end(), BreaksCommandLine) ||
        item.find_first_of("<>") != std::string_view::npos) {
      return Status::Failure("the address \"" + std::string(item) +
                             "\" is empty or holds a blank, quote, angle bracket or control character");
    }
    std::string address(item);
    const bool seen =
        std::any_of(out.begin(), out.end(), [&](const std::string& a) { return AsciiLower(a) == AsciiLower(address); });
    if (!seen) out.push_back(std::move(address));
  }
  return Status();
}

// Every line end of the body as CR LF: a mail server may refuse a bare one.
std::string WithCrLf(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32);
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r') {
      out += "\r\n";
      if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
    } else if (body[i] == '\n') {
      out += "\r\n";
    } else {
      out += body[i];
    }
  }
  return out;
}

}  // namespace

Result<SmtpMail> PrepareSmtpMail(const std::string& composed, const std::string& date_header,
                                 const std::string& message_id) {
  size_t header_end = composed.find("\r\n\r\n");
  const std::string_view headers(composed.data(), header_end == std::string::npos ? composed.size() : header_end + 2);
  const std::string_view body =
      header_end == std::string::npos ? std::string_view() : std::string_view(composed).substr(header_end + 4);
  SmtpMail mail;
  std::vector<std::string> senders;
  bool keep = true;  // whether the current header (and its continuation lines) stays
  for (size_t pos = 0; pos < headers.size();) {
    size_t eol = headers.find("\r\n", pos);
    if (eol == std::string_view::npos) eol = headers.size();
    const std::string_view line = headers.substr(pos, eol - pos);
    pos = eol + 2;
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      if (keep) mail.message.append(line).append("\r\n");
      continue;
    }
    const size_t colon = line.find(':');
    const std::string name = AsciiLower(TrimBlanks(line.substr(0, colon == std::string_view::npos ? 0 : colon)));
    const std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    Status ok;
    if (name == "from") ok = AddAddresses(value, senders);
    if (name == "to" || name == "cc" || name == "bcc") ok = AddAddresses(value, mail.recipients);
    if (!ok) return ok;
    keep = name != "bcc";
    if (keep) mail.message.append(line).append("\r\n");
  }
  if (senders.empty()) return Result<SmtpMail>::Failure("it has no sender (EmailSender is empty)");
  if (mail.recipients.empty()) return Result<SmtpMail>::Failure("it has no recipient");
  mail.sender = senders.front();
  mail.message += "Date: " + date_header + "\r\nMessage-ID: " + message_id + "\r\n\r\n";
  mail.message += WithCrLf(body);
  return mail;
}

std::string MailDate(const LocalTime& t, int utc_offset_minutes) {
  static const char* kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int offset = std::abs(utc_offset_minutes);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[(t.weekday + 6) % 7], t.day,
                kMonths[std::clamp(t.month, 1, 12) - 1], t.year, t.hour, t.minute, t.second,
                utc_offset_minutes < 0 ? '-' : '+', offset / 60 % 100, offset % 60);
  return text;
}

std::string MailMessageId(const LocalTime& t, uint64_t counter, const std::string& computer,
                          const std::string& sender) {
  std::string host;
  for (char c : computer) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') host += c;
  }
  const std::string_view address = AddressOf(sender).value_or("");
  const size_t at = address.find('@');
  std::string domain(at == std::string_view::npos ? std::string_view() : address.substr(at + 1));
  if (domain.empty() || domain.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") !=
                            std::string::npos) {
    domain = "localhost";
  }
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d.%03d.", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return "<" + std::string(stamp) + std::to_string(counter) + (host.empty() ? "" : "." + host) + "@" + domain + ">";
}

std::optional<std::string> SmtpServerProblem(const std::string& server) {
  const std::string lower = AsciiLower(server);
  const size_t scheme = lower.rfind("smtp://", 0) == 0 ? 7 : lower.rfind("smtps://", 0) == 0 ? 8 : 0;
  if (scheme == 0) return "SmtpServer=" + server + " is not smtp://host[:port] or smtps://host[:port]";
  if (std::any_of(server.begin(), server.end(), BreaksCommandLine)) {
    return "SmtpServer=" + server + " holds a blank, quote or control character";
  }
  const std::string authority = server.substr(scheme, server.find('/', scheme) - scheme);
  if (authority.find('@') != std::string::npos) {
    // Not repeated: a password must not reach the event log.
    return "SmtpServer holds a user name or password; credentials belong in system\\smtp.cfg, not in kalmora.ini";
  }
  const size_t colon = authority.rfind(':');
  const std::string host = authority.substr(0, colon);
  const std::string port = colon == std::string::npos ? "" : authority.substr(colon + 1);
  const auto number = ParseNumber(port);
  if (host.empty() || (colon != std::string::npos && (port.find_first_not_of("0123456789") != std::string::npos ||
                                                      !number || *number < 1 || *number > 65535))) {
    return "SmtpServer=" + server + " is not smtp://host[:port] or smtps://host[:port]";
  }
  return std::nullopt;
}

std::string SmtpCommandLine(const SmtpCommand& c, const SmtpMail& mail) {
  std::string line = "system\\curl -s";
  if (c.credentials) line += " -K system\\smtp.cfg";
  line += " --url " + c.server;
  // smtps:// is encrypted from the start; smtp:// upgrades with STARTTLS
  // when the server offers it, or must when TLS is required.
  if (AsciiLower(c.server).rfind("smtp://", 0) == 0) line += c.require_tls ? " --ssl-reqd" : " --ssl";
  line += " --mail-from " + mail.sender;
  for (const std::string& r : mail.recipients) line += " --mail-rcpt " + r;
  return line + " -T " + c.message_file;
}

}  // namespace kalmora
