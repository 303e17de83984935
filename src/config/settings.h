// kalmora.ini as the program uses it: every key read once and interpreted
// once, into a value that does not change while the program runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "config/rules.h"

namespace kalmora {

// A number as written, and what it counts as.
struct Number {
  std::string text;              // as written, for the entries that quote it
  std::optional<double> parsed;  // nothing when the text is not a number
  double fallback = 0;           // the key's default, which a text that is none counts as
  double value() const { return parsed.value_or(fallback); }
};

// A time of day as written, and its moment in seconds since midnight when it
// reads as one.
struct TimeOfDay {
  std::string text;
  std::optional<float> moment;
};

// What the halt does ([GeneralOptions] ShutdownAction): the forced shutdown
// of old (empty), a planned shutdown, hibernation or sleep; any other text
// is Unknown and halts the old way.
enum class HaltAction { Forced, Shutdown, Hibernate, Sleep, Unknown };

// Every key but Version, by the names of the keys (EmailAddress and
// EmailSubject fill DefaultEmailAddress and DefaultEmailSubject). A switch is
// on when its text reads as the number 1, BeepOnShutdown when it reads as -1.
struct Settings {
  // [GeneralOptions]
  bool ShutdownEnabled = false;
  TimeOfDay DontShutdownAfter;  // the cut-off; its text fills %DSA%
  Number ShutdownDelay;
  bool BeepOnShutdown = false;
  Number ExitAfterCheck;  // compared as a number: a text that is none is neither 0 nor 1
  bool ForceExitAfterCheck = false;
  bool MsgOnShutdownEmail = false;
  bool MsgOnShutdownNet = false;
  std::string ShutdownMsg;  // empty: the built-in notice
  std::string HldyPlaceholder;
  std::string WeekendPlaceholder;
  std::string MsgOnHolidayEmail;  // read, and consulted nowhere
  std::string UpdateServer;
  bool UpdateEnabled = false;
  Number UpdateTimeout;
  bool DecideDaily = false;
  bool MsgOnShutdownSession = false;
  bool WeekendShutdown = false;
  bool MsgOnWeekendShutdownEmail = false;
  bool MsgOnWeekendShutdownNet = false;
  HaltAction ShutdownAction = HaltAction::Forced;
  bool InstallUpdates = false;
  bool DailyReport = false;
  // [Messaging]
  std::string NetAddress;
  std::string DefaultEmailAddress;
  std::string DefaultEmailSubject;
  std::string EmailSender;
  bool EmailUseBcc = false;
  std::string SmtpServer;
  bool SmtpRequireTls = false;
  std::string MsgHolidaysComputer;  // without blanks; empty: every host sends the message-holiday mails
  // [ScheduledShutdown]
  bool ScheduledShutdown = false;  // on only when some day has a time
  TimeOfDay ScheduledShutdownTime;
  // A day's own time (1 Monday .. 7 Sunday), when it has one.
  TimeOfDay ScheduledShutdownTime1, ScheduledShutdownTime2, ScheduledShutdownTime3, ScheduledShutdownTime4,
      ScheduledShutdownTime5, ScheduledShutdownTime6, ScheduledShutdownTime7;
  std::string ScheduledShutdownDays;
  std::string ScheduledShutdownMsg;      // empty: the built-in warning
  std::string ScheduledShutdownSubject;  // empty: EmailSubject, then the built-in subject
  Number ScheduledShutdownDelay;
  // [Desktop]
  bool CountdownWindow = false;
  int PostponeMinutes = 0;
  int MaxPostpones = 0;
  int IdleMinutes = 0;
  TimeOfDay LatestShutdown;  // strictly HH:MM, or no latest time
  // [Holds]
  std::vector<std::string> WhileRunning;  // program names in lower case, as listed
  bool WhileUpdating = false;

  // Each key's text as read, in the order of SettingKeys(), for what the
  // checker says of it.
  std::vector<std::string> texts;
  const std::string& Text(std::string_view key) const;
};

// How a key's text is read, and so what the checker says of a text that
// does not fit.
enum class KeyKind {
  Text,       // taken as it stands
  Trimmed,    // without surrounding blanks
  Switch,     // on when it reads as 1
  Beep,       // on when it reads as -1
  BlindCopy,  // any number but 0, or any text that is none
  Number,     // a number, else the default
  Minutes,    // a whole number of minutes from 0 to 1440, else the default
  CutOff,     // HH:MM, else no cut-off
  Clock,      // hours in the first two and minutes in the last two characters
  Latest,     // strictly HH:MM
  Action,     // empty, shutdown, hibernate or sleep, without case
  Programs,   // program names separated by commas
};

// Where a key's value goes; its type follows from the kind.
using SettingField = std::variant<bool Settings::*, std::string Settings::*, Number Settings::*, int Settings::*,
                                  TimeOfDay Settings::*, HaltAction Settings::*, std::vector<std::string> Settings::*>;

// One key of kalmora.ini: the one place that knows its section, name,
// default, kind, where it goes, and what check says a text that is not a
// number counts as.
struct SettingKey {
  const char* section;
  const char* key;
  const char* default_value;
  KeyKind kind;
  SettingField field;
  // Number and Minutes: what follows the default in what check says a text
  // that is none counts as ("180 seconds", "0 (no postpone)"); nothing when
  // check says nothing of it.
  const char* counts_as = nullptr;
};

// Every key after "Version", in the order the reader reads them.
const std::vector<SettingKey>& SettingKeys();

// Settings from each key's text, in the order of SettingKeys().
Settings MakeSettings(std::vector<std::string> texts);

// ShutdownAction's text as the service reads it.
HaltAction ParseHaltAction(std::string_view text);
// WhileRunning's text: each name between commas without surrounding blanks,
// in lower case; empty names are dropped.
std::vector<std::string> ParseProgramList(std::string_view text);

// The scheduled time of a weekday (1 Monday .. 7 Sunday): its own key when
// that is not empty, otherwise ScheduledShutdownTime; an empty text arms
// nothing.
const TimeOfDay& ScheduledTimeOf(const Settings& s, int weekday);

// The six holiday tables, rows in file order; dates are read as they are
// listed, once.
struct HolidayTables {
  std::vector<HolidayDate> lstShutdownHolidaysDates;
  std::vector<std::string> lstShutdownHolidaysDescr;
  std::vector<HolidayDate> lstMsgHolidaysDates;
  std::vector<std::string> lstMsgHolidaysSubject;
  std::vector<std::string> lstMsgHolidaysBody;
  std::vector<std::string> lstMsgHolidaysAddress;

  void Clear();
};

}  // namespace kalmora
