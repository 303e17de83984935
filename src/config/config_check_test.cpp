// The checker on a file that holds every trap at once, on the bundled
// examples (clean), and against the service's own verdict.
#include "config/config_check.h"

#include <gtest/gtest.h>

#include "config/config.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using std::string_literals::operator""s;

Strings Check(const ScratchDir& dir, const std::string& name = "kalmora.ini") {
  DirectHost d(dir, "2026-12-24 10:00");
  Strings out;
  for (const Finding& f : CheckConfiguration(d.host, dir.path() + "/" + name, 1)) {
    out.push_back(std::to_string(f.line) + " " + f.rule->name);
  }
  return out;
}

TEST(Check, EveryTrapOnItsLine) {
  ScratchDir dir;
  dir.Write("kalmora.ini",
            Crlf("[GeneralOptions]\nVersion=1\nShutdownEnabled=yes\nShutdownEnable=1\nBeepOnShutdown=1\n"
                 "UpdateServer=http://updates.example.com/kal\nUpdateEnabled=1\nMsgOnShutdownNet=1\n"
                 "DontShutdownAfter=05:00\nShutdownDelay=3 min\nEmailAddress=x@example.com\nShutdownEnabled=1\n\n"
                 "[Messaging]\nEmailAdress=it@example.com\nEmailSubject=Gr\xC3\xBC\xC3\x9F"
                 "e\nSmtpServer=smtp://me@mail\n\n"
                 "[ScheduledShutdown]\nScheduledShutdown=1\nScheduledShutdownTime=7:30\nScheduledShutdownDays=1-5\n\n"
                 "[ShutdownHolidays]\n24.12.#### = Christmas Eve\n31.04.#### = Not a day\n24.12.26 = Short\n"
                 "2026-12-24 = ISO\n24.12.#### = Again\n; comment inside\n31.12.#### = New Year\n\n"
                 "[MsgHolidays]\n24.12.####,\"Merry\n\nChristmas, all\",Body,all@example.com\n23.12.####,Holidays, "
                 "with a comma,\"Body\",all@example.com\n; end\n"));
  EXPECT_EQ(Check(dir), (Strings{"0 missing-file",    "3 switch",          "4 unknown-key",      "5 beep",
                                 "6 update-server",   "6 plain-http",      "7 missing-file",     "8 no-address",
                                 "9 cut-off",         "10 number",         "11 wrong-section",   "12 duplicate-key",
                                 "15 unknown-key",    "16 utf8",           "17 smtp-server",     "17 smtp-server",
                                 "21 scheduled-time", "22 scheduled-days", "26 impossible-date", "27 date-form",
                                 "28 date-form",      "29 duplicate-date", "30 list-ended",      "37 shifted-fields",
                                 "38 unreadable"}));
}

TEST(Check, DesktopKeys) {
  const std::pair<std::string, Strings> cases[] = {
      {"CountdownWindow=1\nPostponeMinutes=30\nMaxPostpones=2\nIdleMinutes=10\nLatestShutdown=22:00\n", {}},
      {"CountdownWindow=yes\nPostponeMinutes=half\nIdleMinutes=-5\nLatestShutdown=10pm\n",
       {"17 switch", "18 desktop", "19 desktop", "20 desktop"}},
      {"PostponeMinutes=30\nLatestShutdown=17:00\n", {"17 desktop", "18 desktop"}}};
  for (const auto& [desktop, findings] : cases) {
    ScratchDir dir;
    dir.Write("kalmora.ini",
              Ini("ShutdownEnabled=1\n", "", "", "", "ScheduledShutdown=1\nScheduledShutdownTime=17:30\n") +
                  Crlf("[Desktop]\n" + desktop));
    EXPECT_EQ(Check(dir), findings) << desktop;
  }
}

// A file the checker rates 2 is exactly one the service refuses.
TEST(Check, AnErrorIsExactlyWhatTheServiceRefuses) {
  const std::string good = Ini("ShutdownEnabled=1\n", "24.12.#### = Eve\n");
  const std::string files[] = {good,
                               "",
                               "[GeneralOptions]\r\nVersion=one\r\n[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n",
                               good.substr(0, good.find("[MsgHolidays]")),
                               "[ShutdownHolidays]\r\n24.12.#### = Eve",
                               "\xFF\xFE[\0G\0e\0n\0"s,
                               Crlf("[ShutdownHolidays]\n\n[MsgHolidays]\n24.12.####,\"open\n"),
                               std::string(1000, '\0'),
                               Ini("Version=2\n")};
  for (const std::string& bytes : files) {
    ScratchDir dir;
    dir.Write("kalmora.ini", bytes);
    DirectHost d(dir, "2026-12-24 10:00");
    const bool refused = ParseConfiguration(d.host, dir.path() + "/kalmora.ini", 1).status != 0;
    EXPECT_EQ(CheckExitStatus(CheckConfiguration(d.host, dir.path() + "/kalmora.ini", 1)) == 2, refused) << bytes;
  }
}

TEST(Check, TheBundledExamplesAreClean) {
  for (const char* example : {"/examples/program", "/examples/sleeping-host"}) {
    sim::Options o;
    o.work_dir = std::string(KALMORA_SOURCE_DIR) + example;
    sim::World world(o);
    sim::SimHost host(world, "kalmora", "", false);
    EXPECT_TRUE(CheckConfiguration(host, o.work_dir + "/kalmora.ini", 1).empty()) << example;
  }
}

}  // namespace
}  // namespace kalmora::testing
