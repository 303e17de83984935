#include "tools/events_xml.h"

#include <cstdio>
#include <cstdlib>

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

std::string Escaped(std::string_view s) {
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

void EventCollector::Start(std::string_view name, int line) {
  if (name == "Event") {
    event_ = ForwardedEvent{};
    in_event_ = true;
    time_ = false;
    started_on_ = line;
  }
  element_ = in_event_ ? std::string(name) : std::string();
  text_.clear();
}

void EventCollector::Attribute(std::string_view name, std::string_view value) {
  if (element_ == "Provider" && name == "Name") event_.provider = value;
  if (element_ == "TimeCreated" && name == "SystemTime") time_ = ParseSystemTime(value, event_.utc_ms);
}

void EventCollector::Text(std::string_view text) {
  if (!element_.empty()) text_ += text;
}

void EventCollector::End(std::string_view name) {
  if (!in_event_) return;
  ForwardedEvent& e = event_;
  if (name == "Event") {
    in_event_ = false;
    if (e.provider.empty() || e.computer.empty() || !time_) {
      problems_.push_back({"", started_on_, "an event without its provider, computer or time"});
    } else {
      out_.push_back(std::move(e));
    }
  } else if (name == element_) {
    if (name == "Computer") e.computer = text_;
    if (name == "EventID") e.event_id = std::atoi(text_.c_str());
    if (name == "Level") e.level = std::atoi(text_.c_str());
    if (name == "EventRecordID") e.record_id = std::strtoull(text_.c_str(), nullptr, 10);
    if (name == "Data") e.text += (e.text.empty() ? "" : "\n") + text_;
  }
  element_.clear();
}

bool ParseEventElement(std::string_view xml, ForwardedEvent& e, std::string& problem) {
  std::vector<ForwardedEvent> one;
  std::vector<EventProblem> lacking;
  EventCollector collect(one, lacking);
  if (!ParseEventStream(xml, collect, problem)) {
    problem = "an event that is not well-formed XML" + (problem.empty() ? "" : " (" + problem + ")");
    return false;
  }
  if (one.size() != 1) {
    problem = lacking.empty() ? "no event" : lacking[0].what;
    return false;
  }
  e = std::move(one[0]);
  return true;
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
  EventCollector collect(whole, lacking);
  std::string problem;
  if (ParseEventStream("<Events>" + std::string(s) + "</Events>", collect, problem)) {
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
    if (ParseEventElement(s.substr(at, end + 8 - at), e, problem)) {
      out.push_back(std::move(e));
    } else {
      problems.push_back({file, starts_on, problem});
    }
    at = next;
  }
}

}  // namespace kalmora::report
