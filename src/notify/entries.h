// The event-log entries that say what became of a day's halt, written by the
// service and read back by the fleet report from one table of sentences: a
// changed sentence changes both, and a test that pins it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalmora {

enum class Entry {
  DailyReport,     // event 111: what the day's decision was
  Holiday,         // a holiday or weekend halt announced (more sentences may follow)
  Warning,         // the scheduled warning (more sentences may follow)
  HaltForced,      // the forced shutdown of old
  HaltNow,         // the halt with its action
  HaltCallFailed,  // error: the newer call failed, the forced shutdown follows
  Resumed,         // the host came back from hibernation or sleep
  Postponed,
  PostponeRefused,
  Waits,
  GoesAhead,
  WentAheadAtLatest,
  GivenUp,
  UpdateReport,  // the online update's report (lines follow)
};

// The entry's sentence with its holes ({name}) filled, in order.
std::string EntryText(Entry entry, const std::vector<std::string>& values = {});

// Which sentence a text is, and the values of its holes; nothing for a text
// that none of them is.
struct ReadEntry {
  Entry entry;
  std::vector<std::string> values;
};
std::optional<ReadEntry> ReadEntryText(std::string_view text);

}  // namespace kalmora
