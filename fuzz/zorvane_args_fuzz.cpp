// Zorvane's argument string.
#include "fuzz_input.h"
#include "updater/frm_zorvane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto [args] = kalmora::fuzz::Fields<1>(data, size);
  // Only the switch's ten characters decide; what follows is the name.
  Check(kalmora::IsUpdateSwitch(args) == kalmora::IsUpdateSwitch(args.substr(0, 10) + "x"));
  if (auto name = kalmora::ProgramName(args)) {
    // NAME.exe and NAME.exe.new are files in the working directory, and the
    // command line that starts NAME.exe names no other program.
    Check(!name->empty() && name->find_first_of("\\/: \"") == std::string::npos);
    for (unsigned char c : *name) Check(c >= 0x20 && !(c >= 'A' && c <= 'Z'));
    // Kalmora's own way of naming it reads back the same.
    auto again = kalmora::ProgramName("-updateexe " + *name);
    Check(again && *again == *name && kalmora::IsUpdateSwitch("-updateexe " + *name));
  }
  return 0;
}
