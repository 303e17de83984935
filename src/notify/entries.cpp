#include "notify/entries.h"

#include <array>

namespace kalmora {

namespace {

struct Sentence {
  Entry entry;
  // Holes are "{…}"; a hole captures up to the first place its next literal
  // part follows, the last one (when the sentence ends with its literal) to
  // that literal at the very end.
  const char* text;
  bool whole;  // false: more sentences may follow it in the same entry
};

constexpr std::array kSentences = {
    Sentence{Entry::DailyReport,
             "Kalmora {version} (configuration {configuration}) on {computer} decided {date}: {decision}.", true},
    Sentence{Entry::Holiday, "Kalmora: Today is holiday '{name}'. ", false},
    Sentence{Entry::Warning, "Kalmora: A scheduled shutdown will take place in {seconds} seconds", false},
    Sentence{Entry::HaltForced, "Kalmora: The system is going down for system halt NOW!", true},
    Sentence{Entry::HaltNow, "Kalmora: Now the host {action}.", true},
    Sentence{Entry::HaltCallFailed, "Kalmora: {call} failed: {reason}. The host is shut down the forced way instead.",
             true},
    Sentence{Entry::Resumed, "Kalmora: The host has resumed from its halt; the day is decided afresh.", true},
    Sentence{Entry::Postponed, "Kalmora: The shutdown due at {due} was postponed {how} to {moment} from {who}.", true},
    Sentence{Entry::PostponeRefused,
             "Kalmora: A postpone of the shutdown due at {due} from {who} was refused: no postpone is left.", true},
    Sentence{Entry::Waits, "Kalmora: The shutdown due at {due} waits: {what}.", true},
    Sentence{Entry::GoesAhead, "Kalmora: The shutdown due at {due} goes ahead: {why}", true},
    Sentence{Entry::WentAheadAtLatest, "Kalmora: The shutdown due at {due} went ahead at LatestShutdown {latest}.",
             true},
    Sentence{Entry::GivenUp, "Kalmora: The shutdown due at {due} was given up for today: {what}.", true},
    Sentence{Entry::UpdateReport, "Kalmora: Online update finished. Results:", false},
};

const Sentence& Of(Entry entry) {
  for (const Sentence& s : kSentences) {
    if (s.entry == entry) return s;
  }
  return kSentences.front();
}

// The literal parts between the holes: n holes, n + 1 parts.
std::vector<std::string_view> Literals(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  for (size_t open; (open = text.find('{', from)) != std::string_view::npos;) {
    parts.push_back(text.substr(from, open - from));
    from = text.find('}', open) + 1;
  }
  parts.push_back(text.substr(from));
  return parts;
}

std::optional<std::vector<std::string>> Match(const Sentence& s, std::string_view text) {
  const std::vector<std::string_view> parts = Literals(s.text);
  if (text.substr(0, parts[0].size()) != parts[0]) return std::nullopt;
  std::vector<std::string> values;
  size_t at = parts[0].size();
  for (size_t i = 1; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    size_t end;
    if (last && s.whole) {
      if (text.size() < at + parts[i].size() || text.substr(text.size() - parts[i].size()) != parts[i]) {
        return std::nullopt;
      }
      end = text.size() - parts[i].size();
    } else {
      end = parts[i].empty() ? text.size() : text.find(parts[i], at);
      if (end == std::string_view::npos) return std::nullopt;
    }
    values.emplace_back(text.substr(at, end - at));
    at = end + parts[i].size();
  }
  if (s.whole && at != text.size()) return std::nullopt;
  return values;
}

}  // namespace

std::string EntryText(Entry entry, const std::vector<std::string>& values) {
  const std::vector<std::string_view> parts = Literals(Of(entry).text);
  std::string out(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    if (i - 1 < values.size()) out += values[i - 1];
    out += parts[i];
  }
  return out;
}

std::optional<ReadEntry> ReadEntryText(std::string_view text) {
  for (const Sentence& s : kSentences) {
    if (auto values = Match(s, text)) return ReadEntry{s.entry, std::move(*values)};
  }
  return std::nullopt;
}

}  // namespace kalmora
