// The message file: sender NUL EmailUseBcc NUL ini version NUL address NUL
// subject NUL body (a body "FILE=..." is read as the body file's bytes).
#include <algorithm>

#include "fuzz_input.h"
#include "notify/mail_file.h"

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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto [sender, bcc, ini, address, subject, body] = kalmora::fuzz::Fields<6>(data, size);
  // No value may add a header or end the header block early.
  const std::string head = kalmora::MailHeaderLines({sender, bcc, ini, size % 2 == 1, "1.0.5"}, address, subject);
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
  return 0;
}
