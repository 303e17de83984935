// The mail: the lines of mail.tmp and the body file's place, the message as
// the mail server gets it, and what may reach curl's command line. (The NET
// SEND command line: the decision tests.)
#include "notify/mail_file.h"

#include <gtest/gtest.h>

#include "config/numbers.h"
#include "notify/smtp.h"

namespace kalmora {
namespace {

using Strings = std::vector<std::string>;

const std::string kVer = "1.0.5";
const std::string kMime =
    "X-Kalmora-Computer: DESK-7\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=windows-1252\r\n"
    "Content-Transfer-Encoding: ";

std::string Repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

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

TEST(Smtp, EnvelopeAndMessageFromTheComposedMail) {
  const struct {
    std::string composed;
    std::string sender;
    Strings recipients;
    std::string message_or_failure;
  } cases[] = {
      // clang-format off
      // The Bcc line leaves the message but its address joins the envelope;
      // bare line ends in the body become CR LF.
      {"From: k@x.org\r\nTo: k@x.org\r\nBcc: a@y.org\r\nSubject: s\r\n\r\none\ntwo\rthree\r\n", "k@x.org",
       {"k@x.org", "a@y.org"}, "From: k@x.org\r\nTo: k@x.org\r\nSubject: s\r\nDate: D\r\nMessage-ID: M\r\n" + kMime +
       "7bit\r\n\r\none\r\ntwo\r\nthree\r\n"},
      // Lists, display names and a repeated address, which is sent once.
      {"From: Kalmora <k@x.org>\r\nTo: a@y.org; Team B <b@y.org>, ,A@Y.ORG\r\nCc: c@z.org\r\n\r\n", "k@x.org",
       {"a@y.org", "b@y.org", "c@z.org"}, "From: Kalmora <k@x.org>\r\nTo: a@y.org; Team B <b@y.org>, ,A@Y.ORG\r\nCc: "
       "c@z.org\r\nDate: D\r\nMessage-ID: M\r\n" + kMime + "7bit\r\n\r\n"},
      // 8-bit text: the subject as encoded words, the body quoted-printable
      // (blanks before a line end and "=" escaped), as is a long ASCII line.
      {"From: k@x.org\r\nTo: a@y.org\r\nSubject: Drei K\xF6nige \r\n\r\nK\xF6nig=1 \r\n", "k@x.org", {"a@y.org"},
       "From: k@x.org\r\nTo: a@y.org\r\nSubject: =?windows-1252?Q?Drei_K=F6nige_?=\r\nDate: D\r\nMessage-ID: M\r\n" +
       kMime + "quoted-printable\r\n\r\nK=F6nig=3D1=20\r\n"},
      {"From: k@x.org\r\nTo: a@y.org\r\n\r\n" + std::string(999, 'a'), "k@x.org", {"a@y.org"}, "From: k@x.org\r\nTo: "
       "a@y.org\r\nDate: D\r\nMessage-ID: M\r\n" + kMime + "quoted-printable\r\n\r\n" +
       Repeat(std::string(75, 'a') + "=\r\n", 13) + std::string(24, 'a')},
      // What could break the command line, or leaves the server nobody.
      {"From: k@x.org\r\nTo: a b@y.org\r\n\r\n", "", {}, "a b@y.org"},
      {"From: k@x.org\r\nTo: \"a\"@y.org\r\n\r\n", "", {}, "\"a\"@y.org"},
      {"From: k@x.org\r\nTo: -K@y.org\r\n\r\n", "", {}, "\"-K@y.org\""},
      {"From: k@x.org\r\nTo: A <a@y.org\r\n\r\n", "", {}, "no closing"},
      {"From: k@x.org\r\nBcc: a@y.org\tb@y.org\r\n\r\n", "", {}, "a@y.org\tb@y.org"},
      {"From: \r\nTo: a@y.org\r\n\r\n", "", {}, "no sender"}, {"From: k@x.org\r\nTo: \r\n\r\n", "", {}, "no recipient"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.composed);
    auto mail = PrepareSmtpMail(c.composed, {"D", "M", "DESK-7", "windows-1252"});
    if (c.sender.empty()) {
      ASSERT_FALSE(mail);
      EXPECT_NE(mail.reason().find(c.message_or_failure), std::string::npos) << mail.reason();
      continue;
    }
    ASSERT_TRUE(mail) << mail.reason();
    EXPECT_EQ(mail->sender, c.sender);
    EXPECT_EQ(mail->recipients, c.recipients);
    EXPECT_EQ(mail->message, c.message_or_failure);
  }
}

// Encoded words never run past 75 characters nor split a character of the
// code page; quoted-printable lines never past 76. Decoded, the words give
// the text again, in UTF-8.
TEST(Smtp, EncodedWordsAndQuotedPrintableLines) {
  const struct {
    std::string value, charset, header, shown;
  } headers[] = {
      {"Plain text", "windows-1252", "Subject: Plain text\r\n", "Plain text"},
      {std::string(30, '\xE4'), "windows-1252",
       "Subject: =?windows-1252?Q?" + Repeat("=E4", 16) + "?=\r\n =?windows-1252?Q?" + Repeat("=E4", 14) + "?=\r\n",
       Repeat("\xC3\xA4", 30)},
      {Repeat("\xC3\xA4", 20), "utf-8",
       "Subject: =?utf-8?Q?" + Repeat("=C3=A4", 9) + "?=\r\n =?utf-8?Q?" + Repeat("=C3=A4", 10) + "?=\r\n =?utf-8?Q?" +
           Repeat("=C3=A4", 1) + "?=\r\n",
       Repeat("\xC3\xA4", 20)},
      // windows-1252's own characters; "_" and "?" escaped.
      {"\x80 5 \x93"
       "Drei K\xF6nige\x94 a_b?",
       "windows-1252", "Subject: =?windows-1252?Q?=80_5_=93Drei_K=F6nige=94_a=5Fb=3F?=\r\n",
       "\xE2\x82\xAC 5 \xE2\x80\x9C"
       "Drei K\xC3\xB6nige\xE2\x80\x9D a_b?"},
  };
  for (const auto& h : headers) {
    const std::string header = EncodedHeader("Subject", h.value, h.charset);
    EXPECT_EQ(header, h.header);
    EXPECT_EQ(DecodedHeader(std::string_view(header).substr(9, header.size() - 11), h.charset), h.shown);
  }
  // What other mail programs write: B words, lower case, blanks between
  // words of text; and what is left as it is.
  const std::pair<std::string, std::string> written[] = {
      // clang-format off
      {"=?UTF-8?B?SGVpbGlnZSBEcmVpIEvDtm5pZ2U=?=", "Heilige Drei K\xC3\xB6nige"},
      {"Re: =?iso-8859-1?q?caf=E9?= =?us-ascii?Q?_ok?= now", "Re: caf\xC3\xA9 ok now"},
      {"K\xF6nige =?utf-8?Q?x?=", "K\xC3\xB6nige x"},  // 8-bit text in the code page
      {"=?koi8-r?Q?=E1?= =?utf-8?Q?bad=G0?= =?utf-8?X?a?= =?utf-8?Q?open", "=?koi8-r?Q?=E1?= =?utf-8?Q?bad=G0?= "
       "=?utf-8?X?a?= =?utf-8?Q?open"},
      // clang-format on
  };
  for (const auto& [value, shown] : written) EXPECT_EQ(DecodedHeader(value, "windows-1252"), shown) << value;
  EXPECT_EQ(CharsetOfCodePage(1252), "windows-1252");
  EXPECT_EQ(CharsetOfCodePage(28592), "iso-8859-2");
  EXPECT_EQ(CharsetOfCodePage(932), "shift_jis");
  EXPECT_EQ(QuotedPrintable("a\tb\t\r\n" + std::string(74, 'x') + "\xFC"),
            "a\tb=09\r\n" + std::string(74, 'x') + "=\r\n=FC");
}

TEST(Smtp, ServerDateIdAndCommandLine) {
  const std::pair<std::string, bool> servers[] = {
      // clang-format off
      {"smtp://mail.example.com", true}, {"SMTPS://mail:465", true}, {"smtp://[::1]:25/helo.example", true},
      {"mail.example.com", false}, {"smtp://", false}, {"smtp://user:pw@mail", false}, {"smtp://mail:0", false},
      {"smtp://mail:65536", false}, {"smtp://mail:25x", false}, {"smtp://mail example", false},
      {"smtp://mail\"-K\"x", false}, {"http://mail", false},
      // clang-format on
  };
  for (const auto& [server, usable] : servers) EXPECT_EQ(!SmtpServerProblem(server), usable) << server;
  EXPECT_EQ(SmtpServerProblem("smtp://user:pw@mail")->find("pw"), std::string::npos);

  const LocalTime t{2026, 12, 7, 1, 9, 5, 3, 42};
  EXPECT_EQ(MailDate(t, 60), "Mon, 07 Dec 2026 09:05:03 +0100");
  EXPECT_EQ(MailDate(LocalTime{2027, 1, 3, 7, 23, 0, 0, 0}, -330), "Sun, 03 Jan 2027 23:00:00 -0530");
  EXPECT_EQ(MailMessageId(t, 2, "DESK 042", "Kalmora <kalmora@corp.example>"),
            "<20261207090503.042.2.DESK042@corp.example>");
  EXPECT_EQ(MailMessageId(t, 3, "", "kalmora"), "<20261207090503.042.3@localhost>");

  const SmtpMail mail{"k@x.org", {"a@y.org", "b@y.org"}, ""};
  EXPECT_EQ(SmtpCommandLine({"smtp://mail:587", false, true, "m.eml"}, mail),
            "system\\curl -s -K system\\smtp.cfg --url smtp://mail:587 --ssl --mail-from k@x.org --mail-rcpt a@y.org "
            "--mail-rcpt b@y.org -T m.eml");
  EXPECT_NE(SmtpCommandLine({"smtp://mail", true, false, "m.eml"}, mail).find(" --ssl-reqd "), std::string::npos);
  EXPECT_EQ(SmtpCommandLine({"smtps://mail", true, false, "m.eml"}, mail).find("--ssl"), std::string::npos);
}

}  // namespace
}  // namespace kalmora
