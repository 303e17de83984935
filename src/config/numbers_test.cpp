// Reading configuration texts as numbers, switches and minutes.
#include "config/numbers.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

using namespace std::string_literals;

TEST(Numbers, NumbersSwitchesAndMinutes) {
  const std::string zeros(100000, '0');
  const std::pair<std::string, std::optional<double>> cases[] = {
      // clang-format off
      {"1", 1}, {"0", 0}, {" -1 ", -1}, {"\t+180\t", 180}, {"007", 7}, {"1.5", 1.5}, {"-0.25", -0.25}, {".5", 0.5},
      {"5.", 5}, {"1.0", 1}, {zeros + "2", 2},
      // Not numbers, or beyond what a double holds.
      {"", {}}, {" \t ", {}}, {"abc", {}}, {"1a", {}}, {"1 2", {}}, {"- 1", {}}, {"+", {}}, {".", {}}, {"-.", {}},
      {"1,5", {}}, {"1.2.3", {}}, {"1e3", {}}, {"0x10", {}}, {"inf", {}}, {"nan", {}}, {"--1", {}}, {"1\0"s, {}},
      {"\r1\n", {}}, {"1" + zeros.substr(0, 400), {}}, {"-" + std::string(100000, '9'), {}},
      // clang-format on
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseNumber(text), expected) << '"' << text.substr(0, 20) << '"';
  // A switch is on for 1 alone; BeepOnShutdown for -1 alone.
  for (const char* on : {"1", " 1 ", "+1", "01", "1.0", "1.000"}) EXPECT_TRUE(IsOn(on)) << on;
  for (const char* off : {"0", "2", "-1", "1.5", "0.9", "", "yes", "true", "1e0"}) EXPECT_FALSE(IsOn(off)) << off;
  for (const char* on : {"-1", " -1 ", "-1.0", "-01"}) EXPECT_TRUE(IsTrueBoolean(on)) << on;
  for (const char* off : {"1", "0", "True", "-2", ""}) EXPECT_FALSE(IsTrueBoolean(off)) << off;
  // Minutes: an exact half goes to the even neighbour.
  const std::pair<double, long long> minutes[] = {// clang-format off
      {0, 0}, {29, 0}, {30, 0}, {31, 1}, {89, 1}, {90, 2}, {91, 2}, {150, 2}, {210, 4}, {270, 4}, {900, 15}, {-90, -2},
      {1e300, 9000000000000000000LL}};
  // clang-format on
  for (auto [seconds, expected] : minutes) EXPECT_EQ(MinutesRoundedHalfEven(seconds), expected) << seconds;
}

}  // namespace
}  // namespace kalmora
