#include "tools/events_xml.h"

#include <cstdio>
#include <ctime>

namespace kalmora::report {

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 (little or big endian, after its byte-order mark) as UTF-8; a
// lone surrogate becomes U+FFFD, which the XML reader then sees as text.
std::string Utf16ToUtf8(std::string_view b, bool little) {
  std::string out;
  out.reserve(b.size() / 2);
  auto unit = [&](size_t i) {
    const auto lo = static_cast<unsigned char>(b[i + (little ? 0 : 1)]);
    const auto hi = static_cast<unsigned char>(b[i + (little ? 1 : 0)]);
    return static_cast<uint32_t>(hi << 8 | lo);
  };
  for (size_t i = 0; i + 1 < b.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < b.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Where an Event element begins: "<Event" followed by a blank or ">", not
// "<EventData" or "<EventID".
size_t NextEventStart(std::string_view s, size_t from) {
  for (size_t at; (at = s.find("<Event", from)) != std::string_view::npos; from = at + 6) {
    const char next = at + 6 < s.size() ? s[at + 6] : '\0';
    if (next == '>' || next == ' ' || next == '\t' || next == '\r' || next == '\n') return at;
  }
  return std::string_view::npos;
}

}  // namespace

bool ParseSystemTime(std::string_view t, int64_t& utc_ms) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char frac[16] = "";
  const std::string text(t);
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%15[.0-9]", &y, &mo, &d, &h, &mi, &s, frac);
  if (n < 6 || text.empty() || text.back() != 'Z' || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
      s > 60) {
    return false;
  }
  int ms = 0;
  for (int i = 1, scale = 100; i < 4 && frac[i] >= '0' && frac[i] <= '9'; ++i, scale /= 10)
    ms += (frac[i] - '0') * scale;
  utc_ms = ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000LL + s * 1000LL + ms;
  return true;
}

std::string FormatSystemTime(int64_t utc_ms) {
  const int64_t days = (utc_ms >= 0 ? utc_ms : utc_ms - 86399999) / 86400000;
  const int64_t rest = utc_ms - days * 86400000;
  // Civil from days (the inverse of DaysFromCivil).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02d:%02d:%02d.%03d0000Z", static_cast<long long>(y), m, d,
                static_cast<int>(rest / 3600000), static_cast<int>(rest / 60000 % 60),
                static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
  return buf;
}

namespace {

std::string Escaped(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string EventXml(const ForwardedEvent& e) {
  return "<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System><Provider Name='" +
         Escaped(e.provider) + "'/><EventID Qualifiers='0'>" + std::to_string(e.event_id) +
         "</EventID><Version>0</Version><Level>" + std::to_string(e.level) +
         "</Level><Task>0</Task><Opcode>0</Opcode><Keywords>0x80000000000000</Keywords><TimeCreated SystemTime='" +
         FormatSystemTime(e.utc_ms) + "'/><EventRecordID>" + std::to_string(e.record_id) +
         "</EventRecordID><Correlation/><Execution ProcessID='0' "
         "ThreadID='0'/><Channel>Application</Channel><Computer>" +
         Escaped(e.computer) + "</Computer><Security/></System><EventData><Data>" + Escaped(e.text) +
         "</Data></EventData></Event>\n";
}

std::string SimulatedEventsXml(const std::vector<sim::Record>& records, const std::string& computer) {
  std::string out;
  int n = 0;
  for (const sim::Record& r : records) {
    if (r.value("kind", "") != "event") continue;
    const sim::LocalMs local = *sim::ParseTime(r.value("t", ""));
    const LocalTime lt = sim::ToLocalTime(local);
    std::tm tm{};
    tm.tm_year = lt.year - 1900;
    tm.tm_mon = lt.month - 1;
    tm.tm_mday = lt.day;
    tm.tm_hour = lt.hour;
    tm.tm_min = lt.minute;
    tm.tm_sec = lt.second;
    tm.tm_isdst = -1;
    const int type = r.value("type", 4);
    ForwardedEvent e;
    e.provider = "Kalmora";
    e.computer = computer;
    e.record_id = static_cast<uint64_t>(local) * 100 + static_cast<uint64_t>(n++ % 100);
    e.event_id = r.value("id", 110);
    e.level = type == 1 ? 2 : type == 2 ? 3 : 4;
    e.utc_ms = static_cast<int64_t>(std::mktime(&tm)) * 1000 + lt.millisecond;
    e.text = r.value("text", "");
    out += EventXml(e);
  }
  return out;
}

void ReadEvents(const std::string& bytes, const std::string& file, std::vector<ForwardedEvent>& out,
                std::vector<EventProblem>& problems) {
  std::string converted;
  std::string_view s = bytes;
  if (s.starts_with("\xFF\xFE") || s.starts_with("\xFE\xFF")) {
    converted = Utf16ToUtf8(s.substr(2), s[0] == '\xFF');
    s = converted;
  } else if (s.starts_with("\xEF\xBB\xBF")) {
    s.remove_prefix(3);
  }
  // A stream without damage is read in one pass; one with damage event by
  // event, so that the damage costs only the event it is in.
  if (s.starts_with("<?xml")) s.remove_prefix(std::min(s.size(), s.find("?>") + 2));
  std::vector<ForwardedEvent> whole;
  std::vector<EventProblem> lacking;
  if (ParseEventStream("<Events>" + std::string(s) + "</Events>", whole, lacking)) {
    for (EventProblem& p : lacking) problems.push_back({file, p.line, p.what});
    out.insert(out.end(), std::make_move_iterator(whole.begin()), std::make_move_iterator(whole.end()));
    return;
  }
  int line = 1;
  size_t counted = 0;  // newlines are counted up to here
  auto line_at = [&](size_t at) {
    for (; counted < at; ++counted) line += s[counted] == '\n';
    return line;
  };
  for (size_t at = NextEventStart(s, 0); at != std::string_view::npos;) {
    const size_t end = s.find("</Event>", at);
    const size_t next = NextEventStart(s, at + 6);
    const int starts_on = line_at(at);
    if (end == std::string_view::npos || (next != std::string_view::npos && next < end)) {
      problems.push_back({file, starts_on, "an event that is cut off"});
      at = next;
      continue;
    }
    ForwardedEvent e;
    std::string problem;
    if (ParseEventElement(s.substr(at, end + 8 - at), e, problem)) {
      out.push_back(std::move(e));
    } else {
      problems.push_back({file, starts_on, problem});
    }
    at = next;
  }
}

}  // namespace kalmora::report
