// The e-mail notice on the simulated host: body files, blind copies, calls
// that fail before send.bat, and what the log says became of each notice.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

const std::string kMessaging = "EmailAddress=it@example.com\nEmailSubject=Note\nEmailSender=kalmora@example.com\n";

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
  Strings mails, errors;
  for (const auto& m : run.Of("mail")) mails.push_back(m["text"]);
  for (const auto& e : run.Of("event")) errors.push_back(e["text"]);
  const std::string head = "From: kalmora@example.com\r\nTo: kalmora@example.com\r\nBcc: ";
  const std::string tail = "X-Mailer: Kalmora Service " + kVersionText +
                           "\r\nX-Kalmora-IniVersion: \r\nX-Kalmora-RunningAsService: 0\r\n\r\n";
  EXPECT_EQ(mails, (Strings{head + "team@example.com\r\nSubject: Letter\r\n" + tail + "Kalmora " + kVersionText +
                                "\r\n%HLDY% a\\nb\r\n",
                            head + "it@example.com\r\nSubject: Text\r\n" + tail + "file=missing.txt\r\n",
                            head + "it@example.com\r\nSubject: Empty\r\n" + tail}));
  // The message file is written before the body file is opened; what was
  // written stays.
  EXPECT_EQ(dir.Read("mail.tmp"), head + "it@example.com\r\nSubject: Missing\r\n" + tail);
  const std::string row = "Kalmora: The message-holiday email of [MsgHolidays] row ";
  EXPECT_EQ(errors, (Strings{row + "2 (24.12.####, subject \"Outside\") to inform it@example.com could not be sent: "
                                   "its body file ..\\letter.txt lies outside the program directory.",
                             row + "5 (24.12.####, subject \"Missing\") to inform it@example.com could not be sent: "
                                   "its body file missing.txt could not be read."}));
  // Three pauses of 3 s, ending on elapsed time across midnight, then the
  // exit timer.
  const std::string spawn = " spawn system\\send.bat";
  EXPECT_EQ(run.Lines({"spawn", "exit"}), (Strings{"23:59:58.500" + spawn, "00:00:01.500" + spawn,
                                                   "00:00:04.500" + spawn, "00:00:12.000 exit exit-timer"}));
}

// Every mail reaches send.bat once and in order, even when send.bat is slow;
// the log claims "has been sent" only for a notice whose program ended with
// 0, and each mail or NET SEND message that did not go out has an error entry.
TEST(Notices, TheLogTellsWhatBecameOfEachNotice) {
  const std::string ini = Ini("ShutdownEnabled=1\nMsgOnShutdownEmail=1\nMsgOnShutdownNet=1\nExitAfterCheck=1\n",
                              "24.12.#### = Christmas Eve\n", "24.12.####,1,a,\n24.12.####,2,b,\n24.12.####,3,c,\n",
                              kMessaging + "NetAddress=office\n");
  const std::string handed = "was handed to send.bat, which ";
  const struct {
    SimSetup setup;
    bool delivered;
    std::string mail_failed, net_failed, halt;  // why, when they failed; when the halt comes
  } cases[] = {
      // clang-format off
      {{.send_delay_ms = 5000}, true, "", "", "08:01:30"},
      {{.exit_status = {{"send.bat", 1}}}, true, handed + "reported failure (status 1)", "", "08:01:22"},
      {{.send_delay_ms = 600000}, false, handed + "did not end within 60 s and was ended", "", "08:05:10"},
      {{.without = {"send.bat"}}, false,
       "could not be sent: send.bat could not be started (The system cannot find the file specified.)", "", "08:01:10"},
      {{.exit_status = {{"net", 2}}}, true, "", "was handed to net, which reported failure (status 2)", "08:01:22"},
      // clang-format on
  };
  auto sentence = [](const std::string& what, const std::string& to, const std::string& failed) {
    return "\r\n\r\n" + what + (failed.empty() ? " has been sent to inform " + to : " to inform " + to + " " + failed) +
           ".";
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.halt);
    SimRun run = RunIni(ini, c.setup);  // from 07:58
    Strings errors, expected_errors;
    std::string mailed, notices;  // the first letter of each subject
    for (const auto& r : run.records) {
      const std::string text = r.value("text", "");
      if (r["kind"] == "mail") mailed += text.substr(text.find("Subject: ") + 9, 1);
      if (r["kind"] == "event" && r["type"] == 1) errors.push_back(text);
      if (text.rfind("Kalmora: Today is holiday", 0) == 0) notices = text.substr(text.find("\r\n\r\n"));
    }
    for (int row = 1; row <= 3 && !c.mail_failed.empty(); ++row) {
      expected_errors.push_back("Kalmora: The message-holiday email of [MsgHolidays] row " + std::to_string(row) +
                                " (24.12.####, subject \"" + std::to_string(row) + "\") to inform it@example.com " +
                                c.mail_failed + ".");
    }
    // A notice that did not go out has an error entry of its own too.
    const std::string notice = "Kalmora: The shutdown notice ";
    if (!c.mail_failed.empty()) {
      expected_errors.push_back(notice + "email of the holiday 'Christmas Eve' to inform it@example.com " +
                                c.mail_failed + ".");
    }
    if (!c.net_failed.empty()) {
      expected_errors.push_back(notice + "NET SEND message of the holiday 'Christmas Eve' to inform office " +
                                c.net_failed + ".");
    }
    EXPECT_EQ(mailed, c.delivered ? "123C" : "");
    EXPECT_EQ(notices, sentence("An email", "it@example.com", c.mail_failed) +
                           sentence("A NET SEND message", "office", c.net_failed));
    EXPECT_EQ(errors, expected_errors);
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
  const std::string down = "the mail server could not be reached (curl status 7)";
  const std::string blank = "SmtpServer=smtp://mail example holds a blank, quote or control character";
  const struct {
    std::string messaging;
    SimSetup setup;
    Strings delivered;             // subjects
    std::string why_one, why_two;  // why a row's mail did not go out
    size_t left;                   // .eml files
  } cases[] = {
      {messaging, {.send_delay_ms = 2000}, {"One", "Two"}, "", "", 0},
      {messaging,
       {.smtp_refused = {"boss@example.com"}},
       {"One"},
       "",
       "the mail server refused the sender, a recipient or the message (curl status 55)",
       1},
      {messaging, {.smtp_down = true}, {}, down, down, 2},
      {kMessaging + "SmtpServer=smtp://mail example\n", {}, {}, blank, blank, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why_two);
    ScratchDir dir;
    dir.Write("kalmora.ini", Ini("ExitAfterCheck=1\n", "", rows, c.messaging));
    SimRun run = RunSim(dir, c.setup);
    Strings delivered, errors, expected_errors;
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
    for (const auto& e : run.Of("event")) {
      if (e["type"] == 1) errors.push_back(e["text"]);
    }
    for (auto [n, to, why] : {std::tuple{"1 (24.12.####, subject \"One\")", "team", c.why_one},
                              {"2 (24.12.####, subject \"Two\")", "boss", c.why_two}}) {
      if (!why.empty()) {
        expected_errors.push_back("Kalmora: The message-holiday email of [MsgHolidays] row " + std::string(n) +
                                  " to inform " + to + "@example.com could not be sent: " + why + ".");
      }
    }
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(errors, expected_errors);
    EXPECT_EQ(ids.size(), delivered.size()) << "each mail its own Message-ID";
    // A mail the server took leaves no file; one it did not leaves its own.
    size_t left = 0;
    for (const auto& f : std::filesystem::directory_iterator(dir.path())) left += f.path().extension() == ".eml";
    EXPECT_EQ(left, c.left);
    EXPECT_FALSE(dir.Exists("mail.tmp"));
  }
}

}  // namespace
}  // namespace kalmora::testing
