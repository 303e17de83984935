// What the countdown window says, in the language of the person reading it:
// one row per text and language, so that another language is a row for
// each text. A language without its rows reads English.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notify/desk_command.h"

namespace kalmora {

enum class DeskText {
  ScheduledReason,  // the heading of a scheduled shutdown
  ShutsDownAt,      // the action's sentence, by DeskAction, with the time as %1
  HibernatesAt,
  SleepsAt,
  InstallsUpdatesAt,
  ShutsDownAfterWait,  // the same once nothing holds the halt any more
  HibernatesAfterWait,
  SleepsAfterWait,
  InstallsUpdatesAfterWait,
  TimeLeft,      // %1: 2:59 or 1:02:03
  WaitsForDesk,  // what a waiting halt waits for
  WaitsForUpdates,
  WaitsForProgram,  // %1: the program
  SaveWork,
  SaveWorkLatest,  // %1: HH:MM
  Ok,
  PostponeOneMinute,
  PostponeMinutes,  // %1: the minutes
};

struct DeskTextRow {
  DeskText text;
  uint16_t language;  // the primary language of a Windows LANGID: 0x09 English, 0x07 German
  const char* utf8;
};

inline constexpr uint16_t kEnglish = 0x09;
inline constexpr uint16_t kGerman = 0x07;

const std::vector<DeskTextRow>& DeskTextRows();
// The text in the language of `langid` (GetUserDefaultUILanguage), English
// when that language has no row for it; %1 replaced by `arg`.
std::string DeskString(DeskText text, uint16_t langid, const std::string& arg = {});

// The lines of the countdown window, top to bottom, as the service asked for
// them: heading, what happens when, the time left or what it waits for,
// what to do now.
struct DeskLines {
  std::string heading, action, progress, advice, ok, postpone;
};
// `seconds_left` is what remains now; the window calls this every second.
DeskLines MakeDeskLines(const DeskCountdown& c, uint16_t langid, uint32_t seconds_left);

}  // namespace kalmora
