// The e-mail notice on the simulated host: the file body, blind copies, the
// failures that end a call before its pause, and the pause across midnight.
#include <gtest/gtest.h>

#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

const std::string kMessaging = "EmailAddress=it@example.com\nEmailSubject=Note\nEmailSender=kalmora@example.com\n";

TEST(Mail, FileBodiesWithBlindCopy) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Ini("ExitAfterCheck=1\n", "",
                               "24.12.####,\"Letter\",\"FILE=notes\\letter.txt\",team@example.com\n"
                               "24.12.####,\"Empty\",FILE=empty.txt,\n",
                               kMessaging + "EmailUseBcc=1\n"));
  dir.Write("notes/letter.txt", "Dear all,\r\nKalmora %VER% keeps %HLDY% %MIN% a\\nb\rend");
  dir.Write("empty.txt", "");
  SimRun run = RunSim(dir, {.start = "2026-12-24 10:00"});
  const std::string head = "From: kalmora@example.com\r\nTo: kalmora@example.com\r\nBcc: ";
  const std::string tail = "X-Mailer: Kalmora Service " + kVersionText +
                           "\r\nX-Kalmora-IniVersion: \r\nX-Kalmora-RunningAsService: 0\r\n\r\n";
  ASSERT_EQ(run.Of("mail").size(), 2u);
  EXPECT_EQ(run.Of("mail")[0]["text"], head + "team@example.com\r\nSubject: Letter\r\n" + tail +
                                           "Dear all,\r\nKalmora " + kVersionText +
                                           " keeps %HLDY% %MIN% a\\nb\r\nend\r\n");
  // An empty body file leaves the message ending with the headers' empty
  // line; the second call overwrote the message file.
  EXPECT_EQ(run.Of("mail")[1]["text"], head + "it@example.com\r\nSubject: Empty\r\n" + tail);
  EXPECT_EQ(dir.Read("mail.tmp"), run.Of("mail")[1]["text"]);
}

TEST(Mail, AFailedCallSkipsTheBatchFileAndThePause) {
  const std::string ini =
      Ini("ExitAfterCheck=1\n", "",
          "24.12.####,\"Missing\",FILE=missing.txt,\n24.12.####,\"Text\",\"file=missing.txt\",\n", kMessaging);
  // A missing body file: no batch file for that mail; a lower-case "file="
  // is text, so the second mail goes with its body as written.
  SimRun run = RunIni(ini, {.start = "2026-12-24 10:00"});
  EXPECT_EQ(run.Lines({"spawn", "exit"}),
            (Strings{"10:00:10.000 spawn system\\send.bat", "10:00:17.500 exit exit-timer"}));
  ASSERT_EQ(run.Of("mail").size(), 1u);
  EXPECT_NE(run.Of("mail")[0]["text"].get<std::string>().find("\r\n\r\nfile=missing.txt\r\n"), std::string::npos);
  // Without the batch file both calls end at once.
  run = RunIni(ini, {.start = "2026-12-24 10:00", .without = {"send.bat"}});
  EXPECT_EQ(run.Lines({"spawn", "mail", "exit"}),
            (Strings{"10:00:10.000 spawn system\\send.bat failed", "10:00:14.500 exit exit-timer"}));
}

TEST(Mail, ThePauseEndsOnElapsedTimeAcrossMidnight) {
  const std::string ini =
      Ini("ExitAfterCheck=1\n", "", "24.12.####,\"First\",\"One\",\n24.12.####,\"Second\",\"Two\",\n", kMessaging);
  EXPECT_EQ(RunIni(ini, {.start = "2026-12-24 23:59:48.500"}).Lines({"spawn", "exit"}),
            (Strings{"23:59:58.500 spawn system\\send.bat", "00:00:01.500 spawn system\\send.bat",
                     "00:00:09.000 exit exit-timer"}));
}

}  // namespace
}  // namespace kalmora::testing

namespace kalmora::testing {
namespace {

// What became of each notice, whatever send.bat and net did: every mail
// reaches send.bat once and in order, even when send.bat is slow; the log
// claims "has been sent" only for a notice whose program ended with 0.
TEST(Notices, TheLogTellsWhatBecameOfEachNotice) {
  const std::string ini = Ini(
      "ShutdownEnabled=1\nMsgOnShutdownEmail=1\nMsgOnShutdownNet=1\nExitAfterCheck=1\n", "24.12.#### = Christmas Eve\n",
      "24.12.####,One,a,\n24.12.####,Two,b,\n24.12.####,Three,c,\n", kMessaging + "NetAddress=office\n");
  const std::string sent = "An email has been sent to inform it@example.com.";
  const std::string net_sent = "A NET SEND message has been sent to inform office.";
  auto row_failed = [](int row, const std::string& subject, const std::string& why) {
    return "Kalmora: The message-holiday email of [MsgHolidays] row " + std::to_string(row) +
           " (24.12.####, subject \"" + subject + "\") to inform it@example.com " + why + ".";
  };
  const std::string status1 = "was handed to send.bat, which reported failure (status 1)";
  const std::string hung = "was handed to send.bat, which did not end within 60 s and was ended";
  const std::string missing =
      "could not be sent: send.bat could not be started (The system cannot find the file specified.)";
  const struct {
    const char* what;
    SimSetup setup;
    Strings mails;  // subjects as send.bat found them
    std::string notices;
    Strings errors;
  } cases[] = {
      {"slow send.bat", {.send_delay_ms = 5000}, {"One", "Two", "Three", "Christmas Eve"}, sent + " " + net_sent, {}},
      {"send.bat fails",
       {.exit_status = {{"send.bat", 1}}},
       {"One", "Two", "Three", "Christmas Eve"},
       "An email to inform it@example.com " + status1 + ". " + net_sent,
       {row_failed(1, "One", status1), row_failed(2, "Two", status1), row_failed(3, "Three", status1)}},
      {"send.bat hangs",
       {.send_delay_ms = 600000},
       {},
       "An email to inform it@example.com " + hung + ". " + net_sent,
       {row_failed(1, "One", hung), row_failed(2, "Two", hung), row_failed(3, "Three", hung)}},
      {"no send.bat",
       {.without = {"send.bat"}},
       {},
       "An email to inform it@example.com " + missing + ". " + net_sent,
       {row_failed(1, "One", missing), row_failed(2, "Two", missing), row_failed(3, "Three", missing)}},
      {"net fails",
       {.exit_status = {{"net", 2}}},
       {"One", "Two", "Three", "Christmas Eve"},
       sent + " A NET SEND message to inform office was handed to net, which reported failure (status 2).",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimSetup setup = c.setup;
    setup.start = "2026-12-24 10:00";
    SimRun run = RunIni(ini, setup);
    Strings subjects, errors;
    for (const auto& m : run.Of("mail")) {
      const std::string text = m["text"];
      const size_t at = text.find("Subject: ") + 9;
      subjects.push_back(text.substr(at, text.find('\r', at) - at));
    }
    std::string notices;
    for (const auto& e : run.Of("event")) {
      const std::string text = e["text"];
      if (e["type"] == 1) errors.push_back(text);
      if (text.rfind("Kalmora: Today is holiday", 0) != 0) continue;
      for (size_t at = text.find("\r\n\r\n"); at != std::string::npos; at = text.find("\r\n\r\n", at + 4)) {
        notices += (notices.empty() ? "" : " ") + text.substr(at + 4, text.find("\r\n", at + 4) - at - 4);
      }
    }
    EXPECT_EQ(subjects, c.mails);
    EXPECT_EQ(notices, c.notices);
    EXPECT_EQ(errors, c.errors);
  }
}

}  // namespace
}  // namespace kalmora::testing
