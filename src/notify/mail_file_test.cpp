// The lines of mail.tmp and the NET SEND command line.
#include "notify/mail_file.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

TEST(MailHeaders, PlainToOrBlindCopy) {
  struct Case {
    MailHeaders h;
    const char* expected;
  } cases[] = {
      {{"kalmora@example.com", "0", "", false, "1.0.5"},
       "From: kalmora@example.com\r\nTo: it@example.com\r\nSubject: Christmas Eve\r\n"
       "X-Mailer: Kalmora Service 1.0.5\r\nX-Kalmora-IniVersion: \r\nX-Kalmora-RunningAsService: 0\r\n\r\n"},
      {{"kalmora@example.com", "1", "7", true, "1.0.5"},
       "From: kalmora@example.com\r\nTo: kalmora@example.com\r\nBcc: it@example.com\r\nSubject: Christmas Eve\r\n"
       "X-Mailer: Kalmora Service 1.0.5\r\nX-Kalmora-IniVersion: 7\r\nX-Kalmora-RunningAsService: 1\r\n\r\n"},
      // An empty sender is written as it is.
      {{"", "0", "", false, "1.0.5"},
       "From: \r\nTo: it@example.com\r\nSubject: Christmas Eve\r\n"
       "X-Mailer: Kalmora Service 1.0.5\r\nX-Kalmora-IniVersion: \r\nX-Kalmora-RunningAsService: 0\r\n\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(MailHeaderLines(c.h, "it@example.com", "Christmas Eve"), c.expected);
}

TEST(MailHeaders, BlindCopySwitch) {
  // Any number but 0 hides the recipient; so does text that is not a number.
  const std::pair<const char*, bool> cases[] = {{"0", false}, {" 0 ", false}, {"0.0", false}, {"", false},
                                                {"1", true},  {"-1", true},   {"2", true},    {"yes", true}};
  for (auto [value, bcc] : cases) EXPECT_EQ(UseBlindCopy(value), bcc) << '"' << value << '"';
}

TEST(MailHeaders, LineEndsInValuesCannotAddHeaders) {
  // A quoted message-holiday field may span lines in kalmora.ini.
  MailHeaders h{"kalmora@example.com\r\nBcc: sender-injected@example.com", "0", "", false, "1.0.5"};
  const std::string mail = MailHeaderLines(h, "it@example.com\r\nBcc: all@example.com", "Party\nBcc: x@example.com");
  EXPECT_EQ(mail.find("Bcc:"), std::string::npos) << mail;
  EXPECT_NE(mail.find("From: kalmora@example.com\r\nTo: it@example.com\r\nSubject: Party\r\n"), std::string::npos)
      << mail;
}

TEST(MailBody, TextBodyTurnsBackslashNIntoLineBreaks) {
  EXPECT_EQ(MailTextBody("one\\ntwo", "1.0.5"), "one\r\ntwo\r\n");
  EXPECT_EQ(MailTextBody("Kalmora %VER%\\n\\n%VER%", "1.0.5"), "Kalmora 1.0.5\r\n\r\n1.0.5\r\n");
  // A real line feed stays as it is; other placeholders are not ours to fill.
  EXPECT_EQ(MailTextBody("a\nb %MIN% %ver%", "1.0.5"), "a\nb %MIN% %ver%\r\n");
  EXPECT_EQ(MailTextBody("", "1.0.5"), "\r\n");
}

TEST(MailBody, FileBodyCopiesLinesWithVersionOnly) {
  EXPECT_EQ(MailFileBody("Hi %VER%\r\n%HLDY% %MIN% a\\nb\r\n", "1.0.5"), "Hi 1.0.5\r\n%HLDY% %MIN% a\\nb\r\n");
  // A line ends at CR or CR LF; a lone LF is part of the line; the last
  // line needs no line end; an empty line stays.
  EXPECT_EQ(MailFileBody("a\rb\r\n\r\nc\nd", "1.0.5"), "a\r\nb\r\n\r\nc\nd\r\n");
  EXPECT_EQ(MailFileBody("", "1.0.5"), "");
}

TEST(MailBody, OnlyUpperCaseFileNamesABodyFile) {
  EXPECT_EQ(BodyFileName("FILE=notes\\xmas.txt"), "notes\\xmas.txt");
  EXPECT_EQ(BodyFileName("FILE="), "");
  EXPECT_EQ(BodyFileName("file=notes.txt"), std::nullopt);
  EXPECT_EQ(BodyFileName("FILE"), std::nullopt);
  EXPECT_EQ(BodyFileName(" FILE=notes.txt"), std::nullopt);
}

TEST(NetSend, PlainConcatenation) {
  EXPECT_EQ(NetSendCommandLine("OFFICE", "Closing \"now\"\\nbye"), "net send OFFICE Closing \"now\"\\nbye");
  EXPECT_EQ(NetSendCommandLine("", "text"), "net send  text");
}

}  // namespace
}  // namespace kalmora
