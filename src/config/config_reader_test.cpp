// The reader of kalmora.ini: keys and defaults, the version rules, the two
// list sections, damaged files, and what frmMain logs about them.
#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "config/config.h"
#include "host/sim/sim_host.h"
#include "service/frm_main.h"
#include "sim_fixture.h"

namespace kalmora::testing {
namespace {

using namespace std::string_literals;
using Rows = std::vector<std::string>;

sim::Options InDir(const ScratchDir& dir) {
  sim::Options o;
  o.work_dir = dir.path();
  o.start = sim::ParseTime("2026-12-24 07:58").value();
  o.until = o.start + 3600 * 1000;
  return o;
}

// A program directory on the simulated host.
struct ProgramDir {
  ScratchDir dir;
  sim::World world{InDir(dir)};
  sim::SimHost host{world, "kalmora", "", false};

  ConfigReadResult Read(const std::string& bytes) {
    dir.Write("kalmora.ini", bytes);
    return ParseConfiguration(host, dir.path() + "/kalmora.ini", 1);
  }
};

// The tables' rows side by side, "date|descr" or "date|subject|body|address".
Rows Joined(std::initializer_list<const Rows*> cols) {
  Rows out;
  for (size_t i = 0; i < (*cols.begin())->size(); ++i) {
    std::string row;
    for (const Rows* col : cols) row += (i < col->size() ? (*col)[i] : "<none>") + "|";
    out.push_back(row.substr(0, row.size() - 1));
  }
  for (const Rows* col : cols) {
    if (col->size() != (*cols.begin())->size()) out.push_back("<uneven tables>");
  }
  return out;
}
Rows ShutdownRows(const HolidayTables& t) { return Joined({&t.lstShutdownHolidaysDates, &t.lstShutdownHolidaysDescr}); }
Rows MsgRows(const HolidayTables& t) {
  return Joined({&t.lstMsgHolidaysDates, &t.lstMsgHolidaysSubject, &t.lstMsgHolidaysBody, &t.lstMsgHolidaysAddress});
}

const std::string kLists = "\r\n[ShutdownHolidays]\r\n\r\n[MsgHolidays]\r\n";

struct KeyCase {
  const char* section;
  const char* key;
  const char* default_value;
  std::string Configuration::*field;
};
using C = Configuration;
const KeyCase kKeys[] = {
    {"GeneralOptions", "ShutdownEnabled", "0", &C::ShutdownEnabled},
    {"GeneralOptions", "DontShutdownAfter", "23:59", &C::DontShutdownAfter},
    {"GeneralOptions", "ShutdownDelay", "180", &C::ShutdownDelay},
    {"GeneralOptions", "BeepOnShutdown", "0", &C::BeepOnShutdown},
    {"GeneralOptions", "ExitAfterCheck", "0", &C::ExitAfterCheck},
    {"GeneralOptions", "ForceExitAfterCheck", "0", &C::ForceExitAfterCheck},
    {"GeneralOptions", "MsgOnShutdownEmail", "0", &C::MsgOnShutdownEmail},
    {"GeneralOptions", "MsgOnShutdownNet", "0", &C::MsgOnShutdownNet},
    {"GeneralOptions", "ShutdownMsg", "", &C::ShutdownMsg},
    {"GeneralOptions", "HldyPlaceholder", "Holiday", &C::HldyPlaceholder},
    {"GeneralOptions", "WeekendPlaceholder", "Weekend", &C::WeekendPlaceholder},
    {"GeneralOptions", "MsgOnHolidayEmail", "0", &C::MsgOnHolidayEmail},
    {"GeneralOptions", "UpdateServer", "", &C::UpdateServer},
    {"GeneralOptions", "UpdateEnabled", "0", &C::UpdateEnabled},
    {"GeneralOptions", "WeekendShutdown", "0", &C::WeekendShutdown},
    {"GeneralOptions", "MsgOnWeekendShutdownEmail", "0", &C::MsgOnWeekendShutdownEmail},
    {"GeneralOptions", "MsgOnWeekendShutdownNet", "0", &C::MsgOnWeekendShutdownNet},
    {"Messaging", "NetAddress", "", &C::NetAddress},
    {"Messaging", "EmailAddress", "", &C::DefaultEmailAddress},
    {"Messaging", "EmailSubject", "", &C::DefaultEmailSubject},
    {"Messaging", "EmailSender", "", &C::EmailSender},
    {"Messaging", "EmailUseBcc", "0", &C::EmailUseBcc},
    {"ScheduledShutdown", "ScheduledShutdown", "0", &C::ScheduledShutdown},
    {"ScheduledShutdown", "ScheduledShutdownTime", "", &C::ScheduledShutdownTime},
    {"ScheduledShutdown", "ScheduledShutdownDays", "", &C::ScheduledShutdownDays},
    {"ScheduledShutdown", "ScheduledShutdownMsg", "", &C::ScheduledShutdownMsg},
    {"ScheduledShutdown", "ScheduledShutdownSubject", "", &C::ScheduledShutdownSubject},
    {"ScheduledShutdown", "ScheduledShutdownDelay", "900", &C::ScheduledShutdownDelay},
};

// Every key in its section, its value the key's name and `value_suffix`, or
// nothing after the equals sign.
std::string AllKeys(const std::string& value_suffix, bool empty) {
  std::string s = "[GeneralOptions]\r\nVersion=1\r\n";
  std::string section = "GeneralOptions";
  for (const KeyCase& k : kKeys) {
    if (k.section != section) s += "[" + (section = k.section) + "]\r\n";
    s += std::string(k.key) + " = " + (empty ? "" : k.key + value_suffix) + "\r\n";
  }
  return s + kLists;
}

TEST(Keys, EachInOrderWithItsDefaultOrItsText) {
  ASSERT_EQ(ConfigKeys().size(), std::size(kKeys));
  for (size_t i = 0; i < std::size(kKeys); ++i) EXPECT_STREQ(ConfigKeys()[i].key, kKeys[i].key) << i;

  ProgramDir p;
  // Keys in a section of another name do not count.
  std::string elsewhere = "[GeneralOptions]\r\nVersion=1\r\n[Other]\r\n";
  for (const KeyCase& k : kKeys) elsewhere += std::string(k.key) + "=x\r\n";
  const ConfigReadResult defaults = p.Read(elsewhere + kLists);
  const ConfigReadResult own = p.Read(AllKeys(" 007 ", false));
  const ConfigReadResult empty = p.Read(AllKeys("", true));
  for (const ConfigReadResult* r : {&defaults, &own, &empty}) ASSERT_EQ(r->status, 0) << r->failure;
  for (const KeyCase& k : kKeys) {
    EXPECT_EQ(defaults.values.*k.field, k.default_value) << k.key;
    EXPECT_EQ(own.values.*k.field, k.key + " 007"s) << k.key;
    EXPECT_EQ(empty.values.*k.field, "") << k.key;
  }
}

struct VersionCase {
  std::string line;
  int status;
  bool warning;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class VersionKey : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionKey, WarnsOrFails) {
  ProgramDir p;
  const ConfigReadResult r = p.Read("[GeneralOptions]\r\n" + GetParam().line + "\r\nShutdownEnabled=1\r\n" + kLists);
  EXPECT_EQ(r.status, GetParam().status) << r.failure;
  EXPECT_EQ(r.failure.empty(), r.status == 0);
  EXPECT_EQ(r.incompatible_version, GetParam().warning);
  // After the warning everything else is read; after a failure nothing.
  EXPECT_EQ(r.values.ShutdownEnabled, r.status == 0 ? "1" : "");
}

INSTANTIATE_TEST_SUITE_P(Values, VersionKey,
                         ::testing::Values(VersionCase{"", 0, true}, VersionCase{"Version=1", 0, false},
                                           VersionCase{"VERSION = 1.0 ", 0, false}, VersionCase{"Version=-1", 0, false},
                                           VersionCase{"Version=2", 0, true}, VersionCase{"Version=0", 0, true},
                                           VersionCase{"Version=1.5", 0, true}, VersionCase{"Version", 0, true},
                                           VersionCase{"Version=abc", 1, false}, VersionCase{"Version=", 1, false},
                                           VersionCase{"Version=\"\"", 1, false},
                                           VersionCase{"Version=1 0", 1, false}));

struct ListCase {
  const char* name;
  std::string text;  // LF line ends; each case also runs with CR LF
  bool ok;
  Rows shutdown;  // "date|descr"
  Rows msg;       // "date|subject|body|address"
};

void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class Lists : public ::testing::TestWithParam<ListCase> {};

TEST_P(Lists, ReadAsExpected) {
  const ListCase& c = GetParam();
  for (const std::string& text : {c.text, Crlf(c.text)}) {
    HolidayTables t;
    std::string why;
    EXPECT_EQ(ParseHolidayLists(text, t, why), c.ok) << why;
    EXPECT_EQ(why.empty(), c.ok) << why;
    EXPECT_EQ(ShutdownRows(t), c.shutdown);
    EXPECT_EQ(MsgRows(t), c.msg);
  }
}

const std::string kSh = "[ShutdownHolidays]\n";
const std::string kNoShutdown = "[ShutdownHolidays]\n\n[MsgHolidays]\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, Lists, ::testing::Values(
    ListCase{"Descriptions", kSh + "24.12.#### = Christmas Eve\n01.01.####\n01.05.#### \n"
             "\t06.01.####\t= \tEpiphany\t \n = \n15.08.####=a=b\n\n[MsgHolidays]\n", true,
             {"24.12.####|Christmas Eve", "01.01.####|", "01.05.#### |", "\t06.01.####\t|\tEpiphany\t", "|",
              "15.08.####|a=b"}, {}},
    ListCase{"BlankLineEndsShutdownList", kSh + "A=1\n\nB=2\n[MsgHolidays]\nX,S,B,M\n\n", true, {"A|1"}, {"X|S|B|M"}},
    ListCase{"CommentEndsShutdownList", kSh + "A=1\n;B=2\n[MsgHolidays]\nX,S,B,M\n", true, {"A|1"}, {"X|S|B|M"}},
    ListCase{"MsgHolidaysRightAfterList", kSh + "A=1\n[MsgHolidays]\nX,S,B,M\n\n", false, {"A|1"}, {}},
    ListCase{"LastLineEndsShutdownList", kSh + "A=1\nB=2\n", false, {"A|1"}, {}},
    ListCase{"LastLineWithoutLineEnd", kSh + "A=1\nB=2", false, {"A|1"}, {}},
    ListCase{"ShutdownHeaderLastLine", "[ShutdownHolidays]", false, {}, {}},
    ListCase{"ShutdownHeaderIsExact",
             "[shutdownholidays]\n\n [ShutdownHolidays]\n\n[ShutdownHolidays] \n\n[MsgHolidays]\n", false, {}, {}},
    ListCase{"MsgHolidaysFirst", "[MsgHolidays]\nX,S,B,M\n\n[ShutdownHolidays]\nA\n\n", false, {"A|"}, {}},
    ListCase{"MsgHeaderLastLine", kSh + "\n[MsgHolidays]", true, {}, {}},
    ListCase{"TypicalEntries", kNoShutdown + "24.12.####,\"Merry Christmas\",\"Dear all, enjoy\",boss@example.com\n"
             "01.01.####, \"S\" ,  B  ,\n\n", true, {},
             {"24.12.####|Merry Christmas|Dear all, enjoy|boss@example.com", "01.01.####|S|B|"}},
    ListCase{"DateCutToTen", kNoShutdown + "24.12.#### and more,S,B,M\n1.1.##,S,B,M\n\n", true, {},
             {"24.12.####|S|B|M", "1.1.##|S|B|M"}},
    ListCase{"FieldsRunAcrossLines", kNoShutdown + "01.01.####,S1,B1\nM1,02.01.####,S2\nB2,M2\n\n", true, {},
             {"01.01.####|S1|B1|M1", "02.01.####|S2|B2|M2"}},
    ListCase{"ThreeFieldsShiftTheRest", kNoShutdown + "01.01.####,S1,B1\n02.01.####,S2,B2,M2\n\n", true, {},
             {"01.01.####|S1|B1|02.01.####", "S2|B2|M2|"}},
    ListCase{"FifthFieldStartsNextEntry", kNoShutdown + "01.01.####,S1,B1,M1,02.01.####\nS2,B2,M2\n", true, {},
             {"01.01.####|S1|B1|M1", "02.01.####|S2|B2|M2"}},
    ListCase{"LastEntryWithoutLineEnd", kNoShutdown + "01.01.####,S,B,M", true, {}, {"01.01.####|S|B|M"}},
    ListCase{"LoneFirstFieldAtEnd", kNoShutdown + "01.01.####,S,B,M\n02.02.####\n", true, {}, {"01.01.####|S|B|M"}},
    ListCase{"EndsAfterTwoFields", kNoShutdown + "01.01.####,S\n", false, {}, {}},
    ListCase{"EndsAfterThreeFields", kNoShutdown + "01.01.####,S,B\n", false, {}, {}},
    ListCase{"EndsAfterComma", kNoShutdown + "01.01.####,S,B,M\n02.02.####,", false, {}, {"01.01.####|S|B|M"}},
    ListCase{"OpenQuoteInAddress", kNoShutdown + "01.01.####,S,B,\"boss@x\n02.02.####,S,B,M\n\n", false, {}, {}},
    ListCase{"OpenQuoteInFirstField", kNoShutdown + "\"01.01.####,S,B,M\n", false, {}, {}},
    ListCase{"OpenQuoteInBody", kNoShutdown + "01.01.####,S,\"B,M\n", false, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(Lists, WhereAnEntryShouldBeginTheseEndTheList) {
  for (const char* ender : {"\r\n", ",S,B,M\r\n", "; x, y\r\n", "[Messaging]\r\n"}) {
    HolidayTables t;
    std::string why;
    EXPECT_TRUE(ParseHolidayLists(Crlf(kNoShutdown) + "01.01.####,S,B,M\r\n" + ender + "03.03.####,S,B,M\r\n", t, why));
    EXPECT_EQ(MsgRows(t), Rows{"01.01.####|S|B|M"}) << ender;
  }
}

TEST(Lists, QuotedFieldKeepsItsLineEnds) {
  HolidayTables t;
  std::string why;
  ASSERT_TRUE(ParseHolidayLists(Crlf(kNoShutdown + "01.01.####,S,\"one\ntwo\",M\n\n"), t, why)) << why;
  EXPECT_EQ(MsgRows(t), Rows{"01.01.####|S|one\r\ntwo|M"});
}

TEST(Lists, ReadingAgainReplacesTheRows) {
  const std::string text = Crlf(kSh + "A=1\n\n[MsgHolidays]\nX,S,B,M\n\n");
  HolidayTables t;
  std::string why;
  ASSERT_TRUE(ParseHolidayLists(text, t, why));
  ASSERT_TRUE(ParseHolidayLists(text, t, why));
  EXPECT_EQ(ShutdownRows(t), Rows{"A|1"});
  EXPECT_EQ(MsgRows(t), Rows{"X|S|B|M"});
}

// Damaged and odd files end in a clean read or a failure with its reason.
TEST(DamagedFiles, ReadCleanlyOrFail) {
  std::mt19937 rng(7);
  std::string binary(1 << 16, '\0');
  for (char& c : binary) c = static_cast<char>(rng());
  const std::pair<const char*, std::string> failing[] = {
      {"empty", ""}, {"binary", binary}, {"NUL in header", "[ShutdownHolidays]\0\r\n"s}};
  ProgramDir p;
  for (const auto& [name, bytes] : failing) {
    const ConfigReadResult r = p.Read(bytes);
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_FALSE(r.failure.empty()) << name;
  }
  EXPECT_EQ(ParseConfiguration(p.host, p.dir.path() + "/missing.ini", 1).failure, "the file cannot be opened");
}

TEST(DamagedFiles, NulBytesAndLongLines) {
  const std::string x(100000, 'x');
  ProgramDir p;
  const ConfigReadResult r =
      p.Read(Ini("ShutdownDelay=12\0 34\nShutdownMsg="s + x + "\n" + x + "\n", "24.12.####=Eve\0ning\n"s + x,
                 "01.01.####,S\0,B,M\n"s + "02.01.#### " + x + ",S," + x + ",M\n"));
  ASSERT_EQ(r.status, 0) << r.failure;
  EXPECT_EQ(r.values.ShutdownDelay, "12");
  EXPECT_EQ(r.values.ShutdownMsg, std::string(749, 'x'));
  EXPECT_EQ(ShutdownRows(r.tables), (Rows{"24.12.####|Eve\0ning"s, x + "|"}));
  ASSERT_EQ(r.tables.lstMsgHolidaysDates.size(), 2u);
  EXPECT_EQ(r.tables.lstMsgHolidaysSubject[0], "S\0"s);
  EXPECT_EQ(r.tables.lstMsgHolidaysDates[1], "02.01.####");
  EXPECT_EQ(r.tables.lstMsgHolidaysBody[1], x);
}

TEST(DamagedFiles, TenMegabytes) {
  std::string holidays;
  size_t lines = 0;
  for (; holidays.size() < 10'000'000; ++lines) holidays += "01.01.#### = A holiday with a longish description\n";
  ProgramDir p;
  const ConfigReadResult r = p.Read(Ini("ShutdownEnabled=1\n", holidays, "24.12.####,S,B,M\n"));
  ASSERT_EQ(r.status, 0) << r.failure;
  EXPECT_EQ(r.values.ShutdownEnabled, "1");
  EXPECT_EQ(r.tables.lstShutdownHolidaysDates.size(), lines);
  EXPECT_EQ(MsgRows(r.tables), Rows{"24.12.####|S|B|M"});
}

// frmMain logs what the reading found and hands back the status.
class MainReads : public ::testing::Test {
 protected:
  Rows Events() const {
    Rows out;
    for (const auto& e : p.world.records()) {
      if (e["kind"] == "event") {
        out.push_back(std::to_string(e["type"].get<int>()) + " " + std::to_string(e["id"].get<int>()) + " " +
                      e["text"].get<std::string>());
      }
    }
    return out;
  }
  ProgramDir p;
  frmMain main{p.host};
};

const std::string kWarning =
    "2 110 Kalmora: Warning: The file kalmora.ini is not compatible with this version of Kalmora. Dazed and "
    "confused, but trying to continue.";
const std::string kError =
    "1 109 Kalmora: Error while reading kalmora.ini. The file is probably missing or corrupt. The service will now "
    "terminate.";

TEST_F(MainReads, EmptyFileWarnsThenFails) {
  p.dir.Write("kalmora.ini", "");
  EXPECT_EQ(main.ReadConfiguration(), 1);
  EXPECT_EQ(Events(), (Rows{kWarning, kError}));
}

TEST_F(MainReads, MissingFileFails) {
  EXPECT_EQ(main.ReadConfiguration(), 1);
  EXPECT_EQ(Events(), Rows{kError});
}

TEST_F(MainReads, NewerVersionWarnsAndReadsAgainWithoutDoubling) {
  p.dir.Write("kalmora.ini", Crlf("[GeneralOptions]\nVersion=2\n\n[ShutdownHolidays]\n24.12.####=Eve\n\n[MsgHolidays]\n"
                                  "01.01.####,S,B,M\n"));
  EXPECT_EQ(main.ReadConfiguration(), 0);
  EXPECT_EQ(main.ReadConfiguration(), 0);
  EXPECT_EQ(Events(), (Rows{kWarning, kWarning}));
  EXPECT_EQ(ShutdownRows(main.tables()), Rows{"24.12.####|Eve"});
  EXPECT_EQ(MsgRows(main.tables()), Rows{"01.01.####|S|B|M"});
}

}  // namespace
}  // namespace kalmora::testing
