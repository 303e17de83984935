#include "config/settings.h"

#include "config/numbers.h"

namespace kalmora {

namespace {
using S = Settings;
}  // namespace

const std::vector<SettingKey>& SettingKeys() {
  using K = KeyKind;
  static const std::vector<SettingKey> keys = {
      {"GeneralOptions", "ShutdownEnabled", "0", K::Switch, &S::ShutdownEnabled},
      {"GeneralOptions", "DontShutdownAfter", "23:59", K::CutOff, &S::DontShutdownAfter},
      {"GeneralOptions", "ShutdownDelay", "180", K::Number, &S::ShutdownDelay, " seconds"},
      {"GeneralOptions", "BeepOnShutdown", "0", K::Beep, &S::BeepOnShutdown},
      {"GeneralOptions", "ExitAfterCheck", "0", K::Number, &S::ExitAfterCheck},
      {"GeneralOptions", "ForceExitAfterCheck", "0", K::Switch, &S::ForceExitAfterCheck},
      {"GeneralOptions", "MsgOnShutdownEmail", "0", K::Switch, &S::MsgOnShutdownEmail},
      {"GeneralOptions", "MsgOnShutdownNet", "0", K::Switch, &S::MsgOnShutdownNet},
      {"GeneralOptions", "ShutdownMsg", "", K::Text, &S::ShutdownMsg},
      {"GeneralOptions", "HldyPlaceholder", "Holiday", K::Text, &S::HldyPlaceholder},
      {"GeneralOptions", "WeekendPlaceholder", "Weekend", K::Text, &S::WeekendPlaceholder},
      {"GeneralOptions", "MsgOnHolidayEmail", "0", K::Text, &S::MsgOnHolidayEmail},
      {"GeneralOptions", "UpdateServer", "", K::Text, &S::UpdateServer},
      {"GeneralOptions", "UpdateEnabled", "0", K::Switch, &S::UpdateEnabled},
      {"GeneralOptions", "UpdateTimeout", "120", K::Number, &S::UpdateTimeout, " seconds"},
      {"GeneralOptions", "DecideDaily", "0", K::Switch, &S::DecideDaily},
      {"GeneralOptions", "MsgOnShutdownSession", "0", K::Switch, &S::MsgOnShutdownSession},
      {"GeneralOptions", "WeekendShutdown", "0", K::Switch, &S::WeekendShutdown},
      {"GeneralOptions", "MsgOnWeekendShutdownEmail", "0", K::Switch, &S::MsgOnWeekendShutdownEmail},
      {"GeneralOptions", "MsgOnWeekendShutdownNet", "0", K::Switch, &S::MsgOnWeekendShutdownNet},
      {"GeneralOptions", "ShutdownAction", "", K::Action, &S::ShutdownAction},
      {"GeneralOptions", "InstallUpdates", "0", K::Switch, &S::InstallUpdates},
      {"GeneralOptions", "DailyReport", "0", K::Switch, &S::DailyReport},
      {"Messaging", "NetAddress", "", K::Text, &S::NetAddress},
      {"Messaging", "EmailAddress", "", K::Text, &S::DefaultEmailAddress},
      {"Messaging", "EmailSubject", "", K::Text, &S::DefaultEmailSubject},
      {"Messaging", "EmailSender", "", K::Text, &S::EmailSender},
      {"Messaging", "EmailUseBcc", "0", K::BlindCopy, &S::EmailUseBcc},
      {"Messaging", "SmtpServer", "", K::Text, &S::SmtpServer},
      {"Messaging", "SmtpRequireTls", "0", K::Switch, &S::SmtpRequireTls},
      {"Messaging", "MsgHolidaysComputer", "", K::Trimmed, &S::MsgHolidaysComputer},
      {"ScheduledShutdown", "ScheduledShutdown", "0", K::Switch, &S::ScheduledShutdown},
      {"ScheduledShutdown", "ScheduledShutdownTime", "", K::Clock, &S::ScheduledShutdownTime},
      {"ScheduledShutdown", "ScheduledShutdownDays", "", K::Text, &S::ScheduledShutdownDays},
      {"ScheduledShutdown", "ScheduledShutdownTime1", "", K::Clock, &S::ScheduledShutdownTime1},
      {"ScheduledShutdown", "ScheduledShutdownTime2", "", K::Clock, &S::ScheduledShutdownTime2},
      {"ScheduledShutdown", "ScheduledShutdownTime3", "", K::Clock, &S::ScheduledShutdownTime3},
      {"ScheduledShutdown", "ScheduledShutdownTime4", "", K::Clock, &S::ScheduledShutdownTime4},
      {"ScheduledShutdown", "ScheduledShutdownTime5", "", K::Clock, &S::ScheduledShutdownTime5},
      {"ScheduledShutdown", "ScheduledShutdownTime6", "", K::Clock, &S::ScheduledShutdownTime6},
      {"ScheduledShutdown", "ScheduledShutdownTime7", "", K::Clock, &S::ScheduledShutdownTime7},
      {"ScheduledShutdown", "ScheduledShutdownMsg", "", K::Text, &S::ScheduledShutdownMsg},
      {"ScheduledShutdown", "ScheduledShutdownSubject", "", K::Text, &S::ScheduledShutdownSubject},
      {"ScheduledShutdown", "ScheduledShutdownDelay", "900", K::Number, &S::ScheduledShutdownDelay, " seconds"},
      {"Desktop", "CountdownWindow", "0", K::Switch, &S::CountdownWindow},
      {"Desktop", "PostponeMinutes", "0", K::Minutes, &S::PostponeMinutes, " (no postpone)"},
      {"Desktop", "MaxPostpones", "1", K::Minutes, &S::MaxPostpones, ""},
      {"Desktop", "IdleMinutes", "0", K::Minutes, &S::IdleMinutes, " (no idle wait)"},
      {"Desktop", "LatestShutdown", "", K::Latest, &S::LatestShutdown},
      {"Holds", "WhileRunning", "", K::Programs, &S::WhileRunning},
      {"Holds", "WhileUpdating", "0", K::Switch, &S::WhileUpdating},
  };
  return keys;
}

namespace {

// One key's text into its field, as its kind reads it.
void Store(Settings& s, const SettingKey& k, const std::string& text) {
  std::visit(
      [&](auto field) {
        using T = std::remove_reference_t<decltype(s.*field)>;
        T& v = s.*field;
        if constexpr (std::is_same_v<T, bool>) {
          v = k.kind == KeyKind::Beep        ? IsTrueBoolean(text)
              : k.kind == KeyKind::BlindCopy ? UseBlindCopy(text)
                                             : IsOn(text);
        } else if constexpr (std::is_same_v<T, std::string>) {
          v = k.kind == KeyKind::Trimmed ? std::string(TrimBlanks(text)) : text;
        } else if constexpr (std::is_same_v<T, Number>) {
          v = Number{text, ParseNumber(text), ParseNumber(k.default_value).value_or(0)};
        } else if constexpr (std::is_same_v<T, HaltAction>) {
          v = ParseHaltAction(text);
        } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
          v = ParseProgramList(text);
        } else if constexpr (std::is_same_v<T, int>) {
          v = DesktopCount(text).value_or(*DesktopCount(k.default_value));
        } else {
          v = TimeOfDay{text, k.kind == KeyKind::CutOff   ? CutOffMoment(text)
                              : k.kind == KeyKind::Latest ? LatestShutdownMoment(text)
                                                          : ScheduledMoment(text)};
        }
      },
      k.field);
}

TimeOfDay Settings::*const kWeekdayTimes[7] = {
    &S::ScheduledShutdownTime1, &S::ScheduledShutdownTime2, &S::ScheduledShutdownTime3, &S::ScheduledShutdownTime4,
    &S::ScheduledShutdownTime5, &S::ScheduledShutdownTime6, &S::ScheduledShutdownTime7};

}  // namespace

Settings MakeSettings(std::vector<std::string> texts) {
  Settings s;
  const auto& keys = SettingKeys();
  for (size_t i = 0; i < keys.size() && i < texts.size(); ++i) Store(s, keys[i], texts[i]);
  // Off for the whole check (also for ending after it) when no day has a
  // time; a day without one of its own and without the common time arms
  // nothing, but the schedule stays on for the days that have one.
  bool any_time = !s.ScheduledShutdownTime.text.empty();
  for (auto field : kWeekdayTimes) any_time = any_time || !(s.*field).text.empty();
  s.ScheduledShutdown = s.ScheduledShutdown && any_time;
  s.texts = std::move(texts);
  return s;
}

const std::string& Settings::Text(std::string_view key) const {
  static const std::string kNone;
  const auto& keys = SettingKeys();
  for (size_t i = 0; i < keys.size() && i < texts.size(); ++i) {
    if (key == keys[i].key) return texts[i];
  }
  return kNone;
}

HaltAction ParseHaltAction(std::string_view text) {
  const std::string t = AsciiLower(TrimBlanks(text));
  return t.empty()          ? HaltAction::Forced
         : t == "shutdown"  ? HaltAction::Shutdown
         : t == "hibernate" ? HaltAction::Hibernate
         : t == "sleep"     ? HaltAction::Sleep
                            : HaltAction::Unknown;
}

std::vector<std::string> ParseProgramList(std::string_view text) {
  std::vector<std::string> out;
  for (size_t from = 0; from <= text.size();) {
    size_t comma = text.find(',', from);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string name = AsciiLower(TrimBlanks(text.substr(from, comma - from)));
    if (!name.empty()) out.push_back(name);
    from = comma + 1;
  }
  return out;
}

const TimeOfDay& ScheduledTimeOf(const Settings& s, int weekday) {
  if (weekday >= 1 && weekday <= 7 && !(s.*kWeekdayTimes[weekday - 1]).text.empty())
    return s.*kWeekdayTimes[weekday - 1];
  return s.ScheduledShutdownTime;
}

void HolidayTables::Clear() {
  lstShutdownHolidaysDates.clear();
  lstShutdownHolidaysDescr.clear();
  lstMsgHolidaysDates.clear();
  lstMsgHolidaysSubject.clear();
  lstMsgHolidaysBody.clear();
  lstMsgHolidaysAddress.clear();
}

}  // namespace kalmora
