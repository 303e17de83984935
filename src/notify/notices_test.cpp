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
  const std::string tail =
      "X-Mailer: Kalmora Service 1.0.5\r\nX-Kalmora-IniVersion: \r\nX-Kalmora-RunningAsService: 0\r\n\r\n";
  ASSERT_EQ(run.Of("mail").size(), 2u);
  EXPECT_EQ(run.Of("mail")[0]["text"], head + "team@example.com\r\nSubject: Letter\r\n" + tail +
                                           "Dear all,\r\nKalmora 1.0.5 keeps %HLDY% %MIN% a\\nb\r\nend\r\n");
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
