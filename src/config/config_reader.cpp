#include <algorithm>
#include <cctype>

#include "config/config.h"
#include "config/numbers.h"
#include "host/files.h"
#include "host/profile.h"

namespace kalmora {

std::string ReadProfileString(Profile& profile, const std::string& section, const std::string& key,
                              const std::string& path, const std::string& default_value) {
  return profile.GetProfileString(section, AsciiLower(key), default_value, path, 750);
}

namespace {

// Reads a text file the way the list sections need it: whole lines, and
// comma-separated fields that may run across lines. A line ends at CR LF, CR
// or LF, so a file saved with Unix line ends reads the same.
class TextCursor {
 public:
  // A file saved as "UTF-8 with BOM" starts with three bytes that are no
  // part of its first line; the profile lookup skips them too.
  explicit TextCursor(const std::string& bytes) : s_(bytes) {
    if (s_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
  }

  bool AtEnd() const { return pos_ >= s_.size(); }

  // One line without its line end; false when the file has already ended.
  bool ReadLine(std::string& line) {
    if (AtEnd()) return false;
    Mark();
    size_t e = pos_;
    while (e < s_.size() && s_[e] != '\r' && s_[e] != '\n') ++e;
    line.assign(s_, pos_, e - pos_);
    pos_ = e;
    SkipLineEnd();
    return true;
  }

  enum class Field { kRead, kEndOfFile, kOpenQuote };

  // One field of the message-holiday list. Fields end at a comma or a line
  // end; blanks before a field are skipped; double quotes enclose a field
  // that may hold commas and line ends; trailing blanks of an unquoted field
  // are dropped. A quote that is never closed would swallow the rest of the
  // file into one field, so it is reported instead.
  Field ReadField(std::string& field) {
    field.clear();
    after_comma_ = false;
    if (AtEnd()) return Field::kEndOfFile;
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    Mark();
    if (pos_ < s_.size() && s_[pos_] == '"') {
      size_t close = s_.find('"', pos_ + 1);
      if (close == std::string::npos) return Field::kOpenQuote;
      field.assign(s_, pos_ + 1, close - pos_ - 1);
      line_ += LineEnds(field);
      pos_ = close + 1;
      // Whatever stands between the closing quote and the delimiter is dropped.
      while (pos_ < s_.size() && s_[pos_] != ',' && s_[pos_] != '\r' && s_[pos_] != '\n') ++pos_;
    } else {
      size_t e = pos_;
      while (e < s_.size() && s_[e] != ',' && s_[e] != '\r' && s_[e] != '\n') ++e;
      std::string_view v(s_.data() + pos_, e - pos_);
      while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
      field.assign(v);
      pos_ = e;
    }
    if (pos_ < s_.size() && s_[pos_] == ',') {
      ++pos_;
      after_comma_ = true;
    } else {
      SkipLineEnd();
    }
    return Field::kRead;
  }

  // The last field ended at a comma, so its entry goes on.
  bool AfterComma() const { return after_comma_; }
  // The line (from 1) of the last line or field read.
  int Line() const { return last_line_; }
  // Marks the start of a line or field: its line is the current one.
  void Mark() { last_line_ = line_; }

 private:
  void SkipLineEnd() {
    if (pos_ < s_.size() && s_[pos_] == '\r') {
      ++pos_;
      if (pos_ < s_.size() && s_[pos_] == '\n') ++pos_;
      ++line_;
    } else if (pos_ < s_.size() && s_[pos_] == '\n') {
      ++pos_;
      ++line_;
    }
  }

  // Line ends inside a quoted field, counted as SkipLineEnd counts them.
  static int LineEnds(const std::string& text) {
    int n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))) ++n;
    }
    return n;
  }

  const std::string& s_;
  size_t pos_ = 0;
  int line_ = 1, last_line_ = 0;
  bool after_comma_ = false;
};

const char* const kOpenQuoteInMsgHolidays = "a quote in [MsgHolidays] is never closed";

// Moves past the line that is exactly `header`; false when the file has none.
bool SkipPastHeader(TextCursor& in, const char* header) {
  std::string line;
  while (in.ReadLine(line)) {
    if (line == header) return true;
  }
  return false;
}

// "date = description", or a date alone, with spaces (not tabs) around each.
void AddShutdownHoliday(const std::string& line, HolidayTables& tables) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) {
    tables.lstShutdownHolidaysDates.push_back(ParseHolidayDate(line));
    tables.lstShutdownHolidaysDescr.emplace_back();
  } else {
    tables.lstShutdownHolidaysDates.push_back(ParseHolidayDate(TrimSpaces(std::string_view(line).substr(0, eq))));
    tables.lstShutdownHolidaysDescr.push_back(TrimSpaces(std::string_view(line).substr(eq + 1)));
  }
}

// Shutdown holidays: one a line, up to a blank line, a comment, the next
// section or the file's last line (which is not read as a row).
// `ended_by` is the line that ended it.
bool ReadShutdownHolidays(TextCursor& in, HolidayTables& tables, std::string& failure, std::string& ended_by) {
  std::string line;
  for (;;) {
    if (!in.ReadLine(line)) {
      failure = "the list [ShutdownHolidays] runs to the end of the file";
      return false;
    }
    ended_by = line;
    if (line.empty() || line[0] == '[' || line[0] == ';' || in.AtEnd()) return true;
    AddShutdownHoliday(line, tables);
  }
}

// Where an entry's date should stand: the end of the file, a blank line, a
// comma, a comment or a section ends the list, and so does the end of the
// file right after the field's line end (after a comma the entry goes on).
bool EndsMsgHolidays(TextCursor::Field got, const std::string& first, const TextCursor& in) {
  return got == TextCursor::Field::kEndOfFile || first.empty() || first[0] == '[' || first[0] == ';' ||
         (in.AtEnd() && !in.AfterComma());
}

// The subject, body and address that follow an entry's date.
bool ReadRestOfEntry(TextCursor& in, std::string (&rest)[3], std::string& failure) {
  for (std::string& field : rest) {
    switch (in.ReadField(field)) {
      case TextCursor::Field::kOpenQuote:
        failure = kOpenQuoteInMsgHolidays;
        return false;
      case TextCursor::Field::kEndOfFile:
        failure = "the file ends inside an entry of [MsgHolidays]";
        return false;
      case TextCursor::Field::kRead:
        break;
    }
  }
  return true;
}

// Message holidays: four fields an entry, whatever the line boundaries; the
// date is cut to its first ten characters.
bool ReadMsgHolidays(TextCursor& in, HolidayTables& tables, std::string& failure) {
  std::string first;
  for (;;) {
    const TextCursor::Field got = in.ReadField(first);
    if (got == TextCursor::Field::kOpenQuote) {
      failure = kOpenQuoteInMsgHolidays;
      return false;
    }
    if (EndsMsgHolidays(got, first, in)) return true;
    std::string rest[3];
    if (!ReadRestOfEntry(in, rest, failure)) return false;
    tables.lstMsgHolidaysDates.push_back(ParseHolidayDate(std::string_view(first).substr(0, 10)));
    tables.lstMsgHolidaysSubject.push_back(std::move(rest[0]));
    tables.lstMsgHolidaysBody.push_back(std::move(rest[1]));
    tables.lstMsgHolidaysAddress.push_back(std::move(rest[2]));
    if (in.AtEnd()) return true;
  }
}

}  // namespace

namespace {
bool ReadHolidayLists(TextCursor& in, HolidayTables& tables, std::string& failure, int& line);
}  // namespace

bool ParseHolidayLists(const std::string& bytes, HolidayTables& tables, std::string& failure, int* failure_line) {
  tables.Clear();
  TextCursor in(bytes);
  int line = 0;
  const bool read = ReadHolidayLists(in, tables, failure, line);
  if (!read && failure_line) *failure_line = line;
  return read;
}

int KeyLine(const std::string& bytes, const std::string& section, const std::string& key) {
  TextCursor in(bytes);
  std::string line;
  bool in_section = false, section_seen = false;
  while (in.ReadLine(line)) {
    const std::string t(TrimBlanks(line));
    if (!t.empty() && t[0] == '[') {
      const size_t close = t.find(']');
      const bool match =
          close != std::string::npos && AsciiLower(TrimBlanks(t.substr(1, close - 1))) == AsciiLower(section);
      // Only the first section of the name counts.
      in_section = match && !section_seen;
      section_seen = section_seen || match;
      continue;
    }
    const size_t eq = t.find('=');
    if (in_section && eq != std::string::npos && AsciiLower(TrimBlanks(t.substr(0, eq))) == AsciiLower(key)) {
      return in.Line();
    }
  }
  return 0;
}

namespace {

// `line` names the line a failure is about: where the list ran out, where
// the shutdown list ended without a [MsgHolidays] after it, or the entry that
// broke off; none when there is no [ShutdownHolidays] at all.
bool ReadHolidayLists(TextCursor& in, HolidayTables& tables, std::string& failure, int& line) {
  if (!SkipPastHeader(in, "[ShutdownHolidays]")) {
    failure = "no line [ShutdownHolidays]";
    return false;
  }
  std::string ended_by;
  const bool listed = ReadShutdownHolidays(in, tables, failure, ended_by);
  line = in.Line();
  if (!listed) return false;
  if (!SkipPastHeader(in, "[MsgHolidays]")) {
    failure = "no line [MsgHolidays] after the list [ShutdownHolidays]";
    // The usual cause: the section header itself ended the list, having been
    // read as the line that closes it. Named on the row above, where the
    // blank line is missing.
    if (ended_by == "[MsgHolidays]") {
      failure =
          "no blank line between this row and [MsgHolidays]: that header ends the list [ShutdownHolidays] and is "
          "then not found as a section; insert an empty line after the last holiday";
      line -= 1;
    }
    return false;
  }
  // "[MsgHolidays]" as the last line of the file leaves the list empty.
  const bool read = ReadMsgHolidays(in, tables, failure);
  line = in.Line();
  return read;
}

}  // namespace

namespace {

// The last file read cleanly, and what it gave.
struct LastReading {
  std::string bytes;
  int program_major = 0;
  ConfigReadResult result;
};
LastReading& Last() {
  static LastReading last;
  return last;
}
int parses = 0;

}  // namespace

int ConfigurationParses() { return parses; }

const NothingReadYet& NothingRead() {
  static const NothingReadYet nothing{
      std::make_shared<Settings>(MakeSettings(std::vector<std::string>(SettingKeys().size()))),
      std::make_shared<HolidayTables>()};
  return nothing;
}

ConfigReadResult ParseConfiguration(Files& files, Profile& profile, const std::string& path, int program_major) {
  ConfigReadResult r;
  // Open it once up front: a missing or locked file fails before any key is
  // read, because the profile lookup would quietly give defaults.
  auto bytes = files.ReadFile(path);
  if (!bytes) {
    r.failure = "the file cannot be opened";
    return r;
  }
  LastReading& last = Last();
  if (last.program_major == program_major && last.bytes == *bytes) return last.result;
  ++parses;
  std::string version = ReadProfileString(profile, "GeneralOptions", "Version", path, "0");
  auto v = ParseNumber(version);
  if (!v) {
    r.failure = "Version is not a number";
    r.failure_line = KeyLine(*bytes, "GeneralOptions", "Version");
    return r;
  }
  if (*v == 0 || *v > program_major) r.incompatible_version = true;

  std::vector<std::string> texts;
  texts.reserve(SettingKeys().size());
  for (const SettingKey& k : SettingKeys()) {
    texts.push_back(ReadProfileString(profile, k.section, k.key, path, k.default_value));
  }
  r.values = std::make_shared<Settings>(MakeSettings(std::move(texts)));
  auto tables = std::make_shared<HolidayTables>();
  const bool listed = ParseHolidayLists(*bytes, *tables, r.failure, &r.failure_line);
  r.tables = std::move(tables);
  if (!listed) return r;
  r.status = 0;
  last = LastReading{std::move(*bytes), program_major, r};
  return r;
}

}  // namespace kalmora
