#include "notify/desk_command.h"

#include <charconv>

namespace kalmora {

std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  // Backslashes count only before a quote: double those, and those before
  // the closing quote, and escape each quote.
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::vector<std::string> SplitArguments(const std::string& args) {
  std::vector<std::string> out;
  size_t i = 0;
  const size_t n = args.size();
  for (;;) {
    while (i < n && (args[i] == ' ' || args[i] == '\t')) ++i;
    if (i >= n) return out;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (args[i] != ' ' && args[i] != '\t'))) {
      size_t backslashes = 0;
      while (i < n && args[i] == '\\') ++backslashes, ++i;
      if (i < n && args[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          arg += '"';
        } else if (quoted && i + 1 < n && args[i + 1] == '"') {
          arg += '"';  // "" inside quotes is one quote, and the quote goes on
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(backslashes, '\\');
        if (i < n && (quoted || (args[i] != ' ' && args[i] != '\t'))) arg += args[i++];
      }
    }
    out.push_back(std::move(arg));
  }
}

namespace {
// By DeskAction; the plain shutdown is never written, so today's command
// line stays as it was.
constexpr const char* kActionNames[] = {"shutdown", "hibernate", "sleep", "updates"};
}  // namespace

std::string DeskCommandLine(const DeskCountdown& c) {
  std::string line = "--countdown --reason " + QuoteArgument(c.reason) + " --at " + QuoteArgument(c.halt_at) +
                     " --in " + std::to_string(c.seconds_left);
  if (c.postpone_minutes) line += " --postpone " + std::to_string(c.postpone_minutes);
  if (!c.latest.empty()) line += " --latest " + QuoteArgument(c.latest);
  if (c.action != DeskAction::Shutdown) line += std::string(" --action ") + kActionNames[static_cast<int>(c.action)];
  if (c.waits == DeskWait::Program) line += " --waits " + QuoteArgument("program:" + c.program);
  if (c.waits == DeskWait::Desk || c.waits == DeskWait::Updates) {
    line += c.waits == DeskWait::Desk ? " --waits desk" : " --waits updates";
  }
  return line;
}

namespace {

bool ParseWait(const std::string& value, DeskCountdown& c) {
  if (value == "desk" || value == "updates") {
    c.waits = value == "desk" ? DeskWait::Desk : DeskWait::Updates;
    return true;
  }
  if (value.rfind("program:", 0) != 0 || value.size() == 8) return false;
  c.waits = DeskWait::Program;
  c.program = value.substr(8);
  return true;
}

bool ParseAction(const std::string& value, DeskCountdown& c) {
  for (int i = 1; i < 4; ++i) {
    if (value == kActionNames[i]) {
      c.action = static_cast<DeskAction>(i);
      return true;
    }
  }
  return false;
}

std::optional<uint32_t> Whole(const std::string& s, uint32_t most) {
  uint32_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v > most) return std::nullopt;
  return v;
}

// "HH:MM" or "HH:MM:SS", each part two digits within a day.
bool ClockForm(const std::string& s, bool seconds) {
  if (s.size() != (seconds ? 8u : 5u)) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (i % 3 == 2 ? s[i] != ':' : (s[i] < '0' || s[i] > '9')) return false;
  }
  return (s[0] - '0') * 10 + (s[1] - '0') < 24 && s[3] < '6' && (!seconds || s[6] < '6');
}

}  // namespace

std::optional<DeskRequest> ParseDeskArguments(const std::vector<std::string>& args) {
  DeskRequest r;
  if (args.size() == 1 && args[0] == "--idle") {
    r.idle = true;
    return r;
  }
  if (args.empty() || args[0] != "--countdown" || args.size() % 2 == 0) return std::nullopt;
  bool reason = false, at = false, in = false, postpone = false, latest = false, action = false, waits = false;
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& key = args[i];
    const std::string& value = args[i + 1];
    bool* seen = key == "--reason"     ? &reason
                 : key == "--at"       ? &at
                 : key == "--in"       ? &in
                 : key == "--postpone" ? &postpone
                 : key == "--latest"   ? &latest
                 : key == "--action"   ? &action
                 : key == "--waits"    ? &waits
                                       : nullptr;
    if (!seen || *seen) return std::nullopt;
    *seen = true;
    if (key == "--reason") {
      r.countdown.reason = value;
    } else if (key == "--at") {
      if (!ClockForm(value, true)) return std::nullopt;
      r.countdown.halt_at = value;
    } else if (key == "--action") {
      if (!ParseAction(value, r.countdown)) return std::nullopt;
    } else if (key == "--waits") {
      if (!ParseWait(value, r.countdown)) return std::nullopt;
    } else if (key == "--latest") {
      if (!ClockForm(value, false)) return std::nullopt;
      r.countdown.latest = value;
    } else {
      auto v = Whole(value, key == "--in" ? 7 * 86400 : 24 * 60);
      if (!v || (key == "--postpone" && *v == 0)) return std::nullopt;
      (key == "--in" ? r.countdown.seconds_left : r.countdown.postpone_minutes) = *v;
    }
  }
  if (!reason || !at || !in) return std::nullopt;
  return r;
}

}  // namespace kalmora
