#include "notify/mail_file.h"

#include "config/numbers.h"
#include "config/rules.h"

namespace kalmora {

std::string HeaderValue(const std::string& value) { return value.substr(0, value.find_first_of("\r\n")); }

std::string MailHeaderLines(const MailHeaders& h, const std::string& address, const std::string& subject) {
  // A quoted field of a message holiday may span lines; a line end inside a
  // header value would add headers of its own (another recipient, say), so
  // each value ends at its first line end.
  const std::string sender = HeaderValue(h.sender);
  std::string out;
  out += "From: " + sender + "\r\n";
  if (h.use_bcc) {
    out += "To: " + sender + "\r\n";
    out += "Bcc: " + HeaderValue(address) + "\r\n";
  } else {
    out += "To: " + HeaderValue(address) + "\r\n";
  }
  out += "Subject: " + HeaderValue(subject) + "\r\n";
  out += "X-Mailer: Kalmora Service " + h.version_text + "\r\n";
  out += "X-Kalmora-IniVersion: " + HeaderValue(h.ini_version) + "\r\n";
  out += std::string("X-Kalmora-RunningAsService: ") + (h.running_as_service ? "1" : "0") + "\r\n";
  out += "\r\n";
  return out;
}

std::string MailTextBody(const std::string& body, const std::string& version_text) {
  std::string text = ReplaceAll(ReplaceAll(body, "%VER%", version_text), "\\n", "\r\n");
  return text + "\r\n";
}

std::string MailFileBody(const std::string& file_bytes, const std::string& version_text) {
  std::string out;
  size_t pos = 0;
  while (pos < file_bytes.size()) {
    size_t cr = file_bytes.find('\r', pos);
    size_t end = cr == std::string::npos ? file_bytes.size() : cr;
    out += ReplaceAll(std::string_view(file_bytes).substr(pos, end - pos), "%VER%", version_text);
    out += "\r\n";
    pos = end;
    if (pos < file_bytes.size()) {
      ++pos;  // the CR
      if (pos < file_bytes.size() && file_bytes[pos] == '\n') ++pos;
    }
  }
  return out;
}

std::optional<std::string> BodyFileName(const std::string& body) {
  if (body.compare(0, 5, "FILE=") == 0 && body.size() >= 5) return body.substr(5);
  return std::nullopt;
}

bool IsInsideProgramDirectory(const std::string& name) {
  if (!name.empty() && (name[0] == '\\' || name[0] == '/')) return false;
  if (name.find(':') != std::string::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("\\/", start);
    if (name.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string NetSendCommandLine(const std::string& address, const std::string& text) {
  return "net send " + address + " " + text;
}

}  // namespace kalmora
