// The file msgholidays.sent: which message-holiday mails went out today.
//
// Its form, CR LF after every line:
//   YYYY-MM-DD                     the day it is about
//   DATE-ENTRY<TAB>ADDRESS<TAB>SUBJECT   one line per mail sent that day
// In the three fields a backslash, tab, CR and LF are written as \\, \t, \r
// and \n (a quoted subject may hold line ends). Only today's mails are kept:
// the first mail of a new day replaces the file.
#include "notify/sent_mails.h"

#include <cstdio>

namespace kalmora {

namespace {

std::string Escaped(const std::string& field) {
  std::string out;
  for (char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string DateLine(const CivilDate& day) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", day.year, day.month, day.day);
  return buf;
}

// A key as SentMailKey writes it: two tabs, and no bare control character
// that the escaping would have replaced.
bool WellFormedKey(const std::string& line) {
  size_t tabs = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t') ++tabs;
    if (line[i] == '\r' || line[i] == '\n') return false;
    if (line[i] == '\\') {
      if (i + 1 == line.size()) return false;
      const char next = line[++i];
      if (next != '\\' && next != 't' && next != 'r' && next != 'n') return false;
    }
  }
  return tabs == 2;
}

}  // namespace

std::string SentMailKey(const std::string& date_entry, const std::string& address, const std::string& subject) {
  return Escaped(date_entry) + "\t" + Escaped(address) + "\t" + Escaped(subject);
}

std::string SentMailsText(const CivilDate& day, const std::vector<std::string>& keys) {
  std::string out = DateLine(day) + "\r\n";
  for (const std::string& key : keys) out += key + "\r\n";
  return out;
}

std::vector<std::string> ParseSentMails(const std::string& bytes, const CivilDate& today) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) return {};  // cut off: written by no finished run
    lines.push_back(bytes.substr(pos, end - pos));
    pos = end + 2;
  }
  if (lines.empty() || lines.front() != DateLine(today)) return {};
  for (size_t i = 1; i < lines.size(); ++i) {
    if (!WellFormedKey(lines[i])) return {};
  }
  return {lines.begin() + 1, lines.end()};
}

}  // namespace kalmora
