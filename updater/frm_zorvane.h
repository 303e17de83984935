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
  // The service Kalmora registers itself as, how long the helper waits for
  // the service manager to see the old program stopped, and how long before
  // it asks a second time when the service manager refused the start.
  static constexpr const char* kServiceName = "Kalmora";
  static constexpr uint32_t kStopWaitMs = 30000;
  static constexpr uint32_t kStopPollMs = 500;
  static constexpr uint32_t kRetryStartMs = 10000;

  explicit frmZorvane(Host& host);
  void Load();

  void OnServiceStartRequested(bool& success) override { success = true; }
  void OnServiceStopRequested() override {}
  void OnTimer(TimerId id) override;

 private:
  void tmrUpdate_Timer();
  void RestartProgram(const std::string& program);
  void StartService();
  Host& host_;
};

[[noreturn]] void RunZorvane(Host& host);

}  // namespace kalmora
