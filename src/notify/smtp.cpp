#include "notify/smtp.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

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

bool Is8Bit(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// Whether the body needs an encoding: 7bit allows neither 8-bit bytes nor
// lines longer than 998 bytes (some servers cut them).
bool NeedsQuotedPrintable(std::string_view body) {
  size_t line = 0;
  for (char c : body) {
    if (Is8Bit(c)) return true;
    line = c == '\r' || c == '\n' ? 0 : line + 1;
    if (line > 998) return true;
  }
  return false;
}

// How many bytes the character at `i` takes: the code page's double-byte
// characters and UTF-8's sequences stay whole inside one encoded word.
size_t CharLength(std::string_view s, size_t i, const std::string& charset) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t n = 1;
  if (charset == "utf-8") {
    n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  } else if (charset == "shift_jis" || charset == "gbk" || charset == "ks_c_5601-1987" || charset == "big5") {
    n = c >= 0x81 ? 2 : 1;
  }
  return std::min(n, s.size() - i);
}

const char kHex[] = "0123456789ABCDEF";

std::string Hex(char c) {
  const auto u = static_cast<unsigned char>(c);
  return std::string{'=', kHex[u >> 4], kHex[u & 15]};
}

}  // namespace

std::string CharsetOfCodePage(uint32_t code_page) {
  switch (code_page) {
    case 932:
      return "shift_jis";
    case 936:
      return "gbk";
    case 949:
      return "ks_c_5601-1987";
    case 950:
      return "big5";
    case 20127:
      return "us-ascii";
    case 65001:
      return "utf-8";
  }
  if (code_page >= 28591 && code_page <= 28605) return "iso-8859-" + std::to_string(code_page - 28590);
  return "windows-" + std::to_string(code_page);
}

std::string EncodedHeader(const std::string& name, const std::string& value, const std::string& charset) {
  if (std::none_of(value.begin(), value.end(), Is8Bit)) return name + ": " + value + "\r\n";
  const std::string open = "=?" + charset + "?Q?";
  std::string out = name + ":", word = open;
  // Each line holding encoded words stays within 76 characters: the first
  // word shares its line with the name, each further one has a line of its own.
  size_t limit = std::min<size_t>(75, 76 - out.size() - 1);
  for (size_t i = 0; i < value.size();) {
    const size_t n = CharLength(value, i, charset);
    std::string encoded;
    for (size_t k = i; k < i + n; ++k) {
      const char c = value[k];
      const bool plain = !Is8Bit(c) && std::isalnum(static_cast<unsigned char>(c));
      encoded += c == ' ' ? std::string("_") : plain ? std::string(1, c) : Hex(c);
    }
    if (word.size() + encoded.size() + 2 > limit && word.size() > open.size()) {
      out += " " + word + "?=\r\n";
      word = open;
      limit = 75;
    }
    word += encoded;
    i += n;
  }
  return out + " " + word + "?=\r\n";
}

namespace {

// windows-1252's characters 0x80 to 0x9F; its others are iso-8859-1's.
constexpr char16_t kWindows1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<std::string> DecodeQ(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += ' ';
    } else if (text[i] != '=') {
      out += text[i];
    } else if (i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<std::string> DecodeB(std::string_view text) {
  static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    if (c == '=') break;
    const size_t v = kAlphabet.find(c);
    if (v == std::string_view::npos) return std::nullopt;
    bits = bits << 6 | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) out += static_cast<char>(bits >> (count -= 8) & 0xFF);
  }
  return out;
}

// One encoded word's bytes in UTF-8; nothing for a charset not known here.
std::optional<std::string> ToUtf8(std::string charset, std::string_view bytes) {
  charset = AsciiLower(charset.substr(0, charset.find('*')));  // RFC 2231's language
  if (charset == "utf-8" || charset == "us-ascii") return std::string(bytes);
  const bool windows = charset == "windows-1252" || charset == "cp1252";
  if (!windows && charset != "iso-8859-1" && charset != "latin1") return std::nullopt;
  std::string out;
  for (const char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    AppendUtf8(out, windows && u >= 0x80 && u < 0xA0 ? kWindows1252[u - 0x80] : u);
  }
  return out;
}

// The encoded word at the start of `s` decoded, and its length.
std::optional<std::pair<std::string, size_t>> EncodedWordAt(std::string_view s) {
  if (s.substr(0, 2) != "=?") return std::nullopt;
  const size_t q1 = s.find('?', 2);
  if (q1 == std::string_view::npos || q1 + 2 >= s.size() || s[q1 + 2] != '?') return std::nullopt;
  const size_t end = s.find("?=", q1 + 3);
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view text = s.substr(q1 + 3, end - q1 - 3);
  if (text.find_first_of(" \t") != std::string_view::npos) return std::nullopt;
  const char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(s[q1 + 1])));
  auto bytes = encoding == 'Q' ? DecodeQ(text) : encoding == 'B' ? DecodeB(text) : std::nullopt;
  auto utf8 = bytes ? ToUtf8(std::string(s.substr(2, q1 - 2)), *bytes) : std::nullopt;
  if (!utf8) return std::nullopt;
  return std::pair{*utf8, end + 2};
}

}  // namespace

std::string DecodedHeader(std::string_view value, const std::string& charset) {
  std::string unfolded;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value.substr(i, 2) == "\r\n" && i + 2 < value.size() && (value[i + 2] == ' ' || value[i + 2] == '\t')) {
      ++i;
      continue;
    }
    unfolded += value[i];
  }
  std::string out;
  std::string_view s = unfolded;
  size_t blanks_at = std::string::npos;  // where the blanks after an encoded word began in `out`
  while (!s.empty()) {
    if (auto word = EncodedWordAt(s)) {
      if (blanks_at != std::string::npos) out.resize(blanks_at);
      out += word->first;
      s.remove_prefix(word->second);
      blanks_at = out.size();
      continue;
    }
    if (s[0] != ' ' && s[0] != '\t') blanks_at = std::string::npos;
    out += Is8Bit(s[0]) ? ToUtf8(charset, s.substr(0, 1)).value_or(std::string(1, s[0])) : std::string(1, s[0]);
    s.remove_prefix(1);
  }
  return out;
}

std::string QuotedPrintable(std::string_view body) {
  std::string out;
  out.reserve(body.size() * 3 / 2);
  size_t line = 0;
  for (size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
      out += "\r\n";
      ++i;
      line = 0;
      continue;
    }
    const bool at_line_end = i + 1 == body.size() || body[i + 1] == '\r';
    const auto u = static_cast<unsigned char>(c);
    // Blanks before a line end would be lost on the way; "=" opens an escape.
    const bool literal = (u >= 33 && u <= 126 && c != '=') || ((c == ' ' || c == '\t') && !at_line_end);
    const std::string piece = literal ? std::string(1, c) : Hex(c);
    // A soft line break "=" keeps each line within 76 characters; the last
    // piece of a line needs no room for it.
    if (line + piece.size() > (at_line_end ? 76u : 75u)) {
      out += "=\r\n";
      line = 0;
    }
    out += piece;
    line += piece.size();
  }
  return out;
}

Result<SmtpMail> PrepareSmtpMail(const std::string& composed, const SmtpStamp& stamp) {
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
    if (!keep) continue;
    if (name == "subject") {
      // The value as composed, after the one blank that follows the colon.
      mail.message +=
          EncodedHeader("Subject", std::string(value.substr(value.rfind(' ', 0) == 0 ? 1 : 0)), stamp.charset);
    } else {
      mail.message.append(line).append("\r\n");
    }
  }
  if (senders.empty()) return Result<SmtpMail>::Failure("it has no sender (EmailSender is empty)");
  if (mail.recipients.empty()) return Result<SmtpMail>::Failure("it has no recipient");
  mail.sender = senders.front();
  const std::string text = WithCrLf(body);
  const bool encode = NeedsQuotedPrintable(text);
  mail.message += "Date: " + stamp.date + "\r\nMessage-ID: " + stamp.message_id + "\r\n";
  mail.message += EncodedHeader("X-Kalmora-Computer", stamp.computer, stamp.charset);
  mail.message += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=" + stamp.charset +
                  "\r\nContent-Transfer-Encoding: " + (encode ? "quoted-printable" : "7bit") + "\r\n\r\n";
  mail.message += encode ? QuotedPrintable(text) : text;
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
