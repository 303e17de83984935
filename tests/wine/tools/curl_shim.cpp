// curl_shim.exe: system\curl.exe in the prefixes of the tests under Wine,
// with the real (Linux) curl beside it as curl-linux.exe.
//
// Wine hands back no process handle for a Unix program, so a caller sees
// neither its end nor its exit status, by which Kalmora judges every
// transfer. This ordinary Windows process starts the real curl with its own
// arguments plus `-w "curl_shim exit %{exitcode}\n"`, curl's standard output
// going to a file (Wine passes on a file handle, but no standard error),
// waits for one such line per transfer (curl has closed the transfer's file
// by then) and ends with the first non-zero status, or 0. The caller's own
// -w format goes before the marker, and its lines are passed on to the
// shim's standard output. It knows the command lines Kalmora gives curl: a
// download's options, -w's value and URLs, one of which may hold brace lists
// such as "{a,b}.new", and a mail's --url, --mail-from, --mail-rcpt, -T and
// -K. Without any line (curl could not start a transfer) it waits until the
// caller ends it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  // Each URL is one transfer, times the sizes of its brace lists; the
  // values of the options that take one are no URLs, except --url's.
  int expected = 0;
  std::string format;  // the caller's -w
  for (int i = 1; i < argc; ++i) {
    const std::string before = i > 1 ? argv[i - 1] : "";
    if (before == "-w") format = argv[i];
    const bool other_value =
        before == "--mail-from" || before == "--mail-rcpt" || before == "-T" || before == "-K" || before == "-w";
    int transfers = before == "--url" || (argv[i][0] != '-' && !other_value), items = 1;
    for (const char* c = argv[i]; transfers && *c; ++c) {
      if (*c == '{') items = 1;
      if (*c == ',') ++items;
      if (*c == '}') transfers *= items;
    }
    expected += transfers;
  }
  char temp[MAX_PATH], status_file[MAX_PATH], self[MAX_PATH];
  if (!expected || !GetTempPathA(MAX_PATH, temp) || !GetTempFileNameA(temp, "crl", 0, status_file)) return 2;
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE out = CreateFileA(status_file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string real(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
  real = real.substr(0, real.find_last_of('\\') + 1) + "curl-linux.exe";
  // The caller's own command line after the program name, exactly as given.
  const char* args = GetCommandLineA();
  for (bool quoted = false; *args && (quoted || (*args != ' ' && *args != '\t')); ++args) quoted ^= *args == '"';
  const char kMarker[] = "curl_shim exit ";
  // File names such as system\smtp.cfg, as the Linux curl reads them.
  std::string tail = args;
  for (char& c : tail) c = c == '\\' ? '/' : c;
  std::string command = "\"" + real + "\"" + tail + " -w \"" + format + kMarker + "%{exitcode}\\n\"";
  STARTUPINFOA si{sizeof(si)};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (out == INVALID_HANDLE_VALUE ||
      !CreateProcessA(real.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "curl_shim: cannot start %s: error %lu\n", real.c_str(), GetLastError());
    return 2;
  }
  CloseHandle(out);
  for (int seen = 0, failure = 0;; seen = failure = 0, Sleep(100)) {
    FILE* f = std::fopen(status_file, "rb");
    // Only a whole line counts: the last one may still be on its way.
    for (char line[256]; f && std::fgets(line, sizeof line, f);) {
      if (std::strncmp(line, kMarker, sizeof kMarker - 1) != 0 || line[std::strlen(line) - 1] != '\n') continue;
      ++seen;
      if (!failure) failure = std::atoi(line + sizeof kMarker - 1);
    }
    if (f) std::fclose(f);
    if (seen >= expected) {
      f = std::fopen(status_file, "rb");
      for (char line[256]; f && std::fgets(line, sizeof line, f);) {
        if (std::strncmp(line, kMarker, sizeof kMarker - 1) == 0) continue;
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
      }
      if (f) std::fclose(f);
      DeleteFileA(status_file);
      return failure;
    }
  }
}
