#include "config/config_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "config/config.h"
#include "config/numbers.h"
#include "host/host.h"
#include "notify/mail_file.h"
#include "notify/smtp.h"
#include "service/rules.h"
#include "update/signature.h"
#include "update/signed_index.h"

namespace kalmora {

const char* SeverityName(Severity s) {
  switch (s) {
    case Severity::Note:
      return "note";
    case Severity::Warning:
      return "warning";
    case Severity::Error:
      return "error";
  }
  return "note";
}

const std::vector<CheckRule>& CheckRules() {
  static const std::vector<CheckRule> rules = {
      {"unreadable", Severity::Error,
       "the service cannot read this file and stops every time it starts (event 109): %s"},
      {"utf16", Severity::Error,
       "the file is saved as UTF-16; save it as ANSI (Windows-1252), the only text Kalmora reads"},
      {"utf8", Severity::Warning,
       "this line holds UTF-8 characters, which mail shows garbled (\"Ã¤\" for \"ä\"); save the file as ANSI "
       "(Windows-1252)"},
      {"version", Severity::Warning, "%s"},
      {"unknown-key", Severity::Warning, "%s is no key of [%s] and is not read%s"},
      {"wrong-section", Severity::Warning, "%s belongs in [%s]; here in [%s] it is not read"},
      {"duplicate-key", Severity::Warning, "%s appears again; the one on line %s is read and this one is not"},
      {"duplicate-section", Severity::Warning,
       "[%s] appears again (first on line %s); the keys under this one are not read"},
      {"switch", Severity::Warning, "%s=%s counts as off: a switch is on only when it reads as the number 1"},
      {"beep", Severity::Warning, "BeepOnShutdown=%s leaves the beeps off: they are on only with -1"},
      {"number", Severity::Warning, "%s=%s is not a number and counts as %s"},
      {"short-delay", Severity::Warning, "%s=%s counts seconds, not minutes: %s"},
      {"cut-off", Severity::Warning, "%s"},
      {"scheduled-time", Severity::Warning, "%s"},
      {"unused-day-time", Severity::Warning,
       "%s is set, but %s is not in ScheduledShutdownDays=%s: no shutdown is armed on that day"},
      {"one-sender", Severity::Note,
       "only the computer %s sends the message-holiday mails; every other host that reads this file skips them"},
      {"scheduled-days", Severity::Warning,
       "ScheduledShutdownDays=%s: only the digits 1 (Monday) to 7 (Sunday) count, so this means %s"},
      {"update-server", Severity::Warning,
       "UpdateServer does not end with \"/\": \"kalmora/\" is appended to it as it stands (%skalmora/), so no update "
       "is ever found"},
      {"plain-http", Severity::Note,
       "the update server is reached over plain http: only the optional IniSha256 and ExeSha256 pins of versions.idx "
       "guard what arrives"},
      {"unsigned-http", Severity::Warning,
       "UpdateEnabled=1 over plain http without system\\update-key.pem: whoever can change what the network "
       "carries can hand every host a program of their choosing; sign the updates (kalmora-sim publish)"},
      {"unsigned", Severity::Note,
       "updates are not signed: whoever controls the update server controls the hosts; system\\update-key.pem "
       "would make them accept only signed updates"},
      {"signed", Severity::Note, "updates are accepted only when signed with the key in system\\update-key.pem"},
      {"update-key", Severity::Error,
       "the key file system\\update-key.pem is not a P-256 public key (%s): the online update stops at every start "
       "(event 109)"},
      {"no-address", Severity::Warning, "%s is on but %s is empty: the notice goes to nobody"},
      {"smtp-server", Severity::Warning, "%s: no mail can be sent"},
      {"desktop", Severity::Warning, "%s"},
      {"missing-file", Severity::Warning, "%s needs %s in the program directory, which is missing"},
      {"list-ended", Severity::Warning,
       "this %s line ends [ShutdownHolidays]: the %s row(s) after it are not read; remove it or move it below the "
       "list"},
      {"date-form", Severity::Warning,
       "the date %s is not DD.MM.YYYY (or DD.MM.#### for every year) and never matches"},
      {"impossible-date", Severity::Warning, "%s does not exist; the calendar carries it over to %s"},
      {"past-year", Severity::Warning, "%s lies in %s, a year that has passed: the row never matches again"},
      {"duplicate-date", Severity::Note, "%s is listed again (first on line %s)%s"},
      {"shifted-fields", Severity::Warning,
       "%s fields on this line: an unquoted comma shifts every field after it; put subjects and bodies in double "
       "quotes"},
  };
  return rules;
}

namespace {

const CheckRule& Rule(const std::string& name) {
  for (const CheckRule& r : CheckRules()) {
    if (name == r.name) return r;
  }
  return CheckRules().front();
}

// The rule's sentence with each "%s" replaced by the next part.
std::string Fill(const CheckRule& rule, const std::vector<std::string>& parts) {
  std::string out, s = rule.sentence;
  size_t i = 0, pos = 0;
  for (size_t at; (at = s.find("%s", pos)) != std::string::npos; pos = at + 2) {
    out += s.substr(pos, at - pos) + (i < parts.size() ? parts[i++] : "");
  }
  return out + s.substr(pos);
}

struct Line {
  int number;
  std::string text;
};

// The file's lines as the reader splits them (CR LF, CR or LF), without a
// UTF-8 byte-order mark.
std::vector<Line> SplitLines(const std::string& bytes) {
  std::vector<Line> lines;
  size_t pos = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int number = 1;
  while (pos < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back({number++, bytes.substr(pos, end - pos)});
    pos = end;
    if (pos < bytes.size() && bytes[pos] == '\r') {
      ++pos;
      if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
    } else if (pos < bytes.size()) {
      ++pos;
    }
  }
  return lines;
}

class Checker {
 public:
  Checker(Host& host, const std::string& bytes, const ConfigReadResult& read)
      : host_(host), lines_(SplitLines(bytes)), read_(read) {}

  void Add(int line, const std::string& rule, const std::vector<std::string>& parts = {}) {
    const CheckRule& r = Rule(rule);
    findings_.push_back({line, &r, Fill(r, parts)});
  }
  std::vector<Finding> Take() {
    std::stable_sort(findings_.begin(), findings_.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    return std::move(findings_);
  }

  void Encoding();
  void KeyedSections();
  void Values(int program_major);
  void Files();
  void Desktop();
  void ScheduledTimes();
  void UpdateKey();
  void ShutdownHolidays();
  void MsgHolidays();

 private:
  int KeyAt(const std::string& section, const std::string& key) const {
    auto it = key_lines_.find(AsciiLower(section) + "/" + AsciiLower(key));
    return it == key_lines_.end() ? 0 : it->second;
  }
  // Only keys that stand in the file are judged: a default is always fine.
  void Switch(const char* section, const char* key, const std::string& value);
  void DateRow(int line, const std::string& date, std::map<std::string, int>& seen, const char* later_wins);

  Host& host_;
  std::vector<Line> lines_;
  const ConfigReadResult& read_;
  std::map<std::string, int> key_lines_;  // "section/key" in lower case -> line of the one read
  std::vector<Finding> findings_;
};

void Checker::Encoding() {
  for (const Line& l : lines_) {
    for (size_t i = 0; i + 1 < l.text.size(); ++i) {
      const auto c = static_cast<unsigned char>(l.text[i]), d = static_cast<unsigned char>(l.text[i + 1]);
      if (c >= 0xC2 && c <= 0xF4 && d >= 0x80 && d <= 0xBF) {
        Add(l.number, "utf8");
        return;
      }
    }
  }
}

// Sections and keys as the profile lookup sees them: names without regard to
// case, the first section of a name and the first key in it.
void Checker::KeyedSections() {
  std::set<std::string> keyed = {"generaloptions", "messaging", "scheduledshutdown", "desktop"};
  std::map<std::string, std::string> home;  // lower-case key -> its section
  for (const ConfigKey& k : ConfigKeys()) home[AsciiLower(k.key)] = k.section;
  home["version"] = "GeneralOptions";
  std::map<std::string, int> first_section;
  std::string section, section_name;
  bool read_here = false;
  for (const Line& l : lines_) {
    const std::string t(TrimBlanks(l.text));
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      section_name = std::string(TrimBlanks(t.substr(1, t.find(']') - 1)));
      section = AsciiLower(section_name);
      auto [it, fresh] = first_section.emplace(section, l.number);
      read_here = fresh;
      if (!fresh && keyed.count(section))
        Add(l.number, "duplicate-section", {section_name, std::to_string(it->second)});
      continue;
    }
    const size_t eq = t.find('=');
    if (!keyed.count(section) || eq == std::string::npos || !read_here) continue;
    const std::string key(TrimBlanks(t.substr(0, eq)));
    const std::string lower = AsciiLower(key);
    auto known = home.find(lower);
    if (known == home.end()) {
      std::string best;
      size_t best_distance = 3;
      for (const auto& [candidate, sec] : home) {
        // Levenshtein distance: a near miss is a typing mistake.
        std::vector<size_t> row(candidate.size() + 1);
        for (size_t j = 0; j < row.size(); ++j) row[j] = j;
        for (size_t i = 1; i <= lower.size(); ++i) {
          size_t diagonal = row[0]++;
          for (size_t j = 1; j <= candidate.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower[i - 1] == candidate[j - 1] ? 0 : 1)});
            diagonal = up;
          }
        }
        if (row.back() < best_distance) {
          best_distance = row.back();
          best = candidate;
        }
      }
      std::string hint;
      for (const ConfigKey& k : ConfigKeys()) {
        if (AsciiLower(k.key) == best) hint = "; did you mean " + std::string(k.key) + "?";
      }
      if (best == "version") hint = "; did you mean Version?";
      Add(l.number, "unknown-key", {key, section_name, hint});
    } else if (AsciiLower(known->second) != section) {
      Add(l.number, "wrong-section", {key, known->second, section_name});
    } else if (auto [it, fresh] = key_lines_.emplace(section + "/" + lower, l.number); !fresh) {
      Add(l.number, "duplicate-key", {key, std::to_string(it->second)});
    }
  }
}

void Checker::Switch(const char* section, const char* key, const std::string& value) {
  const int line = KeyAt(section, key);
  if (line && !IsOn(value) && ParseNumber(value).value_or(1) != 0) Add(line, "switch", {key, value});
}

void Checker::Values(int program_major) {
  const Configuration& c = read_.values;
  const int version_line = KeyAt("GeneralOptions", "Version");
  if (read_.incompatible_version) {
    Add(version_line, "version",
        {version_line ? "Version is not " + std::to_string(program_major) +
                            ": the service logs a warning that the file may not fit this program at every start"
                      : "Version is missing: the service logs a warning that the file may not fit this program at "
                        "every start; add Version=" +
                            std::to_string(program_major)});
  }
  const std::pair<const char*, const std::string Configuration::*> switches[] = {
      {"ShutdownEnabled", &Configuration::ShutdownEnabled},
      {"ForceExitAfterCheck", &Configuration::ForceExitAfterCheck},
      {"MsgOnShutdownEmail", &Configuration::MsgOnShutdownEmail},
      {"MsgOnShutdownNet", &Configuration::MsgOnShutdownNet},
      {"UpdateEnabled", &Configuration::UpdateEnabled},
      {"WeekendShutdown", &Configuration::WeekendShutdown},
      {"MsgOnWeekendShutdownEmail", &Configuration::MsgOnWeekendShutdownEmail},
      {"MsgOnWeekendShutdownNet", &Configuration::MsgOnWeekendShutdownNet},
      {"DecideDaily", &Configuration::DecideDaily},
      {"MsgOnShutdownSession", &Configuration::MsgOnShutdownSession},
  };
  for (const auto& [key, field] : switches) Switch("GeneralOptions", key, c.*field);
  Switch("ScheduledShutdown", "ScheduledShutdown", c.ScheduledShutdown);
  Switch("Messaging", "SmtpRequireTls", c.SmtpRequireTls);
  if (int line = KeyAt("Messaging", "SmtpServer"); line && !c.SmtpServer.empty()) {
    if (auto problem = SmtpServerProblem(c.SmtpServer)) Add(line, "smtp-server", {*problem});
    if (c.EmailSender.empty()) Add(line, "smtp-server", {"SmtpServer is set but EmailSender is empty"});
  }
  if (int line = KeyAt("GeneralOptions", "BeepOnShutdown");
      line && !IsTrueBoolean(c.BeepOnShutdown) && ParseNumber(c.BeepOnShutdown).value_or(1) != 0) {
    Add(line, "beep", {c.BeepOnShutdown});
  }
  const std::tuple<const char*, const char*, const std::string*, const char*> numbers[] = {
      {"GeneralOptions", "ShutdownDelay", &c.ShutdownDelay, "180 seconds"},
      {"GeneralOptions", "UpdateTimeout", &c.UpdateTimeout, "120 seconds"},
      {"ScheduledShutdown", "ScheduledShutdownDelay", &c.ScheduledShutdownDelay, "900 seconds"},
  };
  for (const auto& [section, key, value, fallback] : numbers) {
    if (int line = KeyAt(section, key); line && !ParseNumber(*value)) Add(line, "number", {key, *value, fallback});
  }
  // Minutes typed where seconds are meant leave nobody the time to save
  // their work. A scheduled delay of 0 is the documented way to send no
  // warning.
  if (int line = KeyAt("GeneralOptions", "ShutdownDelay"); line && ParseNumber(c.ShutdownDelay).value_or(60) < 60) {
    Add(line, "short-delay",
        {"ShutdownDelay", c.ShutdownDelay, "the host halts " + c.ShutdownDelay + " seconds after the notice"});
  }
  if (int line = KeyAt("ScheduledShutdown", "ScheduledShutdownDelay")) {
    const double d = ParseNumber(c.ScheduledShutdownDelay).value_or(60);
    if (d != 0 && d < 60) {
      Add(line, "short-delay",
          {"ScheduledShutdownDelay", c.ScheduledShutdownDelay,
           "the warning goes out only " + c.ScheduledShutdownDelay + " seconds before the halt"});
    }
  }
  if (int line = KeyAt("Messaging", "MsgHolidaysComputer"); line && !TrimBlanks(c.MsgHolidaysComputer).empty()) {
    Add(line, "one-sender", {std::string(TrimBlanks(c.MsgHolidaysComputer))});
  }
  if (int line = KeyAt("GeneralOptions", "DontShutdownAfter")) {
    auto moment = ScheduledMoment(c.DontShutdownAfter);
    if (c.DontShutdownAfter.size() != 5 || !moment) {
      Add(line, "cut-off", {"DontShutdownAfter=" + c.DontShutdownAfter + " is not HH:MM, so there is no cut-off"});
    } else if (*moment < 6 * 3600) {
      Add(line, "cut-off",
          {"DontShutdownAfter=" + c.DontShutdownAfter +
           " is earlier than any plausible boot: no holiday or weekend shutdown will start"});
    }
  }
  ScheduledTimes();
  if (int line = KeyAt("ScheduledShutdown", "ScheduledShutdownDays")) {
    const std::string& d = c.ScheduledShutdownDays;
    if (d.find_first_not_of("1234567") != std::string::npos) {
      static const char* kDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
      std::string meant;
      for (int day = 1; day <= 7; ++day) {
        if (ScheduledOnWeekday(d, day)) meant += (meant.empty() ? "" : ", ") + std::string(kDays[day - 1]);
      }
      Add(line, "scheduled-days", {d, meant.empty() ? "no day at all" : meant});
    }
  }
  if (int line = KeyAt("GeneralOptions", "UpdateServer"); line && !c.UpdateServer.empty()) {
    if (c.UpdateServer.back() != '/') Add(line, "update-server", {c.UpdateServer});
    // With the update on, UpdateKey() says how much http matters.
    if (AsciiLower(c.UpdateServer).rfind("http://", 0) == 0 && !IsOn(c.UpdateEnabled)) Add(line, "plain-http");
  }
  const bool mail = IsOn(c.MsgOnShutdownEmail) || IsOn(c.MsgOnWeekendShutdownEmail);
  const bool net = IsOn(c.MsgOnShutdownNet) || IsOn(c.MsgOnWeekendShutdownNet);
  if (mail && c.DefaultEmailAddress.empty()) {
    const int line =
        KeyAt("GeneralOptions", IsOn(c.MsgOnShutdownEmail) ? "MsgOnShutdownEmail" : "MsgOnWeekendShutdownEmail");
    Add(line, "no-address", {"an e-mail notice", "EmailAddress"});
  }
  if (net && c.NetAddress.empty()) {
    const int line = KeyAt("GeneralOptions", IsOn(c.MsgOnShutdownNet) ? "MsgOnShutdownNet" : "MsgOnWeekendShutdownNet");
    Add(line, "no-address", {"a NET SEND notice", "NetAddress"});
  }
}

// [Desktop]: the countdown window, postpones and the idle wait.
void Checker::Desktop() {
  const Configuration& c = read_.values;
  Switch("Desktop", "CountdownWindow", c.CountdownWindow);
  const std::tuple<const char*, const std::string*, const char*> numbers[] = {
      {"PostponeMinutes", &c.PostponeMinutes, "0 (no postpone)"},
      {"MaxPostpones", &c.MaxPostpones, "1"},
      {"IdleMinutes", &c.IdleMinutes, "0 (no idle wait)"}};
  for (const auto& [key, value, fallback] : numbers) {
    if (int line = KeyAt("Desktop", key); line && !DesktopCount(*value)) {
      Add(line, "desktop",
          {std::string(key) + "=" + *value +
           " is not a whole number of minutes from 0 to 1440 and "
           "counts as " +
           fallback});
    }
  }
  if (int line = KeyAt("Desktop", "PostponeMinutes");
      line && DesktopCount(c.PostponeMinutes).value_or(0) > 0 && !IsOn(c.CountdownWindow)) {
    Add(line, "desktop",
        {"PostponeMinutes has no effect without CountdownWindow=1: the postpone button is in the "
         "countdown window"});
  }
  const int latest_line = KeyAt("Desktop", "LatestShutdown");
  if (!latest_line || c.LatestShutdown.empty()) return;
  const auto latest = LatestShutdownMoment(c.LatestShutdown);
  if (!latest) {
    Add(latest_line, "desktop", {"LatestShutdown=" + c.LatestShutdown + " is not HH:MM, so there is no latest time"});
    return;
  }
  auto scheduled = ScheduledMoment(c.ScheduledShutdownTime);
  if (IsOn(c.ScheduledShutdown) && scheduled && *latest <= *scheduled) {
    Add(latest_line, "desktop",
        {"LatestShutdown=" + c.LatestShutdown + " is not after ScheduledShutdownTime=" + c.ScheduledShutdownTime +
         ": no postpone or idle wait can move the scheduled shutdown"});
  }
}

// The common time and each weekday's own, as the decision reads them.
void Checker::ScheduledTimes() {
  const Configuration& c = read_.values;
  static const char* kDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
  for (const ConfigKey& k : ConfigKeys()) {
    const std::string key = k.key;
    if (key.rfind("ScheduledShutdownTime", 0) != 0) continue;
    const int day = key.size() > 21 ? key.back() - '0' : 0;
    const std::string& t = c.*k.field;
    const int line = KeyAt("ScheduledShutdown", key);
    if (!line || t.empty()) continue;
    auto moment = ScheduledMoment(t);
    if (!moment) {
      Add(line, "scheduled-time",
          {key + "=" + t +
           " arms nothing: the hours are the first two and the "
           "minutes the last two characters; write it as HH:MM (07:30)"});
    } else if (t.size() != 5 || *moment >= 86400) {
      Add(line, "scheduled-time",
          {key + "=" + t + " is read as " + std::to_string(int(*moment) / 3600) + " hours and " +
           std::to_string(int(*moment) / 60 % 60) + " minutes; write it as HH:MM"});
    }
    if (day && !ScheduledOnWeekday(c.ScheduledShutdownDays, day)) {
      Add(line, "unused-day-time", {key, std::to_string(day) + " (" + kDays[day - 1] + ")", c.ScheduledShutdownDays});
    }
  }
}

void Checker::Files() {
  const Configuration& c = read_.values;
  const bool mail =
      IsOn(c.MsgOnShutdownEmail) || IsOn(c.MsgOnWeekendShutdownEmail) || !read_.tables.lstMsgHolidaysDates.empty();
  const char* sender = c.SmtpServer.empty() ? "system\\send.bat" : "system\\curl.exe";
  if (mail && !host_.FileExists(sender)) Add(0, "missing-file", {"Sending e-mail", sender});
  if (IsOn(c.UpdateEnabled) && !host_.FileExists("system\\curl.exe")) {
    Add(KeyAt("GeneralOptions", "UpdateEnabled"), "missing-file", {"UpdateEnabled=1", "system\\curl.exe"});
  }
}

// Whether the hosts accept only signed updates, and whether they can: a key
// file the service cannot use stops every update.
void Checker::UpdateKey() {
  const Configuration& c = read_.values;
  if (!IsOn(c.UpdateEnabled)) return;
  const int enabled = KeyAt("GeneralOptions", "UpdateEnabled");
  auto pem = host_.ReadFile(kUpdateKeyFile);
  if (!pem && !host_.FileExists(kUpdateKeyFile)) {
    const bool http = AsciiLower(c.UpdateServer).rfind("http://", 0) == 0;
    Add(http ? KeyAt("GeneralOptions", "UpdateServer") : enabled, http ? "unsigned-http" : "unsigned");
    return;
  }
  Result<std::string> key = pem ? ReadP256PublicKeyPem(*pem) : Result<std::string>::Failure("it cannot be read");
  // Any signature will do: only the key's own failure counts here.
  Result<bool> usable = key ? host_.Signatures().VerifyP256Sha256("", *key, std::string(64, '\x01')) : key.status();
  if (!usable) {
    Add(0, "update-key", {usable.reason()});
  } else {
    Add(enabled, "signed");
  }
}

// A date as DD.MM.YYYY or DD.MM.####; one that the calendar carries over is
// possible but surely not meant.
void Checker::DateRow(int line, const std::string& date, std::map<std::string, int>& seen, const char* later_wins) {
  const bool form = date.size() == 10 && date[2] == '.' && date[5] == '.' &&
                    std::all_of(date.begin(), date.begin() + 2, ::isdigit) &&
                    std::all_of(date.begin() + 3, date.begin() + 5, ::isdigit) &&
                    (date.substr(6) == "####" || std::all_of(date.begin() + 6, date.end(), ::isdigit));
  if (!form) {
    Add(line, "date-form", {date});
    return;
  }
  const int day = std::stoi(date.substr(0, 2)), month = std::stoi(date.substr(3, 2));
  const int year = date.substr(6) == "####" ? 2027 : std::stoi(date.substr(6));
  if (date.substr(6) != "####" && year < host_.Now().year) Add(line, "past-year", {date, date.substr(6)});
  auto combined = CombineDate(year, month, day);
  if (combined && (combined->day != day || combined->month != month) && !(day == 29 && month == 2)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d", combined->day, combined->month);
    Add(line, "impossible-date", {date, buf});
  }
  if (auto [it, fresh] = seen.emplace(date, line); !fresh) {
    Add(line, "duplicate-date", {date, std::to_string(it->second), later_wins});
  }
}

void Checker::ShutdownHolidays() {
  auto header =
      std::find_if(lines_.begin(), lines_.end(), [](const Line& l) { return l.text == "[ShutdownHolidays]"; });
  if (header == lines_.end()) return;
  std::map<std::string, int> seen;
  auto it = header + 1;
  for (; it != lines_.end() && it + 1 != lines_.end(); ++it) {
    const std::string& t = it->text;
    if (t.empty() || t[0] == '[' || t[0] == ';') break;
    const size_t eq = t.find('=');
    DateRow(it->number, eq == std::string::npos ? t : TrimSpaces(std::string_view(t).substr(0, eq)), seen,
            "; the later row names the day");
  }
  if (it == lines_.end() || it + 1 == lines_.end() || (!it->text.empty() && it->text[0] == '[')) return;
  // Rows that look like more holidays after the line that ended the list.
  int more = 0;
  for (auto next = it + 1; next != lines_.end() && (next->text.empty() || next->text[0] != '['); ++next) {
    if (next->text.size() >= 6 && isdigit(static_cast<unsigned char>(next->text[0])) && next->text[2] == '.') ++more;
  }
  if (more > 0) Add(it->number, "list-ended", {it->text.empty() ? "empty" : "comment", std::to_string(more)});
}

// The message holidays' rows, for dates and for fields that an unquoted
// comma shifted. A row begins on a line that starts outside quotes; the
// lines of a quoted field that runs on belong to its row, even a blank one.
void Checker::MsgHolidays() {
  auto header = std::find_if(lines_.begin(), lines_.end(), [](const Line& l) { return l.text == "[MsgHolidays]"; });
  if (header == lines_.end()) return;
  std::map<std::string, int> seen;
  int row_line = 0, fields = 0;
  bool quoted = false;
  auto end_row = [&] {
    if (fields > 4) Add(row_line, "shifted-fields", {std::to_string(fields)});
  };
  for (auto it = header + 1; it != lines_.end(); ++it) {
    const std::string t(TrimBlanks(it->text));
    if (!quoted) {
      if (t.empty() || t[0] == '[' || t[0] == ';' || t[0] == ',') break;
      end_row();
      row_line = it->number;
      fields = 1;
      DateRow(it->number, t.substr(0, std::min(t.find(','), size_t{10})), seen, "; each row sends its own mail");
    }
    for (char ch : t) {
      if (ch == '"') quoted = !quoted;
      if (ch == ',' && !quoted) ++fields;
    }
  }
  end_row();
  for (size_t i = 0; i < read_.tables.lstMsgHolidaysBody.size(); ++i) {
    if (auto file = BodyFileName(read_.tables.lstMsgHolidaysBody[i]); file && !host_.FileExists(*file)) {
      Add(0, "missing-file", {"The message holiday " + read_.tables.lstMsgHolidaysDates[i] + "'s body", *file});
    }
  }
}

}  // namespace

std::vector<Finding> CheckConfiguration(Host& host, const std::string& path, int program_major) {
  auto bytes = host.ReadFile(path);
  ConfigReadResult read = ParseConfiguration(host, path, program_major);
  Checker check(host, bytes.value_or(""), read);
  const std::string b = bytes.value_or("");
  const bool utf16 = b.compare(0, 2, "\xFF\xFE") == 0 || b.compare(0, 2, "\xFE\xFF") == 0 ||
                     std::count(b.begin(), b.end(), '\0') * 4 > static_cast<long>(b.size());
  if (utf16 && !b.empty()) {
    check.Add(0, "utf16");
    return check.Take();
  }
  if (read.status != 0) check.Add(read.failure_line, "unreadable", {read.failure});
  if (!bytes) return check.Take();
  check.Encoding();
  check.KeyedSections();
  check.Values(program_major);
  check.Files();
  check.Desktop();
  check.UpdateKey();
  check.ShutdownHolidays();
  check.MsgHolidays();
  return check.Take();
}

int CheckExitStatus(const std::vector<Finding>& findings) {
  int status = 0;
  for (const Finding& f : findings) {
    if (f.rule->severity == Severity::Error) return 2;
    if (f.rule->severity == Severity::Warning) status = 1;
  }
  return status;
}

}  // namespace kalmora
