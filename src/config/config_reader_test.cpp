// The reader of kalmora.ini: the simulated host's INI lookup beneath it (its
// cases are checked against the system's own lookup under Wine too), the
// version rules, the two list sections and damaged files. (Each key in its
// section with its default: the timelines of the decision, the desk and the
// checker; what frmMain logs: the start-up tests.)
#include <gtest/gtest.h>

#include "config/config.h"
#include "host/sim/profile_lookup.h"
#include "profile_lookup_cases.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;

ConfigReadResult Read(const std::string& bytes) {
  ScratchDir dir;
  DirectHost direct(dir, "2026-12-24 07:58");
  dir.Write("kalmora.ini", bytes);
  return ParseConfiguration(direct.host, direct.host, dir.path() + "/kalmora.ini", 1);
}

// The rows of both lists, "date|descr" and "date|subject|body|address".
Rows AllRows(const HolidayTables& t) {
  Rows out;
  for (size_t i = 0; i < t.lstShutdownHolidaysDates.size(); ++i) {
    out.push_back(t.lstShutdownHolidaysDates[i].text + "|" + t.lstShutdownHolidaysDescr.at(i));
  }
  for (size_t i = 0; i < t.lstMsgHolidaysDates.size(); ++i) {
    out.push_back(t.lstMsgHolidaysDates[i].text + "|" + t.lstMsgHolidaysSubject.at(i) + "|" +
                  t.lstMsgHolidaysBody.at(i) + "|" + t.lstMsgHolidaysAddress.at(i));
  }
  return out;
}

const std::string kLists = "\r\n[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n";

TEST(Lookup, GivesWhatTheSystemGives) {
  for (const ProfileCase& c : ProfileCases()) {
    EXPECT_EQ(LookupProfileString(c.file, c.section, c.key, c.default_value, 750), c.expected)
        << (c.file ? c.file->substr(0, 60) : "(no file)") << " [" << c.section << "] " << c.key;
  }
}

TEST(Reader, VersionWarnsOrFails) {
  const std::tuple<std::string, int, bool> cases[] = {
      // the line, the status, whether it warns
      // clang-format off
      {"", 0, true}, {"Version=1", 0, false}, {"VERSION = 1.0 ", 0, false}, {"Version=-1", 0, false},
      {"Version=2", 0, true}, {"Version=0", 0, true}, {"Version=1.5", 0, true}, {"Version", 0, true},
      {"Version=abc", 1, false}, {"Version=", 1, false}, {"Version=\"\"", 1, false}, {"Version=1 0", 1, false},
      // clang-format on
  };
  for (const auto& [line, status, warning] : cases) {
    const ConfigReadResult r = Read("[GeneralOptions]\r\n" + line + "\r\nShutdownEnabled=1\r\n" + kLists);
    // After the warning everything else is read; after a failure nothing, and
    // the failure says why.
    EXPECT_EQ(std::tuple(r.status, r.incompatible_version, r.failure.empty(), r.values->ShutdownEnabled),
              std::tuple(status, warning, status == 0, status == 0))
        << line << r.failure;
  }
}

TEST(Reader, ListsReadAsExpected) {
  const std::string sh = "[ShutdownHolidays]\n", none = "[ShutdownHolidays]\n\n[MsgHolidays]\n";
  const std::tuple<std::string, bool, Rows> cases[] = {
      // LF line ends; each also runs with CR LF
      // clang-format off
      {sh + "24.12.#### = Christmas Eve\n01.01.####\n01.05.#### \n\t06.01.####\t= \tEpiphany\t \n = \n15.08.####=a=b\n\n"
       "[MsgHolidays]\n", true, {"24.12.####|Christmas Eve", "01.01.####|", "01.05.#### |", "\t06.01.####\t|\tEpiphany\t",
       "|", "15.08.####|a=b"}},
      // The shutdown list ends at a blank line, a comment or a section, and
      // its file's last line is no row.
      {sh + "A=1\n\nB=2\n[MsgHolidays]\nX,S,B,M\n\n", true, {"A|1", "X|S|B|M"}},
      {sh + "A=1\n;B=2\n[MsgHolidays]\nX,S,B,M\n", true, {"A|1", "X|S|B|M"}},
      {sh + "A=1\n[MsgHolidays]\nX,S,B,M\n\n", false, {"A|1"}}, {sh + "A=1\nB=2\n", false, {"A|1"}},
      {sh + "A=1\nB=2", false, {"A|1"}}, {sh, false, {}}, {"", false, {}}, {sh + "\n[MsgHolidays]", true, {}},
      // Headers are exact lines, in this order; a byte order mark is skipped.
      {"[ShutdownHolidays]\0\n\n[MsgHolidays]\n"s, false, {}},
      {"[shutdownholidays]\n\n [ShutdownHolidays]\n\n[ShutdownHolidays] \n\n[MsgHolidays]\n", false, {}},
      {"[MsgHolidays]\nX,S,B,M\n\n[ShutdownHolidays]\nA\n\n", false, {"A|"}},
      {"\xEF\xBB\xBF" + none + "X,S,B,M\n", true, {"X|S|B|M"}},
      // Message holidays: four fields an entry whatever the lines, quotes
      // around commas and line ends, the date cut to ten characters.
      {none + "24.12.####,\"Merry Christmas\",\"Dear all, enjoy\",boss@example.com\n01.01.####, \"S\" ,  B  ,\n\n", true,
       {"24.12.####|Merry Christmas|Dear all, enjoy|boss@example.com", "01.01.####|S|B|"}},
      {none + "24.12.#### and more,S,B,M\n1.1.##,S,B,M\n\n", true, {"24.12.####|S|B|M", "1.1.##|S|B|M"}},
      {none + "01.01.####,S1,B1\nM1,02.01.####,S2\nB2,M2\n\n", true, {"01.01.####|S1|B1|M1", "02.01.####|S2|B2|M2"}},
      {none + "01.01.####,S1,B1\n02.01.####,S2,B2,M2\n\n", true, {"01.01.####|S1|B1|02.01.####", "S2|B2|M2|"}},
      {none + "01.01.####,S1,B1,M1,02.01.####\nS2,B2,M2\n", true, {"01.01.####|S1|B1|M1", "02.01.####|S2|B2|M2"}},
      {none + "01.01.####,S,\"one\ntwo\",M\n\n", true, {"01.01.####|S|one\ntwo|M"}},
      // Where an entry should begin, a blank line, a comma, ';' or '[' ends
      // the list, and so does the file's end.
      {none + "X,S,B,M\n\nY,S,B,M\n", true, {"X|S|B|M"}}, {none + "X,S,B,M\n,S,B,M\nY,S,B,M\n", true, {"X|S|B|M"}},
      {none + "X,S,B,M\n; x, y\nY,S,B,M\n", true, {"X|S|B|M"}},
      {none + "X,S,B,M\n[Messaging]\nY,S,B,M\n", true, {"X|S|B|M"}}, {none + "X,S,B,M", true, {"X|S|B|M"}},
      {none + "X,S,B,M\n02.02.####\n", true, {"X|S|B|M"}},
      // The file's end inside an entry, or a quote never closed, fails.
      {none + "X,S\n", false, {}}, {none + "X,S,B\n", false, {}}, {none + "X,S,B,M\nY,", false, {"X|S|B|M"}},
      {none + "X,S,B,\"boss@x\nY,S,B,M\n\n", false, {}}, {none + "\"X,S,B,M\n", false, {}},
      {none + "X,S,\"B,M\n", false, {}},
      // clang-format on
  };
  for (const auto& [text, ok, rows] : cases) {
    for (bool crlf : {false, true}) {
      HolidayTables t;
      std::string why;
      EXPECT_EQ(ParseHolidayLists(crlf ? Crlf(text) : text, t, why), ok) << text << why;
      EXPECT_EQ(why.empty(), ok) << text << why;
      // A quoted field keeps its line ends as they are.
      Rows expected = rows;
      for (std::string& row : expected) row = crlf ? Crlf(row) : row;
      EXPECT_EQ(AllRows(t), expected) << text;
    }
  }
}

// NUL bytes, lines longer than any buffer and ten megabytes of rows are read
// in full; a NUL ends a key's value but not a row's field.
TEST(Reader, NulBytesLongLinesAndTenMegabytes) {
  const std::string x(100000, 'x'), row = "01.01.####|A holiday with a longish description";
  std::string holidays = "24.12.####=Eve\0ning\n"s + x + "\n";
  while (holidays.size() < 10'000'000) holidays += "01.01.#### = A holiday with a longish description\n";
  const ConfigReadResult r = Read(Ini("ShutdownDelay=12\0 34\nShutdownMsg="s + x + "\n" + x + "\n", holidays,
                                      "01.01.####,S\0,B,M\n"s + "02.01.#### " + x + ",S," + x + ",M\n"));
  ASSERT_EQ(r.status, 0) << r.failure;
  EXPECT_EQ(r.values->ShutdownDelay.text + "|" + r.values->ShutdownMsg, "12|" + std::string(749, 'x'));
  const Rows rows = AllRows(*r.tables);
  EXPECT_EQ(rows.size(), std::count(holidays.begin(), holidays.end(), '\n') + 2);
  EXPECT_EQ(Rows(rows.begin(), rows.begin() + 3), (Rows{"24.12.####|Eve\0ning"s, x + "|", row}));
  EXPECT_EQ(Rows(rows.end() - 3, rows.end()), (Rows{row, "01.01.####|S\0|B|M"s, "02.01.####|S|" + x + "|M"}));
}

}  // namespace
}  // namespace kalmora::testing
