// The reader of kalmora.ini: keys and defaults, the version rules, the two
// list sections, damaged files, and what frmMain logs about them.
#include <gtest/gtest.h>

#include "config/config.h"
#include "service/frm_main.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;

// A program directory on the simulated host.
struct ProgramDir {
  ScratchDir dir;
  DirectHost direct{dir, "2026-12-24 07:58"};

  ConfigReadResult Read(const std::string& bytes) {
    dir.Write("kalmora.ini", bytes);
    return ParseConfiguration(direct.host, dir.path() + "/kalmora.ini", 1);
  }
};

// The tables' rows side by side, "date|descr" or "date|subject|body|address".
Rows Joined(std::initializer_list<Rows> cols) {
  Rows out(cols.begin()->size());
  for (const Rows& col : cols) {
    if (col.size() != out.size()) return {"<uneven tables>"};
    for (size_t i = 0; i < out.size(); ++i) out[i] += (&col == cols.begin() ? "" : "|") + col[i];
  }
  return out;
}
Rows ShutdownRows(const HolidayTables& t) { return Joined({t.lstShutdownHolidaysDates, t.lstShutdownHolidaysDescr}); }
Rows MsgRows(const HolidayTables& t) {
  return Joined({t.lstMsgHolidaysDates, t.lstMsgHolidaysSubject, t.lstMsgHolidaysBody, t.lstMsgHolidaysAddress});
}

const std::string kLists = "\r\n[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n";

// Every key after "Version", in order, in its section and with its default;
// what the file says goes into the key's own field, an empty value too.
TEST(Keys, EachInItsSectionWithItsDefaultOrItsText) {
  std::string listed, section, own, empty, elsewhere = "[GeneralOptions]\r\nVersion=1\r\n[Other]\r\n";
  for (const ConfigKey& k : ConfigKeys()) {
    const std::string key = k.key;
    if (k.section != section) {
      listed += "[" + (section = k.section) + "] ";
      own += "[" + section + "]\r\n" + (own.empty() ? "Version=1\r\n" : "");
      empty += "[" + section + "]\r\n" + (empty.empty() ? "Version=1\r\n" : "");
    }
    listed += key + "=" + k.default_value + " ";
    own += key + " = " + key + " 007 \r\n";
    empty += key + " = \r\n";
    elsewhere += key + "=x\r\n";
  }
  EXPECT_EQ(listed,
            "[GeneralOptions] ShutdownEnabled=0 DontShutdownAfter=23:59 ShutdownDelay=180 BeepOnShutdown=0 "
            "ExitAfterCheck=0 ForceExitAfterCheck=0 MsgOnShutdownEmail=0 MsgOnShutdownNet=0 ShutdownMsg= "
            "HldyPlaceholder=Holiday WeekendPlaceholder=Weekend MsgOnHolidayEmail=0 UpdateServer= UpdateEnabled=0 "
            "UpdateTimeout=120 DecideDaily=0 MsgOnShutdownSession=0 "
            "WeekendShutdown=0 MsgOnWeekendShutdownEmail=0 MsgOnWeekendShutdownNet=0 [Messaging] NetAddress= "
            "EmailAddress= EmailSubject= EmailSender= EmailUseBcc=0 [ScheduledShutdown] ScheduledShutdown=0 "
            "ScheduledShutdownTime= ScheduledShutdownDays= ScheduledShutdownMsg= ScheduledShutdownSubject= "
            "ScheduledShutdownDelay=900 ");
  ProgramDir p;
  const ConfigReadResult defaults = p.Read(elsewhere + kLists), read = p.Read(own + kLists),
                         none = p.Read(empty + kLists);
  for (const ConfigReadResult* r : {&defaults, &read, &none}) ASSERT_EQ(r->status, 0) << r->failure;
  for (const ConfigKey& k : ConfigKeys()) {
    EXPECT_EQ(defaults.values.*k.field, k.default_value) << k.key;
    EXPECT_EQ(read.values.*k.field, k.key + " 007"s) << k.key;
    EXPECT_EQ(none.values.*k.field, "") << k.key;
  }
}

TEST(Keys, VersionWarnsOrFails) {
  const struct {
    std::string line;
    int status;
    bool warning;
  } cases[] = {
      // clang-format off
      {"", 0, true}, {"Version=1", 0, false}, {"VERSION = 1.0 ", 0, false}, {"Version=-1", 0, false},
      {"Version=2", 0, true}, {"Version=0", 0, true}, {"Version=1.5", 0, true}, {"Version", 0, true},
      {"Version=abc", 1, false}, {"Version=", 1, false}, {"Version=\"\"", 1, false}, {"Version=1 0", 1, false},
      // clang-format on
  };
  ProgramDir p;
  for (const auto& c : cases) {
    const ConfigReadResult r = p.Read("[GeneralOptions]\r\n" + c.line + "\r\nShutdownEnabled=1\r\n" + kLists);
    EXPECT_EQ(r.status, c.status) << c.line << r.failure;
    EXPECT_EQ(r.failure.empty(), r.status == 0) << c.line;
    EXPECT_EQ(r.incompatible_version, c.warning) << c.line;
    // After the warning everything else is read; after a failure nothing.
    EXPECT_EQ(r.values.ShutdownEnabled, r.status == 0 ? "1" : "") << c.line;
  }
}

const std::string kSh = "[ShutdownHolidays]\n";
const std::string kNoShutdown = "[ShutdownHolidays]\n\n[MsgHolidays]\n";

TEST(Lists, ReadAsExpected) {
  const struct {
    const char* name;
    std::string text;  // LF line ends; each case also runs with CR LF
    bool ok;
    Rows shutdown;  // "date|descr"
    Rows msg;       // "date|subject|body|address"
  } cases[] = {
      // clang-format off
      {"Descriptions", kSh + "24.12.#### = Christmas Eve\n01.01.####\n01.05.#### \n"
       "\t06.01.####\t= \tEpiphany\t \n = \n15.08.####=a=b\n\n[MsgHolidays]\n", true,
       {"24.12.####|Christmas Eve", "01.01.####|", "01.05.#### |", "\t06.01.####\t|\tEpiphany\t", "|",
        "15.08.####|a=b"}, {}},
      {"BlankLineEndsShutdownList", kSh + "A=1\n\nB=2\n[MsgHolidays]\nX,S,B,M\n\n", true, {"A|1"}, {"X|S|B|M"}},
      {"CommentEndsShutdownList", kSh + "A=1\n;B=2\n[MsgHolidays]\nX,S,B,M\n", true, {"A|1"}, {"X|S|B|M"}},
      {"MsgHolidaysRightAfterList", kSh + "A=1\n[MsgHolidays]\nX,S,B,M\n\n", false, {"A|1"}, {}},
      {"LastLineEndsShutdownList", kSh + "A=1\nB=2\n", false, {"A|1"}, {}},
      {"LastLineWithoutLineEnd", kSh + "A=1\nB=2", false, {"A|1"}, {}},
      {"ShutdownHeaderLastLine", "[ShutdownHolidays]", false, {}, {}},
      {"EmptyFile", "", false, {}, {}}, {"NulInHeader", "[ShutdownHolidays]\0\n\n[MsgHolidays]\n"s, false, {}, {}},
      {"ShutdownHeaderIsExact",
       "[shutdownholidays]\n\n [ShutdownHolidays]\n\n[ShutdownHolidays] \n\n[MsgHolidays]\n", false, {}, {}},
      {"MsgHolidaysFirst", "[MsgHolidays]\nX,S,B,M\n\n[ShutdownHolidays]\nA\n\n", false, {"A|"}, {}},
      {"MsgHeaderLastLine", kSh + "\n[MsgHolidays]", true, {}, {}},
      {"ByteOrderMarkSkipped", "\xEF\xBB\xBF" + kNoShutdown + "X,S,B,M\n", true, {}, {"X|S|B|M"}},
      {"TypicalEntries", kNoShutdown + "24.12.####,\"Merry Christmas\",\"Dear all, enjoy\",boss@example.com\n"
       "01.01.####, \"S\" ,  B  ,\n\n", true, {},
       {"24.12.####|Merry Christmas|Dear all, enjoy|boss@example.com", "01.01.####|S|B|"}},
      {"DateCutToTen", kNoShutdown + "24.12.#### and more,S,B,M\n1.1.##,S,B,M\n\n", true, {},
       {"24.12.####|S|B|M", "1.1.##|S|B|M"}},
      {"FieldsRunAcrossLines", kNoShutdown + "01.01.####,S1,B1\nM1,02.01.####,S2\nB2,M2\n\n", true, {},
       {"01.01.####|S1|B1|M1", "02.01.####|S2|B2|M2"}},
      {"ThreeFieldsShiftTheRest", kNoShutdown + "01.01.####,S1,B1\n02.01.####,S2,B2,M2\n\n", true, {},
       {"01.01.####|S1|B1|02.01.####", "S2|B2|M2|"}},
      {"FifthFieldStartsNextEntry", kNoShutdown + "01.01.####,S1,B1,M1,02.01.####\nS2,B2,M2\n", true, {},
       {"01.01.####|S1|B1|M1", "02.01.####|S2|B2|M2"}},
      // Where an entry should begin, a blank line, a comma, ';' or '[' ends the list.
      {"BlankEndsMsgList", kNoShutdown + "X,S,B,M\n\nY,S,B,M\n", true, {}, {"X|S|B|M"}},
      {"CommaEndsMsgList", kNoShutdown + "X,S,B,M\n,S,B,M\nY,S,B,M\n", true, {}, {"X|S|B|M"}},
      {"CommentEndsMsgList", kNoShutdown + "X,S,B,M\n; x, y\nY,S,B,M\n", true, {}, {"X|S|B|M"}},
      {"SectionEndsMsgList", kNoShutdown + "X,S,B,M\n[Messaging]\nY,S,B,M\n", true, {}, {"X|S|B|M"}},
      {"LastEntryWithoutLineEnd", kNoShutdown + "01.01.####,S,B,M", true, {}, {"01.01.####|S|B|M"}},
      {"LoneFirstFieldAtEnd", kNoShutdown + "01.01.####,S,B,M\n02.02.####\n", true, {}, {"01.01.####|S|B|M"}},
      {"EndsAfterTwoFields", kNoShutdown + "01.01.####,S\n", false, {}, {}},
      {"EndsAfterThreeFields", kNoShutdown + "01.01.####,S,B\n", false, {}, {}},
      {"EndsAfterComma", kNoShutdown + "01.01.####,S,B,M\n02.02.####,", false, {}, {"01.01.####|S|B|M"}},
      {"OpenQuoteInAddress", kNoShutdown + "01.01.####,S,B,\"boss@x\n02.02.####,S,B,M\n\n", false, {}, {}},
      {"OpenQuoteInFirstField", kNoShutdown + "\"01.01.####,S,B,M\n", false, {}, {}},
      {"OpenQuoteInBody", kNoShutdown + "01.01.####,S,\"B,M\n", false, {}, {}},
      {"QuotedLineEndKept", kNoShutdown + "01.01.####,S,\"one\ntwo\",M\n\n", true, {}, {"01.01.####|S|one\ntwo|M"}},
      // clang-format on
  };
  for (const auto& c : cases) {
    for (bool crlf : {false, true}) {
      HolidayTables t;
      std::string why;
      EXPECT_EQ(ParseHolidayLists(crlf ? Crlf(c.text) : c.text, t, why), c.ok) << c.name << why;
      EXPECT_EQ(why.empty(), c.ok) << c.name << why;
      EXPECT_EQ(ShutdownRows(t), c.shutdown) << c.name;
      // A quoted field keeps its line ends as they are.
      Rows msg = c.msg;
      for (std::string& row : msg) row = crlf ? Crlf(row) : row;
      EXPECT_EQ(MsgRows(t), msg) << c.name;
    }
  }
}

// NUL bytes, lines longer than any buffer and ten megabytes of rows are read
// in full; a NUL ends a key's value but not a row's field.
TEST(DamagedFiles, NulBytesLongLinesAndTenMegabytes) {
  const std::string x(100000, 'x'), row = "01.01.####|A holiday with a longish description";
  std::string holidays = "24.12.####=Eve\0ning\n"s + x + "\n";
  size_t rows = 2;
  for (; holidays.size() < 10'000'000; ++rows) holidays += "01.01.#### = A holiday with a longish description\n";
  ProgramDir p;
  const ConfigReadResult r = p.Read(Ini("ShutdownDelay=12\0 34\nShutdownMsg="s + x + "\n" + x + "\n", holidays,
                                        "01.01.####,S\0,B,M\n"s + "02.01.#### " + x + ",S," + x + ",M\n"));
  ASSERT_EQ(r.status, 0) << r.failure;
  EXPECT_EQ(r.values.ShutdownDelay, "12");
  EXPECT_EQ(r.values.ShutdownMsg, std::string(749, 'x'));
  const Rows shutdown = ShutdownRows(r.tables);
  EXPECT_EQ(shutdown.size(), rows);
  EXPECT_EQ(Rows(shutdown.begin(), shutdown.begin() + 3), (Rows{"24.12.####|Eve\0ning"s, x + "|", row}));
  EXPECT_EQ(shutdown.back(), row);
  EXPECT_EQ(MsgRows(r.tables), (Rows{"01.01.####|S\0|B|M"s, "02.01.####|S|" + x + "|M"}));
}

// frmMain warns of a file of another version, each time it reads it, and
// reading again replaces the rows. (Its error entry shows in the start-up.)
TEST(MainReads, WarnsAndReadsAgainWithoutDoubling) {
  ProgramDir p;
  frmMain main{p.direct.host};
  p.dir.Write("kalmora.ini",
              Crlf("[GeneralOptions]\nVersion=2\n[ShutdownHolidays]\n24.12.####=Eve\n\n[MsgHolidays]\nX,S,B,M"));
  EXPECT_EQ(main.ReadConfiguration(), 0);
  EXPECT_EQ(main.ReadConfiguration(), 0);
  const std::string warning =
      "Kalmora: Warning: The file kalmora.ini is not compatible with this version of Kalmora. "
      "Dazed and confused, but trying to continue.";
  EXPECT_EQ(Lines(p.direct.world.records()), Rows(2, "07:58:00.000 event " + warning));
  EXPECT_TRUE(p.direct.world.records().at(0)["type"] == 2 && p.direct.world.records().at(0)["id"] == 110);
  EXPECT_EQ(ShutdownRows(main.tables()), Rows{"24.12.####|Eve"});
  EXPECT_EQ(MsgRows(main.tables()), Rows{"X|S|B|M"});
}

}  // namespace
}  // namespace kalmora::testing
