// The checker on a file that holds every trap at once, on the bundled
// examples (clean), and against the service's own verdict.
#include "check/config_check.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using std::string_literals::operator""s;

// The findings on this kalmora.ini, "LINE RULE", with these files beside it.
Strings Check(const std::string& ini, const std::map<std::string, std::string>& files = {}) {
  ScratchDir dir;
  dir.Write("kalmora.ini", ini);
  for (const auto& [name, bytes] : files) dir.Write(name, bytes);
  DirectHost d(dir, "2026-12-24 10:00");
  Strings out;
  for (const Finding& f : CheckConfiguration(d.host, dir.path() + "/kalmora.ini", 1)) {
    out.push_back(std::to_string(f.line) + " " + f.rule->name);
  }
  return out;
}

TEST(Check, EveryTrapOnItsLine) {
  const std::string ini = Crlf(
      "[GeneralOptions]\nVersion=1\nShutdownEnabled=yes\nShutdownEnable=1\nBeepOnShutdown=1\n"
      "UpdateServer=http://updates.example.com/kal\nUpdateEnabled=1\nMsgOnShutdownNet=1\n"
      "DontShutdownAfter=05:00\nShutdownDelay=5\nEmailAddress=x@example.com\nShutdownEnabled=1\n\n"
      "[Messaging]\nEmailAdress=it@example.com\nEmailSubject=Gr\xC3\xBC\xC3\x9F"
      "e\nSmtpServer=smtp://me@mail\nMsgHolidaysComputer=DESK-01\n\n"
      "[ScheduledShutdown]\nScheduledShutdown=1\nScheduledShutdownTime=7:30\nScheduledShutdownDays=1-5\n"
      "ScheduledShutdownTime5=1530\nScheduledShutdownTime6=10:00\nScheduledShutdownDelay=15 min\n\n"
      "[ShutdownHolidays]\n24.12.#### = Christmas Eve\n25.12.2025 = Last year\n31.04.#### = Not a day\n"
      "24.12.26 = Short\n2026-12-24 = ISO\n24.12.#### = Again\n; comment inside\n31.12.#### = New Year\n\n"
      "[MsgHolidays]\n24.12.####,\"Merry\n\nChristmas, all\",Body,all@example.com\n23.12.####,Holidays, "
      "with a comma,\"Body\",all@example.com\n; end\n");
  EXPECT_EQ(Check(ini), (Strings{"0 missing-file",     "3 switch",          "4 unknown-key",     "5 beep",
                                 "6 update-server",    "6 unsigned-http",   "7 missing-file",    "8 no-address",
                                 "9 cut-off",          "10 short-delay",    "11 wrong-section",  "12 duplicate-key",
                                 "15 unknown-key",     "16 utf8",           "17 smtp-server",    "17 smtp-server",
                                 "18 one-sender",      "22 scheduled-time", "23 scheduled-days", "24 scheduled-time",
                                 "25 unused-day-time", "26 number",         "30 past-year",      "31 impossible-date",
                                 "32 date-form",       "33 date-form",      "34 duplicate-date", "35 list-ended",
                                 "42 shifted-fields",  "43 unreadable"}));
}

// A mistake that stops the reading is named on the line to change: for a
// header read as the list's end, the row above it.
TEST(Check, WhereTheReadingStops) {
  ScratchDir dir;
  dir.Write("kalmora.ini", Crlf("[GeneralOptions]\nVersion=1\n\n[ShutdownHolidays]\n24.12.#### = Eve\n[MsgHolidays]\n"
                                "23.12.####,a,b,c@x\n; end\n"));
  DirectHost d(dir, "2026-12-24 10:00");
  Strings errors;
  for (const Finding& f : CheckConfiguration(d.host, dir.path() + "/kalmora.ini", 1)) {
    if (f.rule->severity == Severity::Error) errors.push_back(std::to_string(f.line) + " " + f.text);
  }
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].rfind("5 ", 0), 0u) << errors[0];
  EXPECT_NE(errors[0].find("no blank line between this row and [MsgHolidays]"), std::string::npos) << errors[0];
}

// A file the checker rates 2 is exactly one the service refuses.
TEST(Check, AnErrorIsExactlyWhatTheServiceRefuses) {
  const std::string good = Ini("ShutdownEnabled=1\n", "24.12.#### = Eve\n");
  const std::string files[] = {// clang-format off
      good, "", "[GeneralOptions]\r\nVersion=one\r\n[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n",
      good.substr(0, good.find("[MsgHolidays]")), "[ShutdownHolidays]\r\n24.12.#### = Eve", "\xFF\xFE[\0G\0e\0n\0"s,
      Crlf("[ShutdownHolidays]\n\n[MsgHolidays]\n24.12.####,\"open\n"), std::string(1000, '\0'), Ini("Version=2\n")};
  // clang-format on
  for (const std::string& bytes : files) {
    ScratchDir dir;
    dir.Write("kalmora.ini", bytes);
    DirectHost d(dir, "2026-12-24 10:00");
    const bool refused = ParseConfiguration(d.host, d.host, dir.path() + "/kalmora.ini", 1).status != 0;
    EXPECT_EQ(CheckExitStatus(CheckConfiguration(d.host, dir.path() + "/kalmora.ini", 1)) == 2, refused) << bytes;
  }
}

TEST(Check, TheBundledExamplesAreClean) {
  for (const char* example : {"/examples/program", "/examples/sleeping-host", "/examples/office-hours"}) {
    sim::Options o;
    o.work_dir = std::string(KALMORA_SOURCE_DIR) + example;
    sim::World world(o);
    sim::SimHost host(world, "kalmora", "", false);
    EXPECT_TRUE(CheckConfiguration(host, o.work_dir + "/kalmora.ini", 1).empty()) << example;
  }
}

// The [Desktop] keys; whether updates are signed, what plain http then
// costs, and a key file the service cannot use; a mail sender that can be
// no host's name.
TEST(Check, DesktopKeysSignedUpdatesAndTheMailSender) {
  // The curve's base point, a key the service can use; and (1, 1), well
  // formed but no point of the curve.
  auto pem = [](const std::string& point) {
    return "-----BEGIN PUBLIC KEY-----\nMFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE" + point + "\n-----END PUBLIC KEY-----\n";
  };
  const std::string good =
      pem("axfR8uEsQkf4vOblY6RA8ncDfYEt6zOg9KE5RdiYwpZP40Li/hp/m47n60p8D54WK84zV2sxXs7LtkBoN79R9Q==");
  const std::string off_curve =
      pem("AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAEAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAQ==");
  const std::string desktop = Ini("ShutdownEnabled=1\n", "", "", "",
                                  "ScheduledShutdown=1\nScheduledShutdownTime=17:30\nScheduledShutdownDays="
                                  "12345\nScheduledShutdownTime5=20:00\n") +
                              "[Desktop]\r\n";
  auto sender = [](const std::string& name) { return Ini("", "", "", "MsgHolidaysComputer=" + name + "\n"); };
  const std::string http = Ini("UpdateEnabled=1\nUpdateServer=http://u.example/\n"),
                    https = Ini("UpdateEnabled=1\nUpdateServer=https://u.example/\n");
  const struct {
    std::string ini, key_file;  // no key file when empty
    Strings findings;
  } cases[] = {
      // clang-format off
      {desktop + Crlf("CountdownWindow=1\nPostponeMinutes=30\nMaxPostpones=2\nIdleMinutes=10\nLatestShutdown=22:00\n"),
       "", {}},
      {desktop + Crlf("CountdownWindow=yes\nPostponeMinutes=half\nIdleMinutes=-5\nLatestShutdown=10pm\n"), "",
       {"19 switch", "20 desktop", "21 desktop", "22 desktop"}},
      {desktop + Crlf("PostponeMinutes=30\nLatestShutdown=17:00\n"), "", {"19 desktop", "20 desktop", "20 desktop"}},
      // A weekday's own time counts as much as the common one; a hold
      // names programs by file name and wants a latest time.
      {desktop + Crlf("LatestShutdown=19:30\n[Holds]\nWhileRunning=backup.exe\nWhileUpdating=1\n"), "", {"19 desktop"}},
      {Ini("ShutdownAction=standby\n") + Crlf("[Holds]\nWhileRunning=C:\\tools\\backup.exe, ok.EXE, rob*.exe\n"), "",
       {"3 shutdown-action", "15 hold-program", "15 hold-program", "15 hold-no-latest"}},
      {http, "", {"4 unsigned-http"}}, {https, "", {"3 unsigned"}}, {http, good, {"3 signed"}},
      {Ini("UpdateEnabled=0\nUpdateServer=http://u.example/\n"), "", {"4 plain-http"}},
      {https, "garbage", {"0 update-key"}}, {https, off_curve, {"0 update-key"}},
      {https, good.substr(0, 60), {"0 update-key"}},
      // A computer name, a DNS name (its host part may be longer than a
      // computer name), and what neither can be.
      {sender("DESK-01"), "", {"5 one-sender"}}, {sender("a-long-host-name.buero.example."), "", {"5 one-sender"}},
      {sender("pc_empfang"), "", {"5 one-sender"}}, {sender("a-long-host-name"), "", {"5 one-sender"}},
      {sender("\\\\DESK-01"), "", {"5 no-such-host"}}, {sender("PC EMPFANG"), "", {"5 no-such-host"}},
      {sender("desk..example"), "", {"5 no-such-host"}}, {sender(std::string(64, 'a') + ".example"), "",
      {"5 no-such-host"}}, {sender("DESK-01/office"), "", {"5 no-such-host"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::map<std::string, std::string> files = {{"system/curl.exe", ""}};
    if (!c.key_file.empty()) files["system/update-key.pem"] = c.key_file;
    EXPECT_EQ(Check(c.ini, files), c.findings) << c.ini << c.key_file;
  }
}

}  // namespace
}  // namespace kalmora::testing
