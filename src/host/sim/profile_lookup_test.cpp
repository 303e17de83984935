// The simulated host's INI lookup: what the program relies on from the
// system's profile lookup.
#include "host/sim/profile_lookup.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

using namespace std::string_literals;

TEST(Lookup, FindsTheValueOfKeyKInSectionA) {
  const std::string k800(800, 'x'), x749(749, 'x');
  const std::pair<std::string, std::string> cases[] = {
      // the file and the value, the default being "dflt"
      // clang-format off
      {"[a]\r\nK=1\r\n", "1"},                                  // names ignore case
      {"\xEF\xBB\xBF[A]\r\nk=1\r\n", "1"},                      // a UTF-8 byte order mark is skipped
      {"[A]\r\nk=1\r\nK=2\r\n", "1"},                           // the first key counts
      {"[A]\r\nk=1\r\n[B]\r\n[a]\r\nk=2\r\n", "1"},             // the first section counts
      {"[A]\r\nj=1\r\n[a]\r\nk=3\r\n", "dflt"},                 // a later one of the same name is ignored
      {"[A]\r\n[B]\r\nk=1\r\n", "dflt"}, {"k=1\r\n[A]\r\n", "dflt"}, {"[B]\r\nk=1\r\n", "dflt"},
      {"[A]\r\nj=1\r\n", "dflt"},
      {"[A]\r\n \tk \t= \t a  b \t \r\n", "a  b"}, {"[A]\r\nk=a=b\r\n", "a=b"},
      {"[A]\r\nk = \" a \" \r\n", " a "}, {"[A]\r\nk='a'\r\n", "a"}, {"[A]\r\nk=\"\"a\"\"\r\n", "\"a\""},
      {"[A]\r\nk=\"a'\r\n", "\"a'"}, {"[A]\r\nk=\"\r\n", "\""}, {"[A]\r\nk=\r\n", ""}, {"[A]\r\nk=''\r\n", ""},
      {"[A]\r\nk\r\nk=1\r\n", "dflt"},                          // a line without "=" holds no value
      // "[A" is no header: its lines still belong to the section before.
      {"[B]\r\n[A\r\nk=1\r\n", "dflt"}, {"[A]\r\n[B\r\nk=1\r\n", "1"},
      {"[A]\nj=0\nk=1\n", "1"}, {"[A]\rj=0\rk=1", "1"}, {"[A]\r\nk=1", "1"},
      // The system hands the value back as a C string: it ends at a NUL.
      {"[A]\r\nk=ab \0cd\r\n"s, "ab "}, {"[A]\r\n\0\0\0\r\nk=1\r\n"s, "1"},
      {"[A]\r\nk=" + k800 + "\r\n", x749}, {"[A]\r\nk=\"" + k800 + "\"\r\n", x749},
      {"[A]\r\nk=" + std::string(749, 'y') + "\r\n", std::string(749, 'y')},
      // clang-format on
  };
  for (const auto& [file, expected] : cases) {
    EXPECT_EQ(LookupProfileString(file, "A", "k", "dflt", 750), expected) << file.substr(0, 40);
  }
  // The default loses trailing blanks only.
  const std::optional<std::string> none;
  EXPECT_EQ(LookupProfileString(none, "A", "k", " 23:59  ", 750), " 23:59");
  EXPECT_EQ(LookupProfileString("[A]\r\n"s, "A", "k", "x ", 750), "x");
  EXPECT_EQ(LookupProfileString(""s, "A", "k", "", 750), "");
  EXPECT_EQ(LookupProfileString(none, "A", "k", k800, 750), x749);
}

}  // namespace
}  // namespace kalmora
