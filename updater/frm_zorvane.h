// frmZorvane: the update helper. It waits for Kalmora to end, swaps the
// downloaded program file into place and starts the program again.
#pragma once

#include <optional>
#include <string>

#include "host/host.h"

namespace kalmora {

// The switch: the first 10 characters, trimmed and lower-cased, must be
// "-updateexe".
bool IsUpdateSwitch(const std::string& args);

// The program's name: everything after the 10th character, lower-cased and
// trimmed. Nothing when it is empty, would reach outside the working
// directory (a path separator or a drive) or holds a blank, a quote or a
// control character.
std::optional<std::string> ProgramName(const std::string& args);

class frmZorvane : public EventSink {
 public:
  // Read by the window that the Windows host creates for the label.
  static constexpr const char* kUpdatingText = "Please wait while the program file is being updated...";
  // While the old program still holds its file, the swap is tried again
  // once a second, this many times, before the helper gives up.
  static constexpr int kSwapAttempts = 30;

  explicit frmZorvane(Host& host);
  void Load();

  void OnServiceStartRequested(bool& success) override { success = true; }
  void OnServiceStopRequested() override {}
  void OnTimer(TimerId id) override;

 private:
  void tmrUpdate_Timer();
  Host& host_;
};

[[noreturn]] void RunZorvane(Host& host);

}  // namespace kalmora
