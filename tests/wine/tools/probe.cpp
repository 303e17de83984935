// kalmora_probe.exe: small helpers for the end-to-end tests under Wine.
//
//   copied as net.exe   appends its whole command line, CR LF ended, to
//                       net-calls.txt in its own directory (the stand-in for
//                       the system's "net send")
//   sleep SECONDS       sleeps; keeps a Wine session and its service
//                       manager alive while the tests run "sc"
//   controls SERVICE    prints the controls the running service accepts
//   message FILE ID     prints the message-table text of event id ID in the
//                       program file FILE with "<probe>" as its insertion
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  char self[MAX_PATH * 4];
  std::string dir(self, GetModuleFileNameA(nullptr, self, sizeof(self)));
  dir.resize(dir.find_last_of('\\') + 1);
  const std::string command = argc > 1 ? argv[1] : "";
  if (lstrcmpiA(self + dir.size(), "net.exe") == 0) {
    FILE* f = std::fopen((dir + "net-calls.txt").c_str(), "ab");
    return f && std::fprintf(f, "%s\r\n", GetCommandLineA()) > 0 && std::fclose(f) == 0 ? 0 : 2;
  }
  if (argc == 3 && command == "sleep") {
    Sleep(std::strtoul(argv[2], nullptr, 10) * 1000);
    return 0;
  }
  if (argc == 3 && command == "controls") {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = scm ? OpenServiceA(scm, argv[2], SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service, &status)) return 1;
    std::printf("0x%lx\n", status.dwControlsAccepted);
    return 0;
  }
  if (argc == 4 && command == "message") {
    HMODULE module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char probe_text[] = "<probe>";
    char* inserts[1] = {probe_text};
    char* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    if (!module || !FormatMessageA(flags, module, std::strtoul(argv[3], nullptr, 10), 0x409,
                                   reinterpret_cast<LPSTR>(&text), 0, reinterpret_cast<va_list*>(inserts))) {
      std::printf("no message %s in %s: error %lu\n", argv[3], argv[2], GetLastError());
      return 1;
    }
    std::printf("[%s]\n", text);
    return 0;
  }
  std::fprintf(stderr, "usage: kalmora_probe sleep SECONDS | controls SERVICE | message FILE ID (or run as net.exe)\n");
  return 2;
}
