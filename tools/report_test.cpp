// The fleet report over a fleet simulated on the simulated host and
// exported as event XML: each outcome named right in every format, the
// hosts that need attention first, and the same report from the same events
// however they arrive (UTF-16, other providers between, twice, one cut off).
#include "tools/report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "config/rules.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using report::HostDay;

// Christmas Eve and the day after, a host a row: what its kalmora.ini and
// its day hold, and what the report must make of each day.
struct Host {
  std::string computer, general, more;  // [GeneralOptions] lines, more sections
  SimSetup day1;
  std::string first, second;  // outcomes; "" for a host not run on the 25th
};

std::string Fleet(const std::vector<Host>& hosts) {
  std::string xml;
  for (const Host& h : hosts) {
    const std::string ini =
        Ini("ShutdownEnabled=1\nShutdownDelay=1800\nDailyReport=1\n" + h.general, "24.12.#### = Christmas Eve\n") +
        Crlf(h.more);
    SimSetup one = h.day1;
    one.computer = h.computer;
    one.service = true;
    one.start = "2026-12-24 07:50";
    one.until = "2026-12-25 07:00";
    xml += report::SimulatedEventsXml(RunIni(ini, one).records, h.computer);
    if (h.second.empty()) continue;
    xml += report::SimulatedEventsXml(
        RunIni(ini, {.start = "2026-12-25 07:50", .service = true, .until = "2026-12-25 12:00", .computer = h.computer})
            .records,
        h.computer);
  }
  return xml;
}

std::vector<HostDay> Read(const std::string& bytes, std::vector<report::EventProblem>& problems,
                          const report::Options& o) {
  std::vector<report::ForwardedEvent> events;
  report::ReadEvents(bytes, "events.xml", events, problems);
  return report::Build(events, o);
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += {c, '\0'};
  return out;
}

TEST(Report, AFleetsOutcomesInEveryFormatHoweverTheEventsArrive) {
  using Kind = sim::Options::ClickKind;
  const sim::LocalMs eve = *sim::ParseTime("2026-12-24 00:00");
  const std::vector<Host> hosts = {
      {"PC-01",
       "",
       "[Desktop]\nCountdownWindow=1\nPostponeMinutes=30\n",
       {.sessions = {{"a", "MAYER", eve, eve + 86399000}}, .clicks = {{"a", eve + 8 * 3600000, Kind::Postpone}}},
       "halted",
       "no halt planned"},
      {"PC-02",
       "",
       "[Holds]\nWhileRunning=backup.exe\n",
       {.processes = {{"backup.exe", eve, eve + 2 * 86400000, 7004}}},
       "given up",
       "no halt planned"},
      {"PC-03", "ShutdownAction=shutdown\n", "", {.without = {"InitiateShutdownW"}}, "failed", "no halt planned"},
      {"PC-04", "MsgOnShutdownEmail=1\n", "", {.without = {"send.bat"}}, "halted", "no halt planned"},
      {"PC-05", "ShutdownAction=hibernate\n", "", {.wakes = {"2026-12-24 12:00"}}, "halted", ""},
  };
  const std::string xml = Fleet(hosts);
  std::vector<report::EventProblem> problems;
  const report::Options utc{.utc_offset_minutes = std::nullopt};
  const auto rows = Read(xml, problems, utc);
  EXPECT_TRUE(problems.empty());
  std::map<std::string, std::string> got;
  Strings order;
  for (const HostDay& r : rows) {
    got[r.computer + " " + r.date] = r.outcome;
    order.push_back(r.date + " " + r.computer + (r.attention() ? " !" : ""));
  }
  for (const Host& h : hosts) {
    EXPECT_EQ(got[h.computer + " 2026-12-24"], h.first) << h.computer;
    EXPECT_EQ(got[h.computer + " 2026-12-25"], h.second.empty() ? "silent" : h.second) << h.computer;
  }
  // Attention first on each day: the failed halt, the notice that failed,
  // the silent host.
  EXPECT_EQ(order, (Strings{"2026-12-24 PC-03 !", "2026-12-24 PC-04 !", "2026-12-24 PC-01", "2026-12-24 PC-02",
                            "2026-12-24 PC-05", "2026-12-25 PC-05 !", "2026-12-25 PC-01", "2026-12-25 PC-02",
                            "2026-12-25 PC-03", "2026-12-25 PC-04"}));
  const HostDay& postponed = rows[2];
  EXPECT_EQ(postponed.postponed_by, Strings{"session 1 (user MAYER)"});
  EXPECT_EQ(rows[3].waited_for, Strings{"backup.exe (process 7004) runs"});
  EXPECT_EQ(rows[4].action, "hibernate");
  EXPECT_NEAR(rows[4].hours_off.value_or(0), 12 - (8 + 22.0 / 60), 0.01);  // from 08:22 to the resume at 12:00

  // Every format says the same; JSON and CSV a line a row.
  const report::Options watts{.watts = 60.0};
  const std::string json = report::JsonLines(rows, watts), csv = report::Csv(rows, watts);
  size_t line = 0;
  std::istringstream lines(json), csv_lines(csv);
  std::string csv_header, csv_line;
  std::getline(csv_lines, csv_header);
  for (std::string l; std::getline(lines, l); ++line) {
    const auto j = nlohmann::json::parse(l);
    EXPECT_EQ(j["outcome"], rows[line].outcome);
    EXPECT_EQ(j["halted_at"].is_null(), rows[line].halted_at.empty());
    ASSERT_TRUE(std::getline(csv_lines, csv_line));
    EXPECT_NE(csv_line.find("," + rows[line].outcome + ","), std::string::npos) << csv_line;
  }
  EXPECT_EQ(line, rows.size());
  const std::string text = report::Text(rows, watts, {});
  EXPECT_NE(text.find("  ! PC-03  failed 08:22:00 (forced shutdown)"), std::string::npos) << text;
  EXPECT_NE(text.find("energy not used, estimated at 60.0 W a host"), std::string::npos);

  // The same events as PowerShell writes them, with another provider's
  // between them, each twice, the last one cut off: the same rows, and
  // the damage named.
  std::string noisy = "<Events>\r\n";
  for (size_t at = 0, end; (end = xml.find("</Event>", at)) != std::string::npos; at = end + 9) {
    const std::string event = xml.substr(at, end + 9 - at);
    noisy += event + event + ReplaceAll(event, "Name='Kalmora'", "Name='Backup'");
  }
  noisy += xml.substr(0, 200) + "\r\n</Events>";
  std::vector<report::EventProblem> damage;
  const auto again = Read(Utf16(noisy), damage, utc);
  EXPECT_EQ(report::JsonLines(again, watts), json);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0].what, "an event that is cut off");
  EXPECT_EQ(damage[0].line, static_cast<int>(std::count(noisy.begin(), noisy.end(), '\n')));
}

}  // namespace
}  // namespace kalmora::testing
