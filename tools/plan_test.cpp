// The plan of the bundled example over a year, in each format.
#include "tools/plan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "service/rules.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

const std::string kExample = std::string(KALMORA_SOURCE_DIR) + "/examples/program";

std::vector<plan::Day> Plan(const std::string& dir, const char* from, int days) {
  ScratchDir work;
  plan::Options o;
  o.dir = dir;
  o.work = work.path();
  o.from = *sim::ParseTime(from);
  o.days = days;
  return plan::Run(o);
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
  const std::string ics = plan::Ics(days);
  EXPECT_NE(ics.find("DTSTART:20271224T080303\r\nDURATION:PT15M\r\nSUMMARY:Kalmora: shutdown (Christmas Eve)"),
            std::string::npos);
  EXPECT_NE(ics.find("SUMMARY:Kalmora: shutdown (New Year's Eve)"), std::string::npos);
  const std::string html = plan::Html(days);
  EXPECT_NE(html.find("<td id=\"d2027-12-24\" class=\"holiday\""), std::string::npos);
  EXPECT_NE(html.find("<td id=\"d2027-12-23\" class=\"mail\""), std::string::npos);
  EXPECT_EQ(html.find("<script"), std::string::npos);
}

// Mail by SMTP plans the same mails, to the same people, as mail by send.bat.
TEST(Plan, MailBySmtpPlansTheSameMails) {
  std::ifstream example(kExample + "/kalmora.ini", std::ios::binary);
  const std::string ini((std::istreambuf_iterator<char>(example)), std::istreambuf_iterator<char>());
  std::string plans[2];
  for (int smtp = 0; smtp < 2; ++smtp) {
    ScratchDir dir;
    dir.Write("kalmora.ini",
              ReplaceAll(ini, "EmailUseBcc=0", smtp ? "EmailUseBcc=1\nSmtpServer=smtp://mail" : "EmailUseBcc=1"));
    plans[smtp] = plan::Json(Plan(dir.path(), "2027-12-22 00:00", 3));
  }
  EXPECT_NE(plans[0].find("all@example.com"), std::string::npos) << plans[0];
  EXPECT_NE(plans[0].find("it-staff@example.com"), std::string::npos) << plans[0];
  // Only the halt differs: send.bat's pause of 3 s is not needed by curl.
  EXPECT_EQ(plans[1], ReplaceAll(plans[0], "\"halt\": \"08:03:03\"", "\"halt\": \"08:03:00\""));
}

// The latest halt that postpones and work at the desk can bring about.
TEST(Plan, TheLatestHaltWithPeopleAtTheDesk) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"CountdownWindow=1\nPostponeMinutes=30\nMaxPostpones=2\n", "09:30:00"},
      {"CountdownWindow=1\nPostponeMinutes=30\nMaxPostpones=2\nLatestShutdown=08:45\n", "08:45:00"},
      {"PostponeMinutes=30\n", ""},  // no window, no button
      {"IdleMinutes=10\nLatestShutdown=20:00\n", "20:00:00"},
      {"IdleMinutes=10\n", "given up"}};
  for (const auto& [desktop, latest] : cases) {
    ScratchDir dir;
    dir.Write("kalmora.ini",
              Ini("ShutdownEnabled=1\nShutdownDelay=1800\n", "24.12.#### = Eve\n") + Crlf("[Desktop]\n" + desktop));
    const plan::Day d = Plan(dir.path(), "2026-12-24 00:00", 1).at(0);
    EXPECT_EQ(d.halt_at, "08:30:00");
    EXPECT_EQ(d.may_give_up ? "given up" : d.latest_at, latest) << desktop;
  }
}

}  // namespace
}  // namespace kalmora::testing
