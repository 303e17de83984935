#include "check/config_check.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "check/checker.h"
#include "config/numbers.h"
#include "notify/smtp.h"
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
      {"no-such-host", Severity::Warning,
       "MsgHolidaysComputer=%s can name no host, so every host skips the message-holiday mails: a computer name has "
       "at most 15 characters and none of \\ / : * ? \" < > |, blanks or dots, and a DNS name only letters, digits "
       "and hyphens between its dots, at most 63 in each part"},
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
      {"shutdown-action", Severity::Error,
       "ShutdownAction=%s is not shutdown, hibernate or sleep: the service warns at every start and halts the host "
       "the forced way"},
      {"hold-program", Severity::Error,
       "WhileRunning names '%s': a program is matched by its file name alone (backup.exe), without folder or "
       "wildcard, so this one never holds the halt"},
      {"hold-no-latest", Severity::Warning,
       "a hold can keep a host up until midnight: %s is set without [Desktop] LatestShutdown, so a program that "
       "runs on (or updates that take all night) give the day's halt up"},
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

// Whether MsgHolidaysComputer can be some host's computer name or DNS name.
// A DNS host name may be longer than the 15 characters of a computer name
// (Windows then shortens only the computer name), so "a-long-host-name" and
// "a-long-host-name.office.example" can both match a host.
bool CouldNameAHost(std::string_view v) {
  if (v.size() > 1 && v.back() == '.') v.remove_suffix(1);
  auto computer_char = [](unsigned char c) { return c > ' ' && c != 0x7F && !std::strchr("\\/:*?\"<>|.", c); };
  if (!v.empty() && v.size() <= 15 && std::all_of(v.begin(), v.end(), computer_char)) return true;
  if (v.empty() || v.size() > 253) return false;
  size_t label = 0;
  for (const char c : v) {
    if (c == '.' && label > 0) {
      label = 0;
    } else if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') || ++label > 63) {
      return false;
    }
  }
  return label > 0;
}

}  // namespace

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

void Checker::Add(int line, const std::string& rule, const std::vector<std::string>& parts) {
  const CheckRule& r = Rule(rule);
  findings_.push_back({line, &r, Fill(r, parts)});
}

std::vector<Finding> Checker::Take() {
  std::stable_sort(findings_.begin(), findings_.end(),
                   [](const Finding& a, const Finding& b) { return a.line < b.line; });
  return std::move(findings_);
}

// Sections and keys as the profile lookup sees them: names without regard to
// case, the first section of a name and the first key in it.
void Checker::KeyedSections() {
  std::set<std::string> keyed;
  std::map<std::string, std::string> home;  // lower-case key -> its section
  for (const SettingKey& k : SettingKeys()) {
    home[AsciiLower(k.key)] = k.section;
    keyed.insert(AsciiLower(k.section));
  }
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
      for (const SettingKey& k : SettingKeys()) {
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

int Checker::KeyAt(const std::string& section, const std::string& key) const {
  auto it = key_lines_.find(AsciiLower(section) + "/" + AsciiLower(key));
  return it == key_lines_.end() ? 0 : it->second;
}

// What each key's kind makes of a text that does not fit it.
void Checker::Kinds() {
  const auto& keys = SettingKeys();
  for (size_t i = 0; i < keys.size(); ++i) {
    const SettingKey& k = keys[i];
    const std::string& text = settings().texts.at(i);
    const int line = KeyAt(k.section, k.key);
    if (!line) continue;
    const auto number = ParseNumber(text);
    const std::string counts_as = k.counts_as ? k.default_value + std::string(k.counts_as) : "";
    switch (k.kind) {
      case KeyKind::Switch:
        if (!IsOn(text) && number.value_or(1) != 0) Add(line, "switch", {k.key, text});
        break;
      case KeyKind::Beep:
        if (!IsTrueBoolean(text) && number.value_or(1) != 0) Add(line, "beep", {text});
        break;
      case KeyKind::Number:
        if (k.counts_as && !number) Add(line, "number", {k.key, text, counts_as});
        break;
      case KeyKind::Minutes:
        if (k.counts_as && !DesktopCount(text)) {
          Add(line, "desktop",
              {std::string(k.key) + "=" + text + " is not a whole number of minutes from 0 to 1440 and counts as " +
               counts_as});
        }
        break;
      case KeyKind::Action:
        if (settings().ShutdownAction == HaltAction::Unknown) Add(line, "shutdown-action", {text});
        break;
      case KeyKind::Programs:
        for (const std::string& name : ParseProgramList(text)) {
          if (name.find_first_of("\\/:*?\"<>|") != std::string::npos) Add(line, "hold-program", {name});
        }
        break;
      default:
        break;
    }
  }
}

void Checker::Values(int program_major) {
  const Settings& c = settings();
  const int version_line = KeyAt("GeneralOptions", "Version");
  if (read_.incompatible_version) {
    Add(version_line, "version",
        {version_line ? "Version is not " + std::to_string(program_major) +
                            ": the service logs a warning that the file may not fit this program at every start"
                      : "Version is missing: the service logs a warning that the file may not fit this program at "
                        "every start; add Version=" +
                            std::to_string(program_major)});
  }
  Kinds();
  if (int line = KeyAt("Messaging", "SmtpServer"); line && !c.SmtpServer.empty()) {
    if (auto problem = SmtpServerProblem(c.SmtpServer)) Add(line, "smtp-server", {*problem});
    if (c.EmailSender.empty()) Add(line, "smtp-server", {"SmtpServer is set but EmailSender is empty"});
  }
  // Minutes typed where seconds are meant leave nobody the time to save
  // their work. A scheduled delay of 0 is the documented way to send no
  // warning.
  if (int line = KeyAt("GeneralOptions", "ShutdownDelay"); line && c.ShutdownDelay.parsed.value_or(60) < 60) {
    const std::string& t = c.ShutdownDelay.text;
    Add(line, "short-delay", {"ShutdownDelay", t, "the host halts " + t + " seconds after the notice"});
  }
  if (int line = KeyAt("ScheduledShutdown", "ScheduledShutdownDelay")) {
    const double d = c.ScheduledShutdownDelay.parsed.value_or(60);
    const std::string& t = c.ScheduledShutdownDelay.text;
    if (d != 0 && d < 60) {
      Add(line, "short-delay",
          {"ScheduledShutdownDelay", t, "the warning goes out only " + t + " seconds before the halt"});
    }
  }
  if (int line = KeyAt("Messaging", "MsgHolidaysComputer"); line && !c.MsgHolidaysComputer.empty()) {
    Add(line, CouldNameAHost(c.MsgHolidaysComputer) ? "one-sender" : "no-such-host", {c.MsgHolidaysComputer});
  }
  if (int line = KeyAt("GeneralOptions", "DontShutdownAfter")) {
    const std::string& t = c.DontShutdownAfter.text;
    auto moment = ScheduledMoment(t);
    if (t.size() != 5 || !moment) {
      Add(line, "cut-off", {"DontShutdownAfter=" + t + " is not HH:MM, so there is no cut-off"});
    } else if (*moment < 6 * 3600) {
      Add(line, "cut-off",
          {"DontShutdownAfter=" + t +
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
  Addresses();
}

// Notices switched on for nobody, and an update server that is never found.
void Checker::Addresses() {
  const Settings& c = settings();
  const bool mail = c.MsgOnShutdownEmail || c.MsgOnWeekendShutdownEmail;
  const bool net = c.MsgOnShutdownNet || c.MsgOnWeekendShutdownNet;
  if (mail && c.DefaultEmailAddress.empty()) {
    const int line = KeyAt("GeneralOptions", c.MsgOnShutdownEmail ? "MsgOnShutdownEmail" : "MsgOnWeekendShutdownEmail");
    Add(line, "no-address", {"an e-mail notice", "EmailAddress"});
  }
  if (net && c.NetAddress.empty()) {
    const int line = KeyAt("GeneralOptions", c.MsgOnShutdownNet ? "MsgOnShutdownNet" : "MsgOnWeekendShutdownNet");
    Add(line, "no-address", {"a NET SEND notice", "NetAddress"});
  }
  if (int line = KeyAt("GeneralOptions", "UpdateServer"); line && !c.UpdateServer.empty()) {
    if (c.UpdateServer.back() != '/') Add(line, "update-server", {c.UpdateServer});
    // With the update on, UpdateKey() says how much http matters.
    if (AsciiLower(c.UpdateServer).rfind("http://", 0) == 0 && !c.UpdateEnabled) Add(line, "plain-http");
  }
}

// [Desktop]: postpones without their window, and a latest time that cannot
// move anything.
void Checker::Desktop() {
  const Settings& c = settings();
  if (int line = KeyAt("Desktop", "PostponeMinutes"); line && c.PostponeMinutes > 0 && !c.CountdownWindow) {
    Add(line, "desktop",
        {"PostponeMinutes has no effect without CountdownWindow=1: the postpone button is in the "
         "countdown window"});
  }
  const int latest_line = KeyAt("Desktop", "LatestShutdown");
  const TimeOfDay& latest = c.LatestShutdown;
  if (!latest.moment) {
    for (const char* hold : {"WhileRunning", "WhileUpdating"}) {
      const bool on = hold[5] == 'R' ? !c.WhileRunning.empty() : c.WhileUpdating;
      if (int line = KeyAt("Holds", hold); line && on) Add(line, "hold-no-latest", {hold});
    }
  }
  if (!latest_line || latest.text.empty()) return;
  if (!latest.moment) {
    Add(latest_line, "desktop", {"LatestShutdown=" + latest.text + " is not HH:MM, so there is no latest time"});
    return;
  }
  // Every day's own time, not only the common one: a weekday whose time
  // lies after LatestShutdown halts at its time with no postpone or wait.
  if (!c.ScheduledShutdown) return;
  std::set<const TimeOfDay*> said;
  for (int day = 1; day <= 7; ++day) {
    const TimeOfDay& t = ScheduledTimeOf(c, day);
    if (!ScheduledOnWeekday(c.ScheduledShutdownDays, day) || !t.moment || *latest.moment > *t.moment) continue;
    if (!said.insert(&t).second) continue;
    const bool own = &t != &c.ScheduledShutdownTime;
    const std::string key = own ? "ScheduledShutdownTime" + std::to_string(day) : "ScheduledShutdownTime";
    Add(latest_line, "desktop",
        {"LatestShutdown=" + latest.text + " is not after " + key + "=" + t.text +
         ": no postpone, idle wait or hold can move that scheduled shutdown"});
  }
}

// The common time and each weekday's own, as the decision reads them.
void Checker::ScheduledTimes() {
  static const char* kDays[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
  const Settings& c = settings();
  for (const SettingKey& k : SettingKeys()) {
    if (k.kind != KeyKind::Clock) continue;
    const std::string key = k.key;
    const int day = key.size() > 21 ? key.back() - '0' : 0;
    const TimeOfDay& t = c.*std::get<TimeOfDay Settings::*>(k.field);
    const int line = KeyAt("ScheduledShutdown", key);
    if (!line || t.text.empty()) continue;
    if (!t.moment) {
      Add(line, "scheduled-time",
          {key + "=" + t.text +
           " arms nothing: the hours are the first two and the minutes the last two characters; write it as HH:MM "
           "(07:30)"});
    } else if (t.text.size() != 5 || *t.moment >= 86400) {
      Add(line, "scheduled-time",
          {key + "=" + t.text + " is read as " + std::to_string(int(*t.moment) / 3600) + " hours and " +
           std::to_string(int(*t.moment) / 60 % 60) + " minutes; write it as HH:MM"});
    }
    if (day && !ScheduledOnWeekday(c.ScheduledShutdownDays, day)) {
      Add(line, "unused-day-time", {key, std::to_string(day) + " (" + kDays[day - 1] + ")", c.ScheduledShutdownDays});
    }
  }
}

void Checker::Files() {
  const Settings& c = settings();
  const bool mail = c.MsgOnShutdownEmail || c.MsgOnWeekendShutdownEmail || !read_.tables->lstMsgHolidaysDates.empty();
  const char* sender = c.SmtpServer.empty() ? "system\\send.bat" : "system\\curl.exe";
  if (mail && !host_.FileExists(sender)) Add(0, "missing-file", {"Sending e-mail", sender});
  if (c.UpdateEnabled && !host_.FileExists("system\\curl.exe")) {
    Add(KeyAt("GeneralOptions", "UpdateEnabled"), "missing-file", {"UpdateEnabled=1", "system\\curl.exe"});
  }
}

// Whether the hosts accept only signed updates, and whether they can: a key
// file the service cannot use stops every update.
void Checker::UpdateKey() {
  const Settings& c = settings();
  if (!c.UpdateEnabled) return;
  const int enabled = KeyAt("GeneralOptions", "UpdateEnabled");
  auto pem = host_.ReadFile(kUpdateKeyFile);
  if (!pem && !host_.FileExists(kUpdateKeyFile)) {
    const bool http = AsciiLower(c.UpdateServer).rfind("http://", 0) == 0;
    Add(http ? KeyAt("GeneralOptions", "UpdateServer") : enabled, http ? "unsigned-http" : "unsigned");
    return;
  }
  Result<std::string> key = pem ? ReadP256PublicKeyPem(*pem) : Result<std::string>::Failure("it cannot be read");
  // Any signature will do: only the key's own failure counts here.
  Result<bool> usable = key ? host_.VerifyP256Sha256("", *key, std::string(64, '\x01')) : key.status();
  if (!usable) {
    Add(0, "update-key", {usable.reason()});
  } else {
    Add(enabled, "signed");
  }
}

std::vector<Finding> CheckConfiguration(Host& host, const std::string& path, int program_major) {
  auto bytes = host.ReadFile(path);
  ConfigReadResult read = ParseConfiguration(host, host, path, program_major);
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
