// One Kalmora per host, and the service manager as another program sees it:
// the claim every Kalmora makes at its start, and the query and start
// request with which Zorvane restarts the service after a program update.
#include "host/win32/win32_host.h"
// After windows.h, which it needs.
#include <sddl.h>

#include <utility>
#include <vector>

namespace kalmora::win32 {

namespace {

// Shared memory in the Global namespace, so that a start in any session
// (the service in session 0, a start by hand at the desk) finds it. It holds
// the id of the process that made it and lives as long as that process.
constexpr const char* kInstanceName = "Global\\Kalmora.Instance";

uint32_t HolderOf(HANDLE mapping) {
  auto* view = static_cast<volatile LONG*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(LONG)));
  if (!view) return 0;
  // The maker writes its id right after making it; a start in that very
  // moment reads it a little later.
  uint32_t pid = 0;
  for (int i = 0; i < 20 && pid == 0; ++i) {
    pid = static_cast<uint32_t>(*view);
    if (pid == 0) ::Sleep(50);
  }
  UnmapViewOfFile(const_cast<LONG*>(view));
  return pid;
}

ServiceState StateOf(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED:
      return ServiceState::Stopped;
    case SERVICE_START_PENDING:
      return ServiceState::StartPending;
    case SERVICE_STOP_PENDING:
      return ServiceState::StopPending;
    case SERVICE_RUNNING:
      return ServiceState::Running;
    default:
      return ServiceState::Other;
  }
}

}  // namespace

std::optional<uint32_t> Win32Host::ClaimInstance() {
  if (instance_) return std::nullopt;
  if (const UniqueHandle existing(OpenFileMappingA(FILE_MAP_READ, FALSE, kInstanceName)); existing) {
    return HolderOf(existing.get());
  }
  // SYSTEM and administrators may make it; everyone may read who holds it,
  // so that a start by hand learns of the service and the other way round.
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, FALSE};
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GR;;;WD)", SDDL_REVISION_1,
                                                           &sd, nullptr)) {
    sa.lpSecurityDescriptor = sd;
  }
  UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, 4096, kInstanceName));
  const DWORD error = GetLastError();
  if (sd) LocalFree(sd);
  if (mapping && error == ERROR_ALREADY_EXISTS) return HolderOf(mapping.get());
  // Where the claim cannot be made at all (a user without the right to make
  // global objects), this start goes on rather than leave the host without
  // its Kalmora.
  if (!mapping) return std::nullopt;
  if (auto* view = static_cast<volatile LONG*>(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(LONG)))) {
    InterlockedExchange(const_cast<LONG*>(view), static_cast<LONG>(GetCurrentProcessId()));
    UnmapViewOfFile(const_cast<LONG*>(view));
  }
  instance_ = std::move(mapping);
  return std::nullopt;
}

Result<std::optional<RegisteredService>> Win32Host::QueryService(const std::string& name) {
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm.get()) return Status::Failure(LastErrorText());
  ScHandle service(OpenServiceA(scm.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
  if (!service.get()) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return std::optional<RegisteredService>();
    return Status::Failure(LastErrorText());
  }
  DWORD needed = 0;
  QueryServiceConfigA(service.get(), nullptr, 0, &needed);
  std::vector<char> buffer(needed ? needed : 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
    return Status::Failure(LastErrorText());
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) return Status::Failure(LastErrorText());
  return std::optional<RegisteredService>(
      RegisteredService{config->lpBinaryPathName ? config->lpBinaryPathName : "", StateOf(status.dwCurrentState)});
}

Status Win32Host::StartService(const std::string& name) {
  ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!scm.get()) return Status::Failure(LastErrorText());
  ScHandle service(OpenServiceA(scm.get(), name.c_str(), SERVICE_START));
  if (!service.get() || !StartServiceA(service.get(), 0, nullptr)) return Status::Failure(LastErrorText());
  return Status();
}

}  // namespace kalmora::win32
