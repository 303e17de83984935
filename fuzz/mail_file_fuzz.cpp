// The message file: sender NUL EmailUseBcc NUL ini version NUL address NUL
// subject NUL body (a body "FILE=..." is read as the body file's bytes); the
// same mail made ready for SMTP, and the subject taken as SmtpServer.
#include <algorithm>

#include "config/numbers.h"
#include "fuzz_input.h"
#include "notify/mail_file.h"
#include "notify/smtp.h"

namespace {
// CRs not followed by LF, or LFs not preceded by CR.
size_t Bare(const std::string& s, char c) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == c) n += c == '\r' ? i + 1 == s.size() || s[i + 1] != '\n' : i == 0 || s[i - 1] != '\r';
  }
  return n;
}
bool EndsInCrLf(const std::string& s) { return s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0; }

bool OneWord(const std::string& s) {
  return !s.empty() && s[0] != '-' && std::none_of(s.begin(), s.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == '"' || c == '\'' || c == 0x7F;
  });
}

// What reaches the mail server has no Bcc header and no bare line end, and
// every argument of curl's command line stays one word.
void Smtp(const std::string& composed, const std::string& server) {
  auto mail = kalmora::PrepareSmtpMail(composed, {"D", "<M>", "HOST", "windows-1252"});
  if (!mail) return;
  const std::string headers = kalmora::AsciiLower(mail->message.substr(0, mail->message.find("\r\n\r\n") + 2));
  Check(headers.rfind("bcc:", 0) != 0 && headers.find("\nbcc:") == std::string::npos &&
        Bare(mail->message, '\r') + Bare(mail->message, '\n') == 0 && !mail->recipients.empty() &&
        OneWord(mail->sender) && std::all_of(mail->recipients.begin(), mail->recipients.end(), OneWord));
  if (kalmora::SmtpServerProblem(server)) return;
  const std::string line = kalmora::SmtpCommandLine({server, false, true, "m.eml"}, *mail);
  const auto words = std::count(line.begin(), line.end(), ' ') + 1;
  const bool starttls = kalmora::AsciiLower(server).rfind("smtp://", 0) == 0;
  Check(OneWord(server) && words == static_cast<long>(10 + starttls + 2 * mail->recipients.size()));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [sender, bcc, ini, address, subject, body] = kalmora::fuzz::Fields<6>(data, size);
  // No value may add a header or end the header block early.
  const std::string head =
      kalmora::MailHeaderLines({sender, kalmora::UseBlindCopy(bcc), ini, size % 2 == 1, "1.0.5"}, address, subject);
  const auto lines = std::count(head.begin(), head.end(), '\n');
  Check(Bare(head, '\r') + Bare(head, '\n') == 0 && lines == (kalmora::UseBlindCopy(bcc) ? 8 : 7) &&
        head.find("\r\n\r\n") == head.size() - 4);
  if (auto name = kalmora::BodyFileName(body)) {
    // The body file's own line ends become CR LF; a lone LF stays inside its line.
    const std::string text = kalmora::MailFileBody(*name, "1.0.5");
    Check("FILE=" + *name == body && text.empty() == name->empty() && (text.empty() || EndsInCrLf(text)) &&
          Bare(text, '\r') == 0);
  } else {
    // Every line end added is CR LF: a bare one must have come with the body.
    const std::string text = kalmora::MailTextBody(body, "1.0.5");
    const auto body_ends = std::count(body.begin(), body.end(), '\r') + std::count(body.begin(), body.end(), '\n');
    Check(body.compare(0, 5, "FILE=") != 0 && EndsInCrLf(text) &&
          Bare(text, '\r') + Bare(text, '\n') <= static_cast<size_t>(body_ends));
  }
  kalmora::NetSendCommandLine(address, subject);
  Smtp(head + kalmora::MailTextBody(body, "1.0.5"), subject);
  return 0;
}
