// Reading configuration texts as numbers, switches and minutes.
#include "config/numbers.h"

#include <gtest/gtest.h>

namespace kalmora {
namespace {

using namespace std::string_literals;

struct NumberCase {
  std::string text;
  std::optional<double> expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text.substr(0, 20) << '"'; }

class ReadsNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadsNumber, AsDecided) { EXPECT_EQ(ParseNumber(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadsNumber,
    ::testing::Values(NumberCase{"1", 1}, NumberCase{"0", 0}, NumberCase{" -1 ", -1}, NumberCase{"\t+180\t", 180},
                      NumberCase{"007", 7}, NumberCase{"1.5", 1.5}, NumberCase{"-0.25", -0.25}, NumberCase{".5", 0.5},
                      NumberCase{"5.", 5}, NumberCase{"1.0", 1}, NumberCase{std::string(100000, '0') + "2", 2},
                      // Not numbers.
                      NumberCase{"", std::nullopt}, NumberCase{" \t ", std::nullopt}, NumberCase{"abc", std::nullopt},
                      NumberCase{"1a", std::nullopt}, NumberCase{"1 2", std::nullopt}, NumberCase{"- 1", std::nullopt},
                      NumberCase{"+", std::nullopt}, NumberCase{".", std::nullopt}, NumberCase{"-.", std::nullopt},
                      NumberCase{"1,5", std::nullopt}, NumberCase{"1.2.3", std::nullopt},
                      NumberCase{"1e3", std::nullopt}, NumberCase{"0x10", std::nullopt},
                      NumberCase{"inf", std::nullopt}, NumberCase{"nan", std::nullopt}, NumberCase{"--1", std::nullopt},
                      NumberCase{"1\0"s, std::nullopt}, NumberCase{"\r1\n", std::nullopt},
                      // Beyond what a double holds.
                      NumberCase{"1" + std::string(400, '0'), std::nullopt},
                      NumberCase{"-" + std::string(100000, '9'), std::nullopt}));

TEST(Switches, OnOnlyForTheirNumber) {
  for (const char* on : {"1", " 1 ", "+1", "01", "1.0", "1.000"}) EXPECT_TRUE(IsOn(on)) << on;
  for (const char* off : {"0", "2", "-1", "1.5", "0.9", "", "yes", "true", "1e0"}) EXPECT_FALSE(IsOn(off)) << off;
  for (const char* on : {"-1", " -1 ", "-1.0", "-01"}) EXPECT_TRUE(IsTrueBoolean(on)) << on;
  for (const char* off : {"1", "0", "True", "-2", ""}) EXPECT_FALSE(IsTrueBoolean(off)) << off;
}

TEST(Minutes, RoundHalfToEven) {
  const std::pair<double, long long> cases[] = {{0, 0},   {29, 0},   {30, 0},   {31, 1},
                                                {89, 1},  {90, 2},   {150, 2},  {180, 3},
                                                {210, 4}, {900, 15}, {-90, -2}, {1e300, 9000000000000000000LL}};
  for (auto [seconds, minutes] : cases) EXPECT_EQ(MinutesRoundedHalfEven(seconds), minutes) << seconds;
}

}  // namespace
}  // namespace kalmora
