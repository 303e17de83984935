// The simulated host's INI lookup: what the program relies on from the
// system's profile lookup.
#include "host/sim/profile_lookup.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

using namespace std::string_literals;

struct LookupCase {
  const char* name;
  std::string file;
  std::string section;
  std::string key;
  std::string expected;  // the default is always "dflt"
};

void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }

class Lookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheValue) {
  const LookupCase& c = GetParam();
  EXPECT_EQ(LookupProfileString(c.file, c.section, c.key, "dflt", 750), c.expected);
}

const std::string k800(800, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, Lookup,
    ::testing::Values(LookupCase{"NamesIgnoreCase", "[generalOPTIONS]\r\nSHUTDOWNenabled=1\r\n", "GeneralOptions",
                                 "shutdownenabled", "1"},
                      LookupCase{"FirstKeyCounts", "[A]\r\nk=1\r\nK=2\r\n", "A", "k", "1"},
                      LookupCase{"FirstSectionCounts", "[A]\r\nk=1\r\n[B]\r\n[a]\r\nk=2\r\nj=3\r\n", "A", "k", "1"},
                      LookupCase{"LaterSameSectionIgnored", "[A]\r\nk=1\r\n[a]\r\nj=3\r\n", "A", "j", "dflt"},
                      LookupCase{"KeyOfOtherSection", "[A]\r\n[B]\r\nk=1\r\n", "A", "k", "dflt"},
                      LookupCase{"KeyBeforeAnySection", "k=1\r\n[A]\r\n", "A", "k", "dflt"},
                      LookupCase{"BlanksAroundNameAndValue", "[A]\r\n \tk \t= \t a  b \t \r\n", "A", "k", "a  b"},
                      LookupCase{"FirstEqualsSign", "[A]\r\nk=a=b\r\n", "A", "k", "a=b"},
                      LookupCase{"DoubleQuotes", "[A]\r\nk = \" a \" \r\n", "A", "k", " a "},
                      LookupCase{"SingleQuotes", "[A]\r\nk='a'\r\n", "A", "k", "a"},
                      LookupCase{"OnePairOnly", "[A]\r\nk=\"\"a\"\"\r\n", "A", "k", "\"a\""},
                      LookupCase{"MismatchedQuotes", "[A]\r\nk=\"a'\r\n", "A", "k", "\"a'"},
                      LookupCase{"LoneQuote", "[A]\r\nk=\"\r\n", "A", "k", "\""},
                      LookupCase{"EmptyValueIsNotDefault", "[A]\r\nk=\r\n", "A", "k", ""},
                      LookupCase{"EmptyQuotes", "[A]\r\nk=''\r\n", "A", "k", ""},
                      // A line without an equals sign holds no value: the default stands.
                      LookupCase{"NameWithoutEquals", "[A]\r\nk\r\nk=1\r\n", "A", "k", "dflt"},
                      LookupCase{"MissingSection", "[B]\r\nk=1\r\n", "A", "k", "dflt"},
                      LookupCase{"MissingKey", "[A]\r\nj=1\r\n", "A", "k", "dflt"},
                      // "[A" is no header: its lines still belong to the section before.
                      LookupCase{"UnclosedHeader", "[B]\r\n[A\r\nk=1\r\n", "A", "k", "dflt"},
                      LookupCase{"UnclosedHeaderInsideSection", "[A]\r\n[B\r\nk=1\r\n", "A", "k", "1"},
                      LookupCase{"LfOnly", "[A]\nj=0\nk=1\n", "A", "k", "1"},
                      LookupCase{"CrOnly", "[A]\rj=0\rk=1", "A", "k", "1"},
                      LookupCase{"NoFinalLineEnd", "[A]\r\nk=1", "A", "k", "1"},
                      // The system hands the value back as a C string: it ends at a NUL.
                      LookupCase{"NulEndsValue", "[A]\r\nk=ab \0cd\r\n"s, "A", "k", "ab "},
                      LookupCase{"NulInOtherLine", "[A]\r\n\0\0\0\r\nk=1\r\n"s, "A", "k", "1"},
                      LookupCase{"CutTo749", "[A]\r\nk=" + k800 + "\r\n", "A", "k", std::string(749, 'x')},
                      LookupCase{"QuotedLongValue", "[A]\r\nk=\"" + k800 + "\"\r\n", "A", "k", std::string(749, 'x')},
                      LookupCase{"Exactly749", "[A]\r\nk=" + std::string(749, 'y') + "\r\n", "A", "k",
                                 std::string(749, 'y')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LookupDefault, LosesTrailingBlanksOnly) {
  const std::optional<std::string> none;
  EXPECT_EQ(LookupProfileString(none, "A", "k", " 23:59  ", 750), " 23:59");
  EXPECT_EQ(LookupProfileString(std::string("[A]\r\n"), "A", "k", "x ", 750), "x");
  EXPECT_EQ(LookupProfileString(std::string(""), "A", "k", "", 750), "");
  EXPECT_EQ(LookupProfileString(none, "A", "k", k800, 750), std::string(749, 'x'));
}

}  // namespace
}  // namespace kalmora
