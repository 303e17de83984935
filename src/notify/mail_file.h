// The message file "mail.tmp" that the mail-sending batch file delivers, and
// the NET SEND command line.
#pragma once

#include <optional>
#include <string>

namespace kalmora {

struct MailHeaders {
  std::string sender;       // EmailSender
  bool use_bcc = false;     // EmailUseBcc: the recipient in Bcc:, the sender in To:
  std::string ini_version;  // GlobalIniVersion
  bool running_as_service = false;
  std::string version_text;  // e.g. 1.0.5
};

// A header value up to its first line end.
std::string HeaderValue(const std::string& value);

// The headers and the empty line that ends them, each line with CR LF. Values
// are written as they are, but never past a line end.
std::string MailHeaderLines(const MailHeaders& h, const std::string& address, const std::string& subject);

// A text body: "%VER%" replaced, then each two-character "\n" by CR LF,
// written as one final line.
std::string MailTextBody(const std::string& body, const std::string& version_text);

// A body file's bytes copied line by line with "%VER%" replaced; a line ends
// at CR or at CR LF, and each is written with CR LF.
std::string MailFileBody(const std::string& file_bytes, const std::string& version_text);

// "FILE=" (exact case) at the start of a body names a body file.
std::optional<std::string> BodyFileName(const std::string& body);

// A body file named relative to the program directory and staying inside
// it: no drive, no root, no ".." step. kalmora.ini may come from the update
// server, and a body file is mailed to whatever address the file names.
bool IsInsideProgramDirectory(const std::string& name);

// "net send " + address + " " + text, nothing quoted or converted.
std::string NetSendCommandLine(const std::string& address, const std::string& text);

}  // namespace kalmora
