#include "notify/desk_command.h"

#include <gtest/gtest.h>

namespace kalmora::testing {
namespace {

// The splitting follows the documented examples of CommandLineToArgvW, so
// that what the service writes the desk program reads back unchanged.
TEST(DeskCommand, SplitsAsWindowsDoes) {
  // clang-format off
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {R"("abc" d e)", {"abc", "d", "e"}}, {R"(a\\b d"e f"g h)", {R"(a\\b)", "de fg", "h"}},
      {R"(a\\\"b c d)", {R"(a\"b)", "c", "d"}}, {R"(a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}}, {"  \t x  ", {"x"}},
      {R"("" "")", {"", ""}}, {R"("a""b")", {R"(a"b)"}}, {"", {}}};
  // clang-format on
  for (const auto& [line, args] : cases) EXPECT_EQ(SplitArguments(line), args) << line;
}

// Holiday names as administrators write them reach the window intact, with
// and without a postpone and a latest time; any other command line is
// refused, so that the program shows nothing.
TEST(DeskCommand, RoundTripsAndRefuses) {
  const std::string reasons[] = {
      "Christmas Eve",          "",          R"(say "hi")",          R"(C:\dir\)", "50% off %MIN%",
      "Heilige Drei K\xF6nige", "a\tb\r\nc", std::string(2000, 'x'), R"(\\"\\)"};
  for (const std::string& reason : reasons) {
    for (const DeskCountdown& c :
         {DeskCountdown{reason, "19:30:00", 900, 30, "22:00"},
          {reason, "07:00:00", 60},
          {reason, "20:00:00", 0, 0, "22:00", DeskAction::Hibernate, DeskWait::Program, reason + ".exe"},
          {reason, "20:00:00", 0, 0, "", DeskAction::InstallUpdates, DeskWait::Updates}}) {
      auto back = ParseDeskArguments(SplitArguments(DeskCommandLine(c)));
      ASSERT_TRUE(back) << reason;
      EXPECT_EQ(back->countdown, c) << reason;
    }
  }
  EXPECT_TRUE(ParseDeskArguments({"--idle"})->idle);
  const std::vector<std::string> refused[] = {
      // clang-format off
      {}, {"--idle", "--idle"}, {"--countdown"}, {"--countdown", "--reason", "x", "--at", "19:30:00"},
      {"--countdown", "--reason", "x", "--at", "19:30", "--in", "5"},
      {"--countdown", "--reason", "x", "--at", "24:00:00", "--in", "5"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "-5"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "5", "--postpone", "0"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "5", "--latest", "7:00"},
      {"--countdown", "--reason", "x", "--reason", "y", "--at", "19:30:00", "--in", "5"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "5", "--size", "9"}, {"garbage", "\xff"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "5", "--action", "shutdown"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "5", "--waits", "program:"},
      {"--countdown", "--reason", "x", "--at", "19:30:00", "--in", "5", "--waits", "nobody"}};
  // clang-format on
  for (const auto& args : refused) EXPECT_FALSE(ParseDeskArguments(args)) << args.size();
}

}  // namespace
}  // namespace kalmora::testing
