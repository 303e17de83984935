#include "notify/desk_texts.h"

#include <cstdio>

namespace kalmora {

const std::vector<DeskTextRow>& DeskTextRows() {
  using T = DeskText;
  static const std::vector<DeskTextRow> rows = {
      {T::ScheduledReason, kEnglish, "Scheduled shutdown"},
      {T::ScheduledReason, kGerman, "Geplantes Herunterfahren"},
      {T::ShutsDownAt, kEnglish, "This computer shuts down at %1."},
      {T::ShutsDownAt, kGerman, "Dieser Computer wird um %1 heruntergefahren."},
      {T::HibernatesAt, kEnglish, "This computer goes into hibernation at %1; open programs stay as they are."},
      {T::HibernatesAt, kGerman,
       "Dieser Computer geht um %1 in den Ruhezustand; ge\u00f6ffnete Programme bleiben, wie sie sind."},
      {T::SleepsAt, kEnglish, "This computer goes to sleep at %1."},
      {T::SleepsAt, kGerman, "Dieser Computer geht um %1 in den Energiesparmodus."},
      {T::InstallsUpdatesAt, kEnglish, "This computer installs updates and shuts down at %1."},
      {T::InstallsUpdatesAt, kGerman, "Dieser Computer installiert um %1 Updates und wird heruntergefahren."},
      {T::ShutsDownAfterWait, kEnglish, "This computer shuts down as soon as the wait is over."},
      {T::ShutsDownAfterWait, kGerman, "Dieser Computer wird heruntergefahren, sobald die Wartezeit vorbei ist."},
      {T::HibernatesAfterWait, kEnglish,
       "This computer goes into hibernation as soon as the wait is over; open programs stay as they are."},
      {T::HibernatesAfterWait, kGerman,
       "Dieser Computer geht in den Ruhezustand, sobald die Wartezeit vorbei ist; ge\u00f6ffnete Programme bleiben, "
       "wie sie sind."},
      {T::SleepsAfterWait, kEnglish, "This computer goes to sleep as soon as the wait is over."},
      {T::SleepsAfterWait, kGerman, "Dieser Computer geht in den Energiesparmodus, sobald die Wartezeit vorbei ist."},
      {T::InstallsUpdatesAfterWait, kEnglish,
       "This computer installs updates and shuts down as soon as the wait is over."},
      {T::InstallsUpdatesAfterWait, kGerman,
       "Dieser Computer installiert Updates und wird heruntergefahren, sobald die Wartezeit vorbei ist."},
      {T::TimeLeft, kEnglish, "Time left: %1"},
      {T::TimeLeft, kGerman, "Verbleibende Zeit: %1"},
      {T::WaitsForDesk, kEnglish, "It waits while someone is working at this computer."},
      {T::WaitsForDesk, kGerman, "Es wird gewartet, solange an diesem Computer gearbeitet wird."},
      {T::WaitsForUpdates, kEnglish, "It waits while Windows installs updates."},
      {T::WaitsForUpdates, kGerman, "Es wird gewartet, solange Windows Updates installiert."},
      {T::WaitsForProgram, kEnglish, "It waits while %1 runs."},
      {T::WaitsForProgram, kGerman, "Es wird gewartet, solange %1 l\u00e4uft."},
      {T::SaveWork, kEnglish, "Save your work now."},
      {T::SaveWork, kGerman, "Speichern Sie jetzt Ihre Arbeit."},
      {T::SaveWorkLatest, kEnglish, "Save your work now. It happens at %1 at the latest."},
      {T::SaveWorkLatest, kGerman, "Speichern Sie jetzt Ihre Arbeit. Es geschieht sp\u00e4testens um %1."},
      {T::Ok, kEnglish, "OK"},
      {T::Ok, kGerman, "OK"},
      {T::PostponeOneMinute, kEnglish, "Postpone 1 minute"},
      {T::PostponeOneMinute, kGerman, "Um 1 Minute verschieben"},
      {T::PostponeMinutes, kEnglish, "Postpone %1 minutes"},
      {T::PostponeMinutes, kGerman, "Um %1 Minuten verschieben"},
  };
  return rows;
}

std::string DeskString(DeskText text, uint16_t langid, const std::string& arg) {
  const uint16_t primary = langid & 0x3ff;
  const char* found = nullptr;
  for (const DeskTextRow& row : DeskTextRows()) {
    if (row.text != text) continue;
    if (row.language == primary) {
      found = row.utf8;
      break;
    }
    if (row.language == kEnglish && !found) found = row.utf8;
  }
  std::string out = found ? found : "";
  if (const size_t at = out.find("%1"); at != std::string::npos) out.replace(at, 2, arg);
  return out;
}

DeskLines MakeDeskLines(const DeskCountdown& c, uint16_t langid, uint32_t seconds_left) {
  DeskLines l;
  // The service names a scheduled shutdown in English; the reader's
  // language names it here. Holiday names stay as the administrator wrote
  // them.
  l.heading = c.reason == DeskString(DeskText::ScheduledReason, kEnglish)
                  ? DeskString(DeskText::ScheduledReason, langid)
                  : c.reason;
  const int action = static_cast<int>(c.action);
  if (c.waits == DeskWait::None) {
    l.action = DeskString(static_cast<DeskText>(static_cast<int>(DeskText::ShutsDownAt) + action), langid, c.halt_at);
    char left[32];
    if (seconds_left >= 3600) {
      std::snprintf(left, sizeof left, "%u:%02u:%02u", seconds_left / 3600, seconds_left / 60 % 60, seconds_left % 60);
    } else {
      std::snprintf(left, sizeof left, "%u:%02u", seconds_left / 60, seconds_left % 60);
    }
    l.progress = DeskString(DeskText::TimeLeft, langid, left);
  } else {
    l.action = DeskString(static_cast<DeskText>(static_cast<int>(DeskText::ShutsDownAfterWait) + action), langid);
    l.progress = c.waits == DeskWait::Desk      ? DeskString(DeskText::WaitsForDesk, langid)
                 : c.waits == DeskWait::Updates ? DeskString(DeskText::WaitsForUpdates, langid)
                                                : DeskString(DeskText::WaitsForProgram, langid, c.program);
  }
  l.advice = c.latest.empty() ? DeskString(DeskText::SaveWork, langid)
                              : DeskString(DeskText::SaveWorkLatest, langid, c.latest);
  l.ok = DeskString(DeskText::Ok, langid);
  if (c.postpone_minutes == 1) l.postpone = DeskString(DeskText::PostponeOneMinute, langid);
  if (c.postpone_minutes > 1)
    l.postpone = DeskString(DeskText::PostponeMinutes, langid, std::to_string(c.postpone_minutes));
  return l;
}

}  // namespace kalmora
