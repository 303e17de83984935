#include "notify/desk_command.h"

#include <gtest/gtest.h>

#include "notify/desk_texts.h"

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

// Every text has its German row with the same placeholder; a language
// without rows reads English, a German of another country reads German.
TEST(DeskTexts, EveryTextInBothLanguages) {
  for (int t = 0; t <= static_cast<int>(DeskText::PostponeMinutes); ++t) {
    const auto text = static_cast<DeskText>(t);
    const std::string en = DeskString(text, kEnglish, "X"), de = DeskString(text, kGerman, "X");
    EXPECT_FALSE(en.empty()) << t;
    EXPECT_FALSE(de.empty()) << t;
    EXPECT_EQ(DeskString(text, kEnglish).find("%1"), std::string::npos) << t;
    EXPECT_EQ(en.find('X') != std::string::npos, de.find('X') != std::string::npos) << t;
  }
  DeskCountdown scheduled{"Scheduled shutdown", "20:00:00", 3723, 15, "22:00", DeskAction::Hibernate};
  DeskCountdown waits{"Heilige Drei K\u00f6nige", "20:00:00",        0,           0, "22:00",
                      DeskAction::Shutdown,       DeskWait::Program, "backup.exe"};
  const struct {
    DeskCountdown c;
    uint16_t langid;
    DeskLines lines;
  } cases[] = {
      {scheduled,
       0x0409,
       {"Scheduled shutdown", "This computer goes into hibernation at 20:00:00; open programs stay as they are.",
        "Time left: 1:02:03", "Save your work now. It happens at 22:00 at the latest.", "OK", "Postpone 15 minutes"}},
      {scheduled,
       0x0807,
       {"Geplantes Herunterfahren",
        "Dieser Computer geht um 20:00:00 in den Ruhezustand; ge\u00f6ffnete Programme bleiben, wie sie sind.",
        "Verbleibende Zeit: 1:02:03", "Speichern Sie jetzt Ihre Arbeit. Es geschieht sp\u00e4testens um 22:00.", "OK",
        "Um 15 Minuten verschieben"}},
      {waits,
       0x0407,
       {"Heilige Drei K\u00f6nige", "Dieser Computer wird heruntergefahren, sobald die Wartezeit vorbei ist.",
        "Es wird gewartet, solange backup.exe l\u00e4uft.",
        "Speichern Sie jetzt Ihre Arbeit. Es geschieht sp\u00e4testens um 22:00.", "OK", ""}},
      {waits,
       0x040C,
       {"Heilige Drei K\u00f6nige", "This computer shuts down as soon as the wait is over.",
        "It waits while backup.exe runs.", "Save your work now. It happens at 22:00 at the latest.", "OK", ""}},
  };
  for (const auto& c : cases) {
    const DeskLines l = MakeDeskLines(c.c, c.langid, c.c.seconds_left);
    const std::vector<std::string> got = {l.heading, l.action, l.progress, l.advice, l.ok, l.postpone};
    const std::vector<std::string> want = {c.lines.heading, c.lines.action, c.lines.progress,
                                           c.lines.advice,  c.lines.ok,     c.lines.postpone};
    EXPECT_EQ(got, want) << c.langid;
  }
}

}  // namespace
}  // namespace kalmora::testing
