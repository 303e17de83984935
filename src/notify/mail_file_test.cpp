// The lines of mail.tmp and the body file's place. (The NET SEND command
// line: the decision tests.)
#include "notify/mail_file.h"

#include <gtest/gtest.h>

#include "config/numbers.h"

namespace kalmora {
namespace {

const std::string kVer = "1.0.5";

TEST(MailHeaders, BlindCopyAndNoHeadersFromValues) {
  // An empty sender is written as it is.
  EXPECT_EQ(MailHeaderLines({"", true, "7", true, kVer}, "it@example.com", "Christmas Eve"),
            "From: \r\nTo: \r\nBcc: it@example.com\r\nSubject: Christmas Eve\r\nX-Mailer: Kalmora Service 1.0.5"
            "\r\nX-Kalmora-IniVersion: 7\r\nX-Kalmora-RunningAsService: 1\r\n\r\n");
  // Any number but 0 hides the recipient; so does text that is not a number.
  const std::pair<const char*, bool> cases[] = {{"0", false}, {" 0 ", false}, {"0.0", false},
                                                {"", false},  {" ", false},   {"1", true},
                                                {"-1", true}, {"2", true},    {"yes", true}};
  for (auto [value, bcc] : cases) EXPECT_EQ(UseBlindCopy(value), bcc) << '"' << value << '"';
  // A quoted message-holiday field may span lines in kalmora.ini, and the
  // IniVersion comes from the update server: a value ends at its first line end.
  for (bool use_bcc : {false, true}) {
    MailHeaders h{"kalmora@example.com\r\nCc: injected@example.com", use_bcc, "7\nCc: injected", false, kVer};
    const std::string mail = MailHeaderLines(h, "it@example.com\r\nCc: injected", "Party\nCc: injected");
    EXPECT_EQ(mail.find("injected"), std::string::npos) << mail;
    EXPECT_EQ(mail.rfind("From: kalmora@example.com\r\nTo: ", 0), 0u) << mail;
  }
}

TEST(MailBody, TextFilesAndTheirPlace) {
  // A text body turns \n into line breaks; a real line feed stays as it is,
  // and other placeholders are not ours to fill.
  EXPECT_EQ(MailTextBody("one\\ntwo %VER%\\n\\n%VER%", kVer), "one\r\ntwo 1.0.5\r\n\r\n1.0.5\r\n");
  EXPECT_EQ(MailTextBody("a\nb %MIN% %ver%", kVer), "a\nb %MIN% %ver%\r\n");
  // A file body is copied with the version only. A line ends at CR or CR LF;
  // a lone LF is part of the line; the last line needs no line end.
  EXPECT_EQ(MailFileBody("Hi %VER%\r\n%HLDY% a\\nb\r\n", kVer), "Hi 1.0.5\r\n%HLDY% a\\nb\r\n");
  EXPECT_EQ(MailFileBody("a\rb\r\n\r\nc\nd", kVer), "a\r\nb\r\n\r\nc\nd\r\n");
  EXPECT_EQ(MailFileBody("", kVer) + MailTextBody("", kVer), "\r\n");
  // Only an upper-case "FILE=" at the start names a body file.
  EXPECT_EQ(BodyFileName("FILE=notes\\xmas.txt"), "notes\\xmas.txt");
  EXPECT_EQ(BodyFileName("FILE="), "");
  for (const char* text : {"file=notes.txt", "FILE", " FILE=notes.txt"}) EXPECT_EQ(BodyFileName(text), std::nullopt);
  // A downloaded kalmora.ini must not mail the host's other files away.
  for (const char* inside : {"letter.txt", "notes\\letter.txt", "notes/a..b.txt", "..txt", ""}) {
    EXPECT_TRUE(IsInsideProgramDirectory(inside)) << inside;
  }
  for (const char* outside : {"..\\secret.txt", "notes\\..\\..\\x", "C:\\Windows\\win.ini", "\\\\server\\share\\x",
                              "/etc/passwd", "notes/..", "c:secret.txt"}) {
    EXPECT_FALSE(IsInsideProgramDirectory(outside)) << outside;
  }
}

}  // namespace
}  // namespace kalmora
