// The desk program's command line: whatever the holiday's name, building the
// command line and splitting it again gives the same values, and any other
// argument string is refused or read without a crash.
#include "fuzz_input.h"
#include "notify/desk_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [reason, at, rest] = kalmora::fuzz::Fields<3>(data, size);
  const uint32_t left = at.empty() ? 0 : static_cast<uint8_t>(at[0]) * 600u;
  const kalmora::DeskCountdown c{reason, "19:30:00", left, left % 90, left % 2 ? "22:00" : ""};
  auto back = kalmora::ParseDeskArguments(kalmora::SplitArguments(kalmora::DeskCommandLine(c)));
  Check(back && !back->idle && back->countdown == c);
  // Anything at all: split and read, never more words than characters.
  const auto words = kalmora::SplitArguments(rest);
  Check(words.size() <= rest.size());
  if (auto r = kalmora::ParseDeskArguments(words); r && !r->idle) {
    Check(r->countdown.halt_at.size() == 8 && r->countdown.seconds_left <= 7 * 86400);
  }
  return 0;
}
