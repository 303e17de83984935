// kalmora.ini: its keys, the holiday tables and the reader.
#pragma once

#include <string>
#include <vector>

namespace kalmora {

class Host;

// Configuration values, each kept as the text read from the file (or the
// key's default) and interpreted where it is used.
struct Configuration {
  std::string ShutdownEnabled;
  std::string DontShutdownAfter;
  std::string ShutdownDelay;
  std::string BeepOnShutdown;
  std::string ExitAfterCheck;
  std::string ForceExitAfterCheck;
  std::string MsgOnShutdownEmail;
  std::string MsgOnShutdownNet;
  std::string ShutdownMsg;
  std::string HldyPlaceholder;
  std::string WeekendPlaceholder;
  std::string MsgOnHolidayEmail;
  std::string UpdateServer;
  std::string UpdateEnabled;
  std::string UpdateTimeout;
  std::string DecideDaily;
  std::string MsgOnShutdownSession;
  std::string WeekendShutdown;
  std::string MsgOnWeekendShutdownEmail;
  std::string MsgOnWeekendShutdownNet;
  std::string NetAddress;
  std::string DefaultEmailAddress;  // key "EmailAddress"
  std::string DefaultEmailSubject;  // key "EmailSubject"
  std::string EmailSender;
  std::string EmailUseBcc;
  std::string SmtpServer;
  std::string SmtpRequireTls;
  std::string MsgHolidaysComputer;  // empty: every host sends the message-holiday mails
  std::string ScheduledShutdown;
  std::string ScheduledShutdownTime;
  // ScheduledShutdownTime1 (Monday) .. ScheduledShutdownTime7 (Sunday): a
  // day's own time, when it has one.
  std::string ScheduledShutdownTime1, ScheduledShutdownTime2, ScheduledShutdownTime3, ScheduledShutdownTime4,
      ScheduledShutdownTime5, ScheduledShutdownTime6, ScheduledShutdownTime7;
  std::string ScheduledShutdownDays;
  std::string ScheduledShutdownMsg;
  std::string ScheduledShutdownSubject;
  std::string ScheduledShutdownDelay;
  std::string CountdownWindow;
  std::string PostponeMinutes;
  std::string MaxPostpones;
  std::string IdleMinutes;
  std::string LatestShutdown;
};

// The scheduled time of a weekday (1 Monday .. 7 Sunday): its own key when
// that is not empty, otherwise ScheduledShutdownTime; empty arms nothing.
const std::string& ScheduledTimeOf(const Configuration& c, int weekday);
// Whether any scheduled time is set at all, for the weekday keys or for all days.
bool AnyScheduledTime(const Configuration& c);

// One keyed value of the file: where it lives, its default and where it goes.
struct ConfigKey {
  const char* section;
  const char* key;
  const char* default_value;
  std::string Configuration::*field;
};

// Every key after "Version", in the order the reader reads them.
const std::vector<ConfigKey>& ConfigKeys();

// The six holiday tables, rows in file order.
struct HolidayTables {
  std::vector<std::string> lstShutdownHolidaysDates;
  std::vector<std::string> lstShutdownHolidaysDescr;
  std::vector<std::string> lstMsgHolidaysDates;
  std::vector<std::string> lstMsgHolidaysSubject;
  std::vector<std::string> lstMsgHolidaysBody;
  std::vector<std::string> lstMsgHolidaysAddress;

  void Clear();
};

// What a reading produced. On failure the values and rows read up to the
// failing step are kept, as they were read.
struct ConfigReadResult {
  int status = 1;  // 0 read, 1 failed
  bool incompatible_version = false;
  std::string failure;   // why it failed, for administrators
  int failure_line = 0;  // the line of kalmora.ini it is about; 0 when none
  Configuration values;
  HolidayTables tables;
};

// ReadProfileString: the key is looked up in lower case with a 750-character
// buffer, so a value is at most 749 characters long.
std::string ReadProfileString(Host& host, const std::string& section, const std::string& key, const std::string& path,
                              const std::string& default_value);

// Reads the file at `path` (the whole reading of kalmora.ini, without the
// logging, so that a downloaded file can be checked the same way).
ConfigReadResult ParseConfiguration(Host& host, const std::string& path, int program_major);

// The two list sections alone, from the file's bytes, replacing the rows
// `tables` held; `failure` is set when the reading fails. Exposed for tests
// and benchmarks.
bool ParseHolidayLists(const std::string& bytes, HolidayTables& tables, std::string& failure,
                       int* failure_line = nullptr);

// The line (from 1) on which the profile lookup finds `key` of `section`, as
// it finds it: names without regard to case, the first section and the first
// key in it; 0 when it is not there.
int KeyLine(const std::string& bytes, const std::string& section, const std::string& key);

}  // namespace kalmora
