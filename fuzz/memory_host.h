// A host that holds one file in memory and serves it to ReadFile and to the
// profile lookup the simulated host uses, so that the configuration reader
// runs unchanged without touching a disk. Anything else the reader asked of
// it would be a fault, and ends the run.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "host/host.h"
#include "host/sim/profile_lookup.h"

namespace kalmora::fuzz {

class MemoryHost final : public Host {
 public:
  MemoryHost(std::string name, std::optional<std::string> bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}

  std::optional<std::string> ReadFile(const std::string& name) override {
    return name == name_ ? bytes_ : std::nullopt;
  }
  std::string GetProfileString(const std::string& section, const std::string& key, const std::string& default_value,
                               const std::string& path, size_t buffer_size) override {
    static const std::optional<std::string> kMissing;
    return LookupProfileString(path == name_ ? bytes_ : kMissing, section, key, default_value, buffer_size);
  }

  LocalTime Now() override { Unexpected(); }
  float SecondsSinceMidnight() override { Unexpected(); }
  int64_t ElapsedMs() override { Unexpected(); }
  int UtcOffsetMinutes() override { Unexpected(); }
  void SetEventSink(EventSink*) override { Unexpected(); }
  void DoEvents() override { Unexpected(); }
  void Sleep(uint32_t) override { Unexpected(); }
  void SetTimerInterval(TimerId, uint32_t) override { Unexpected(); }
  void EnableTimer(TimerId, bool) override { Unexpected(); }
  bool TimerEnabled(TimerId) override { Unexpected(); }
  void IdleUntilEnd() override { Unexpected(); }
  void EndProgram(ExitReason) override { Unexpected(); }
  std::string CommandLineArgs() override { Unexpected(); }
  std::string ProgramDirectory() override { Unexpected(); }
  bool SetCurrentDirectory(const std::string&) override { Unexpected(); }
  void HideWindow() override { Unexpected(); }
  void ShowMessage(const std::string&, const std::string&, MsgIcon) override { Unexpected(); }
  Status StartProcess(const std::string&) override { Unexpected(); }
  Result<ChildProcess> StartChild(const std::string&) override { Unexpected(); }
  std::optional<uint32_t> ChildExitStatus(ChildProcess) override { Unexpected(); }
  void ReleaseChild(ChildProcess, bool) override { Unexpected(); }
  ProgramVersion Version() override { Unexpected(); }
  std::string ComputerName() override { Unexpected(); }
  uint32_t AnsiCodePage() override { Unexpected(); }
  std::optional<uint32_t> ClaimInstance() override { Unexpected(); }
  void SetInteractiveDesktop(bool) override { Unexpected(); }
  void SetStartType(StartType) override { Unexpected(); }
  Status RegisterService() override { Unexpected(); }
  Status UnregisterService() override { Unexpected(); }
  void SetDebugMode(bool) override { Unexpected(); }
  void SetAcceptedControls(ServiceControls) override { Unexpected(); }
  void ConnectServiceManager() override { Unexpected(); }
  bool IsServiceRunning() override { Unexpected(); }
  void ReportServiceStopped() override { Unexpected(); }
  void LogEvent(EventType, EventId, const std::string&) override { Unexpected(); }
  Result<int> ShowSessionMessage(const std::string&, const std::string&, uint32_t) override { Unexpected(); }
  ServiceManager& Services() override { Unexpected(); }
  Desktops& Desks() override { Unexpected(); }
  SignatureVerifier& Signatures() override { Unexpected(); }
  Status DeleteFile(const std::string&) override { Unexpected(); }
  Status ReplaceFile(const std::string&, const std::string&) override { Unexpected(); }
  bool FileExists(const std::string&) override { Unexpected(); }
  Status WriteFile(const std::string&, const std::string&) override { Unexpected(); }
  std::optional<std::string> Sha256OfFile(const std::string&) override { Unexpected(); }
  void Beep(uint32_t, uint32_t) override { Unexpected(); }
  void EnableShutdownPrivilege() override { Unexpected(); }
  void ExitWindowsEx(ShutdownMode) override { Unexpected(); }

 private:
  [[noreturn]] static void Unexpected() { std::abort(); }
  std::string name_;
  std::optional<std::string> bytes_;
};

}  // namespace kalmora::fuzz
