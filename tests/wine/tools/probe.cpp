// kalmora_probe.exe: small helpers for the end-to-end tests under Wine.
//
//   copied as net.exe   appends its whole command line, CR LF ended, to
//                       net-calls.txt in its own directory (the stand-in for
//                       the system's "net send")
//   sleep SECONDS       sleeps; keeps a Wine session and its service
//                       manager alive while the tests run "sc"
//   message FILE ID     prints the message-table text of event id ID in the
//                       program file FILE with "<probe>" as its insertion
//   qc SERVICE          prints the service's configuration as the service
//                       manager reports it (Wine's sc has no "qc")
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string OwnPath() {
  char buffer[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
  return std::string(buffer, n);
}

int RecordNetCall(const std::string& self) {
  std::string log = self.substr(0, self.find_last_of('\\') + 1) + "net-calls.txt";
  FILE* f = std::fopen(log.c_str(), "ab");
  if (!f) return 2;
  std::fprintf(f, "%s\r\n", GetCommandLineA());
  std::fclose(f);
  return 0;
}

int PrintMessage(const char* file, const char* id) {
  HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    std::printf("cannot load %s: error %lu\n", file, GetLastError());
    return 2;
  }
  char probe_text[] = "<probe>";
  char* inserts[1] = {probe_text};
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                           module, static_cast<DWORD>(std::strtoul(id, nullptr, 10)), 0x409,
                           reinterpret_cast<LPSTR>(&text), 0, reinterpret_cast<va_list*>(inserts));
  if (n == 0) {
    std::printf("no message %s in %s: error %lu\n", id, file, GetLastError());
    return 1;
  }
  std::printf("[%s]\n", text);
  LocalFree(text);
  return 0;
}

int QueryConfig(const char* name) {
  SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = scm ? OpenServiceA(scm, name, SERVICE_QUERY_CONFIG) : nullptr;
  if (!service) {
    std::printf("OpenService %s failed: error %lu\n", name, GetLastError());
    return 1;
  }
  DWORD needed = 0;
  QueryServiceConfigA(service, nullptr, 0, &needed);
  std::string buffer(needed, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (!QueryServiceConfigA(service, config, needed, &needed)) {
    std::printf("QueryServiceConfig failed: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("TYPE=%lx\nSTART_TYPE=%lu\nERROR_CONTROL=%lu\nBINARY_PATH_NAME=%s\nDISPLAY_NAME=%s\n"
              "SERVICE_START_NAME=%s\n",
              config->dwServiceType, config->dwStartType, config->dwErrorControl, config->lpBinaryPathName,
              config->lpDisplayName, config->lpServiceStartName ? config->lpServiceStartName : "");
  CloseServiceHandle(service);
  CloseServiceHandle(scm);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string self = OwnPath();
  std::string base = self.substr(self.find_last_of('\\') + 1);
  for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (base == "net.exe") return RecordNetCall(self);
  if (argc == 3 && std::string(argv[1]) == "sleep") {
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10) * 1000));
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "message") return PrintMessage(argv[2], argv[3]);
  if (argc == 3 && std::string(argv[1]) == "qc") return QueryConfig(argv[2]);
  std::fprintf(stderr, "usage: kalmora_probe sleep SECONDS | message FILE ID | qc SERVICE (or run as net.exe)\n");
  return 2;
}
