// kalmora.ini: reading it, in one pass over its bytes, into the settings and
// the holiday tables.
#pragma once

#include <memory>
#include <string>

#include "config/settings.h"

namespace kalmora {

class Files;
class Profile;

// The settings and tables before anything is read: every key's text empty,
// no rows. Made once and shared.
struct NothingReadYet {
  std::shared_ptr<const Settings> values;
  std::shared_ptr<const HolidayTables> tables;
};
const NothingReadYet& NothingRead();

// What a reading produced. On failure the values and rows read up to the
// failing step are kept, as they were read. Both are shared and never
// change: a reading of the same bytes hands out the same ones.
struct ConfigReadResult {
  int status = 1;  // 0 read, 1 failed
  bool incompatible_version = false;
  std::string failure;   // why it failed, for administrators
  int failure_line = 0;  // the line of kalmora.ini it is about; 0 when none
  std::shared_ptr<const Settings> values = NothingRead().values;
  std::shared_ptr<const HolidayTables> tables = NothingRead().tables;
};

// ReadProfileString: the key is looked up in lower case with a 750-character
// buffer, so a value is at most 749 characters long.
std::string ReadProfileString(Profile& profile, const std::string& section, const std::string& key,
                              const std::string& path, const std::string& default_value);

// Reads the file at `path` (the whole reading of kalmora.ini, without the
// logging, so that a downloaded file can be checked the same way). The file
// is read once; when its bytes are those of the last file read cleanly, that
// reading is handed out again, as Windows keeps a profile file it has read.
ConfigReadResult ParseConfiguration(Files& files, Profile& profile, const std::string& path, int program_major);

// How many readings so far parsed a file rather than finding it unchanged:
// the count that keeps a start and a year's plan at one parse each.
int ConfigurationParses();

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
