// The e-mail notice on the simulated host: body files, blind copies, calls
// that fail before send.bat, and what the log says became of each notice.
#include "notify/notices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

const std::string kMessaging = "EmailAddress=it@example.com\nEmailSubject=Note\nEmailSender=kalmora@example.com\n";
const std::string kRow = "Kalmora: The message-holiday email of [MsgHolidays] row ";

// Body files are read relative to the program directory; a call that fails
// before send.bat (no body file, or one outside the directory) skips the
// batch file and its pause and leaves an error entry naming the row; a
// lower-case "file=" is text.
TEST(Mail, BodyFilesAndCallsThatFailBeforeSendBat) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Ini("ExitAfterCheck=1\n", "",
                               "24.12.####,\"Letter\",\"FILE=notes\\letter.txt\",team@example.com\n"
                               "24.12.####,Outside,FILE=..\\letter.txt,\n24.12.####,\"Text\",\"file=missing.txt\",\n"
                               "24.12.####,\"Empty\",FILE=empty.txt,\n24.12.####,Missing,FILE=missing.txt,\n",
                               kMessaging + "EmailUseBcc=1\n"));
  dir.Write("notes/letter.txt", "Kalmora %VER%\r\n%HLDY% a\\nb");
  dir.Write("empty.txt", "");
  SimRun run = RunSim(dir, {.start = "2026-12-24 23:59:48.500"});
  const std::string head = "From: kalmora@example.com\r\nTo: kalmora@example.com\r\nBcc: ";
  const std::string tail = "X-Mailer: Kalmora Service " + kVersionText +
                           "\r\nX-Kalmora-IniVersion: \r\nX-Kalmora-RunningAsService: 0\r\n\r\n";
  EXPECT_EQ(run.Texts("mail"), (Strings{head + "team@example.com\r\nSubject: Letter\r\n" + tail + "Kalmora " +
                                            kVersionText + "\r\n%HLDY% a\\nb\r\n",
                                        head + "it@example.com\r\nSubject: Text\r\n" + tail + "file=missing.txt\r\n",
                                        head + "it@example.com\r\nSubject: Empty\r\n" + tail}));
  // The message file is written before the body file is opened; what was
  // written stays.
  EXPECT_EQ(dir.Read("mail.tmp"), head + "it@example.com\r\nSubject: Missing\r\n" + tail);
  EXPECT_EQ(run.Texts("event"),
            (Strings{kRow + "2 (24.12.####, subject \"Outside\") to inform it@example.com could not be sent: "
                            "its body file ..\\letter.txt lies outside the program directory.",
                     kRow + "5 (24.12.####, subject \"Missing\") to inform it@example.com could not be sent: "
                            "its body file missing.txt could not be read."}));
  // Three pauses of 3 s, ending on elapsed time across midnight, then the
  // exit timer.
  const std::string spawn = " spawn system\\send.bat";
  EXPECT_EQ(run.Lines({"spawn", "exit"}), (Strings{"23:59:58.500" + spawn, "00:00:01.500" + spawn,
                                                   "00:00:04.500" + spawn, "00:00:12.000 exit exit-timer"}));
}

// Every mail reaches send.bat once and in order, even when send.bat is slow;
// the log claims "has been sent" only for a notice whose program ended with
// 0, and each mail or NET SEND message that did not go out has an error entry
// that says why, as the holiday's entry does.
TEST(Notices, TheLogTellsWhatBecameOfEachNotice) {
  const std::string ini = Ini("ShutdownEnabled=1\nMsgOnShutdownEmail=1\nMsgOnShutdownNet=1\nExitAfterCheck=1\n",
                              "24.12.#### = Christmas Eve\n", "24.12.####,1,a,\n24.12.####,2,b,\n24.12.####,3,c,\n",
                              kMessaging + "NetAddress=office\n");
  const std::string mail = "An email to inform it@example.com ",
                    net = "||A NET SEND message has been sent to inform office.";
  const std::string holiday = " of the holiday 'Christmas Eve'";
  const Strings mail_errors = {kRow + "1 (24.12.####, subject \"1\")", kRow + "2 (24.12.####, subject \"2\")",
                               kRow + "3 (24.12.####, subject \"3\")", "Kalmora: The shutdown notice email" + holiday};
  const struct {
    SimSetup setup;
    std::string mailed, notices;  // the first letter of each subject; the holiday entry after its first paragraph
    Strings errors;               // each error entry up to " to inform "
    std::string halt;
  } cases[] = {
      // clang-format off
      {{.send_delay_ms = 5000}, "123C", "An email has been sent to inform it@example.com." + net, {}, "08:01:30"},
      {{.exit_status = {{"send.bat", 1}}}, "123C", mail + "was handed to send.bat, which reported failure (status 1)." +
       net, mail_errors, "08:01:22"},
      {{.send_delay_ms = 600000}, "", mail + "was handed to send.bat, which did not end within 60 s and was ended." +
       net, mail_errors, "08:05:10"},
      {{.without = {"send.bat"}}, "", mail + "could not be sent: send.bat could not be started (The system cannot find "
       "the file specified.)." + net, mail_errors, "08:01:10"},
      {{.exit_status = {{"net", 2}}}, "123C", "An email has been sent to inform it@example.com.||A NET SEND message to "
       "inform office was handed to net, which reported failure (status 2).",
       {"Kalmora: The shutdown notice NET SEND message" + holiday}, "08:01:22"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.halt);
    SimRun run = RunIni(ini, c.setup);  // from 07:58
    std::string mailed, notices;
    for (const std::string& m : run.Texts("mail")) mailed += m.substr(m.find("Subject: ") + 9, 1);
    for (const std::string& line : run.Brief({"event"})) {
      if (line.find("Today is holiday") != std::string::npos) notices = line.substr(line.find("||") + 2);
    }
    // Each error entry gives the reason the holiday's entry gives.
    Strings errors;
    for (const std::string& e : run.Texts("event", 1)) {
      errors.push_back(e.substr(0, e.rfind(" to inform ")));
      EXPECT_NE((notices + "||").find(e.substr(e.rfind(" to inform ")) + "||"), std::string::npos) << e;
    }
    EXPECT_EQ(mailed, c.mailed);
    EXPECT_EQ(notices, c.notices);
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(run.Lines({"exit"}), Strings{c.halt + ".000 exit halt"});
  }
}

// With SmtpServer set, each mail goes to the mail server through curl: two
// mails due at once both arrive, once each; the Bcc recipient is in the
// envelope only; the message names the computer; the log says "has been
// sent" only for a mail the server took, and a mail that did not go out
// keeps its file.
TEST(Notices, SmtpMailIsSentByCurlAndJudgedByItsStatus) {
  const std::string messaging = kMessaging + "EmailUseBcc=1\nSmtpServer=smtp://mail.example.com:587\n";
  const std::string rows = "24.12.####,One,a\\nb,team@example.com\n24.12.####,Two,c,boss@example.com\n";
  const std::string one = kRow + "1 (24.12.####, subject \"One\") to inform team@example.com could not be sent: ",
                    two = kRow + "2 (24.12.####, subject \"Two\") to inform boss@example.com could not be sent: ";
  const std::string down = "the mail server could not be reached (curl status 7).";
  const std::string blank = "SmtpServer=smtp://mail example holds a blank, quote or control character.";
  const struct {
    std::string messaging;
    SimSetup setup;
    Strings delivered, errors;  // subjects; error entries
    size_t left;                // .eml files
  } cases[] = {
      // clang-format off
      {messaging, {.send_delay_ms = 2000}, {"One", "Two"}, {}, 0},
      {messaging, {.smtp_refused = {"boss@example.com"}}, {"One"},
       {two + "the mail server refused the sender, a recipient or the message (curl status 55)."}, 1},
      {messaging, {.smtp_down = true}, {}, {one + down, two + down}, 2},
      {kMessaging + "SmtpServer=smtp://mail example\n", {}, {}, {one + blank, two + blank}, 0},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.messaging);
    ScratchDir dir;
    dir.Write("kalmora.ini", Ini("ExitAfterCheck=1\n", "", rows, c.messaging));
    SimRun run = RunSim(dir, c.setup);
    Strings delivered;
    std::set<std::string> ids;
    for (const auto& m : run.Of("smtp")) {
      const std::string text = m["text"];
      const bool one = text.find("Subject: One") != std::string::npos;
      delivered.push_back(one ? "One" : "Two");
      EXPECT_EQ(m["from"], "kalmora@example.com");
      EXPECT_EQ(m["rcpt"], (sim::Record{"kalmora@example.com", one ? "team@example.com" : "boss@example.com"}));
      EXPECT_NE(text.find("\r\nDate: Thu, 24 Dec 2026 07:58:"), std::string::npos) << text;
      EXPECT_NE(text.find("\r\nX-Kalmora-Computer: SIMHOST\r\nMIME-Version: 1.0\r\n"), std::string::npos) << text;
      EXPECT_NE(text.find(one ? "\r\n\r\na\r\nb\r\n" : "\r\n\r\nc\r\n"), std::string::npos) << text;
      ids.insert(text.substr(text.find("Message-ID: <"), 60));
    }
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(run.Texts("event", 1), c.errors);
    EXPECT_EQ(ids.size(), delivered.size()) << "each mail its own Message-ID";
    // A mail the server took leaves no file; one it did not leaves its own.
    size_t left = 0;
    for (const auto& f : std::filesystem::directory_iterator(dir.path())) left += f.path().extension() == ".eml";
    EXPECT_EQ(left, c.left);
    EXPECT_FALSE(dir.Exists("mail.tmp"));
  }
}

// MsgHolidaysComputer by the computer name or the DNS name, in any case.
TEST(Mail, TheComputerThatSendsToAll) {
  const std::pair<const char*, bool> names[] = {{"desk-042", true},
                                                {"DESK-042.Office.Example.", true},
                                                {"desk-042.office", false},
                                                {"office.example", false},
                                                {"desk-0", false}};
  for (const auto& [name, sends] : names) EXPECT_EQ(NamesThisHost(name, "DESK-042", "desk-042.office.example"), sends);
}

}  // namespace
}  // namespace kalmora::testing
