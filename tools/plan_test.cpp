// The plan of the bundled example over a year, in each format.
#include "tools/plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

#include "config/config.h"
#include "config/rules.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

const std::string kExample = std::string(KALMORA_SOURCE_DIR) + "/examples/program";

// The plan of `days` days from `from` for the program directory `dir`, or
// for this kalmora.ini beside a send.bat.
std::vector<plan::Day> Plan(const std::string& dir, const char* from, int days) {
  ScratchDir work;
  return plan::Run({.dir = dir, .work = work.path(), .from = *sim::ParseTime(from), .days = days});
}
std::vector<plan::Day> PlanOf(const std::string& ini, const char* from, int days) {
  ScratchDir dir;
  dir.Write("kalmora.ini", ini);
  dir.Write("system/send.bat", "");
  return Plan(dir.path(), from, days);
}

std::string ExampleIni() {
  std::ifstream example(kExample + "/kalmora.ini", std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
}

std::set<std::string> Uids(const std::string& ics) {
  std::set<std::string> uids;
  for (size_t at = ics.find("\r\nUID:"); at != std::string::npos; at = ics.find("\r\nUID:", at + 1)) {
    uids.insert(ics.substr(at + 6, ics.find("\r\n", at + 6) - at - 6));
  }
  return uids;
}

TEST(Plan, AYearOfTheBundledExample) {
  const auto days = Plan(kExample, "2027-01-01 00:00", 365);
  ASSERT_EQ(days.size(), 365u);
  std::set<std::string> shutdowns, mails;
  for (const auto& d : days) {
    if (!d.halt_at.empty()) shutdowns.insert(d.date + " " + d.shutdown + " " + d.name + " " + d.halt_at);
    for (const auto& m : d.mails) mails.insert(d.date + " " + m.subject);
    EXPECT_TRUE(d.errors.empty()) << d.date;
  }
  // Booted at 07:58: settled at 08:00:00.5, halted after the 180 s delay and
  // the next tick.
  EXPECT_EQ(shutdowns, (std::set<std::string>{"2027-12-24 holiday Christmas Eve 08:03:03",
                                              "2027-12-31 holiday New Year's Eve 08:03:03"}));
  EXPECT_EQ(mails, std::set<std::string>{"2027-12-23 Holidays ahead"});
  EXPECT_EQ(days[357].notices.at(0).to, "it-staff@example.com");
  const std::string ics = plan::Ics(days, "20270101T000000Z");
  EXPECT_NE(ics.find("DTSTART:20271224T080303\r\nDURATION:PT15M\r\nSUMMARY:Kalmora: shutdown (Christmas Eve)"),
            std::string::npos);
  EXPECT_NE(ics.find("SUMMARY:Kalmora: shutdown (New Year's Eve)"), std::string::npos);
  const std::string html = plan::Html(days);
  EXPECT_NE(html.find("<td id=\"d2027-12-24\" class=\"holiday\""), std::string::npos);
  EXPECT_NE(html.find("<td id=\"d2027-12-23\" class=\"mail\""), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
}

// Mail by SMTP plans the same mails, to the same people, as mail by send.bat,
// and a subject in the code page reads the same in UTF-8 either way (as
// mail.tmp holds it, or in encoded words).
TEST(Plan, MailBySmtpPlansTheSameMails) {
  auto json = [](const char* mail) {
    const std::string ini = ReplaceAll(ExampleIni(), "Holidays ahead", "Sch\xF6ne Feiertage \x96 bald");
    return plan::Json(PlanOf(ReplaceAll(ini, "EmailUseBcc=0", mail), "2027-12-22 00:00", 3));
  };
  const std::string plans[] = {json("EmailUseBcc=1"), json("EmailUseBcc=1\nSmtpServer=smtp://mail")};
  EXPECT_NE(plans[0].find("all@example.com"), std::string::npos) << plans[0];
  EXPECT_NE(plans[1].find("\"Sch\xC3\xB6ne Feiertage \xE2\x80\x93 bald\""), std::string::npos) << plans[1];
  EXPECT_NE(plans[0].find("it-staff@example.com"), std::string::npos) << plans[0];
  // Only the halt differs: send.bat's pause of 3 s is not needed by curl.
  EXPECT_EQ(plans[1], ReplaceAll(plans[0], "\"halt\": \"08:03:03\"", "\"halt\": \"08:03:00\""));
}

// The latest halt that postpones, work at the desk and holds can bring
// about, and what the halt does.
TEST(Plan, TheLatestHaltWithPeopleAtTheDeskAndHolds) {
  const struct {
    std::string general, desktop, latest, line;
  } cases[] = {
      {"", "", "", "shutdown at 08:30:00 (holiday Eve)\n"},
      {"", "CountdownWindow=1\nPostponeMinutes=30\nMaxPostpones=2\n", "09:30:00", ""},
      {"", "CountdownWindow=1\nPostponeMinutes=30\nMaxPostpones=2\nLatestShutdown=08:45\n", "08:45:00", ""},
      {"", "PostponeMinutes=30\n", "", ""},  // no window, no button
      {"", "IdleMinutes=10\nLatestShutdown=20:00\n", "20:00:00", ""},
      {"", "IdleMinutes=10\n", "given up", ""},
      {"ShutdownAction=hibernate\n", "LatestShutdown=21:00\n[Holds]\nWhileRunning=backup.exe\nWhileUpdating=1\n",
       "21:00:00",
       "(holiday Eve), action hibernate, at the latest 21:00:00 with postpones, work at the desk and holds, held "
       "while backup.exe or Windows updates run\n"},
      {"ShutdownAction=shutdown\n", "[Holds]\nWhileRunning=backup.exe\n", "given up",
       "action shutdown, or given up at midnight while the wait lasts, held while backup.exe runs\n"}};
  for (const auto& c : cases) {
    const std::string ini = Ini("ShutdownEnabled=1\nShutdownDelay=1800\n" + c.general, "24.12.#### = Eve\n");
    const auto days = PlanOf(ini + Crlf("[Desktop]\n" + c.desktop), "2026-12-24 00:00", 1);
    EXPECT_EQ(days.at(0).halt_at, "08:30:00");
    EXPECT_EQ(days.at(0).may_give_up ? "given up" : days.at(0).latest_at, c.latest) << c.desktop;
    EXPECT_NE(plan::Text(days).find(c.line), std::string::npos) << plan::Text(days);
  }
}

// A week of the example with weekend shutdowns and per-day times (20:00
// Monday to Thursday, 15:00 on Friday): each day of its own kind, weekends
// apart from holidays; the calendar's UIDs stay when a row is added, and
// the selections leave out what they should. Mail left to another computer
// is said so.
TEST(Plan, KindsOfAWeekUidsAndSelections) {
  const std::string ini =
      ReplaceAll(ReplaceAll(ReplaceAll(ExampleIni(), "WeekendShutdown=0", "WeekendShutdown=1"), "ScheduledShutdown=0",
                            "ScheduledShutdown=1\r\nScheduledShutdownTime=20:00\r\nScheduledShutdownTime5=15:00"),
                 "EmailUseBcc=0", "EmailUseBcc=0\r\nMsgHolidaysComputer=DESK-01");
  const auto week = PlanOf(ini, "2027-12-20 00:00", 7);
  const auto longer = PlanOf(ReplaceAll(ini, "24.12.####", "15.11.#### = Added\r\n24.12.####"), "2027-11-15 00:00", 42);
  Strings kinds;
  for (const auto& d : week) kinds.push_back(d.weekday + " " + d.shutdown + " " + d.warning_at + " " + d.halt_at);
  EXPECT_EQ(kinds, (Strings{"Mon scheduled 19:45:03 20:00:00", "Tue scheduled 19:45:03 20:00:00",
                            "Wed scheduled 19:45:03 20:00:00", "Thu scheduled 19:45:03 20:00:00",
                            "Fri holiday  08:03:03", "Sat weekend  08:03:00", "Sun weekend  08:03:00"}));
  EXPECT_TRUE(week[3].mails.empty());
  EXPECT_EQ(week[3].mails_sent_by + " " + std::to_string(week[3].mails_left), "DESK-01 1");
  EXPECT_NE(plan::Html(week).find("<td id=\"d2027-12-25\" class=\"weekend\""), std::string::npos);
  EXPECT_NE(plan::Text(week).find("2027-12-25 Sat  shutdown at 08:03:00 (weekend)"), std::string::npos);
  // A Friday that is no holiday has its own time; the added row is a holiday.
  EXPECT_EQ(longer[4].date + " " + longer[4].shutdown + " " + longer[4].halt_at, "2027-11-19 scheduled 15:00:00");
  EXPECT_EQ(longer[0].shutdown + " " + longer[0].name, "holiday Added");
  // Every event of the week is in the longer plan with one row more, under
  // the same UID; the added row's own event is new.
  const std::string ics = plan::Ics(week, "20270101T000000Z");
  const auto before = Uids(ics), after = Uids(plan::Ics(longer, "20270101T000000Z"));
  EXPECT_EQ(before.size(), 7u);
  EXPECT_TRUE(std::includes(after.begin(), after.end(), before.begin(), before.end()));
  EXPECT_NE(ics.find("DTSTAMP:20270101T000000Z\r\nDTSTART:20271225T080300\r\n"), std::string::npos);
  EXPECT_TRUE(plan::Select(week, {.weekends = false})[5].halt_at.empty());
  EXPECT_EQ(Uids(plan::Ics(plan::Select(week, {.mails = false}), "X")).size(), 7u);
  EXPECT_TRUE(Uids(plan::Ics(plan::Select(week, {.shutdowns = false}), "X")).empty());
}

// The online update runs only against a server given to the plan; without
// one the days leave it out and the text says so once.
TEST(Plan, TheUpdateOnlyWithAServer) {
  ScratchDir server, empty;
  server.Write("versions.idx.new", Crlf("[Versions]\nExeVersion=" + kVersionText + "\nIniVersion=0\n"));
  const std::string note = "The online update is on in kalmora.ini; this plan does not simulate it";
  const struct {
    std::string server_dir;  // none when empty
    bool updated, errors, note;
  } cases[] = {{"", false, false, true}, {server.path(), true, false, false}, {empty.path(), true, true, false}};
  ScratchDir dir, work;
  dir.Write("kalmora.ini", Ini("UpdateEnabled=1\nUpdateServer=http://127.0.0.1/u/\n"));
  for (const auto& c : cases) {
    const auto days = plan::Run({.dir = dir.path(),
                                 .work = work.path(),
                                 .from = *sim::ParseTime("2027-03-01 00:00"),
                                 .days = 2,
                                 .server_url = c.server_dir.empty() ? "" : "http://127.0.0.1/u/",
                                 .server_dir = c.server_dir});
    for (const auto& d : days) {
      EXPECT_EQ(d.updated, c.updated) << c.server_dir;
      EXPECT_EQ(!d.errors.empty(), c.errors) << c.server_dir;
    }
    const std::string text = plan::Text(days);
    EXPECT_EQ(text.find(note) != std::string::npos, c.note) << text;
    EXPECT_EQ(text.find(note), text.rfind(note));
  }
}

// Reading kalmora.ini is counted, not timed: a start reads it once and
// splits and parses it once, and a year's plan parses it once, so that a new
// key cannot quietly make every reading scan the whole file again.
TEST(Reading, OnceAStartAndOnceAPlan) {
  ScratchDir dir;
  std::string ini = ExampleIni();
  const std::string marker = "; counted " + std::to_string(ConfigurationParses()) + "\r\n";
  dir.Write("kalmora.ini", marker + ini);
  std::error_code ec;
  sim::CopyTree(kExample + "/system", dir.path() + "/system", ec);
  int parses = ConfigurationParses();
  const SimRun run = RunSim(dir, {.start = "2027-03-02 10:00"});
  EXPECT_EQ(std::pair(run.counts.at("read kalmora.ini"), run.counts.at("index kalmora.ini")), std::pair(1, 1));
  EXPECT_EQ(ConfigurationParses() - parses, 1);

  dir.Write("kalmora.ini", "; another\r\n" + marker + ini);
  parses = ConfigurationParses();
  EXPECT_EQ(Plan(dir.path(), "2027-01-01 00:00", 365).size(), 365u);
  EXPECT_EQ(ConfigurationParses() - parses, 1);
}

}  // namespace
}  // namespace kalmora::testing
