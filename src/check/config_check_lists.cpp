// The checker's look at the list sections and the file's encoding: dates,
// rows after the line that ends a list, and fields an unquoted comma shifted.
#include <algorithm>

#include "check/checker.h"
#include "config/numbers.h"
#include "notify/mail_file.h"

namespace kalmora {

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
  const HolidayTables& tables = *read_.tables;
  for (size_t i = 0; i < tables.lstMsgHolidaysBody.size(); ++i) {
    if (auto file = BodyFileName(tables.lstMsgHolidaysBody[i]); file && !host_.FileExists(*file)) {
      Add(0, "missing-file", {"The message holiday " + tables.lstMsgHolidaysDates[i].text + "'s body", *file});
    }
  }
}

}  // namespace kalmora
