// The service's own conversation with the service manager: registration,
// the start it waits for, and the report that it stopped.
#pragma once

#include "host/result.h"

namespace kalmora {

// How the registered service starts.
enum class StartType { Automatic };

// What the service manager may tell the running service: stop requests
// only, or also the system's power events (resume from sleep, hibernation
// or Fast Startup).
enum class ServiceControls { Stop, StopAndPowerEvents };

class ServiceControl {
 public:
  virtual ~ServiceControl() = default;
  virtual void SetInteractiveDesktop(bool on) = 0;
  virtual void SetStartType(StartType type) = 0;
  virtual Status RegisterService() = 0;
  virtual Status UnregisterService() = 0;
  virtual void SetDebugMode(bool on) = 0;
  virtual void SetAcceptedControls(ServiceControls controls) = 0;
  virtual void ConnectServiceManager() = 0;
  virtual bool IsServiceRunning() = 0;
  virtual void ReportServiceStopped() = 0;
};

}  // namespace kalmora
