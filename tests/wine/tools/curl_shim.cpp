// curl_shim.exe: installed as system\curl.exe in the prefixes of the tests
// under Wine, with the real (Linux) curl beside it as curl-linux.exe.
//
// Wine cannot wait for a Unix process: CreateProcess of a Unix program
// forks it and hands back no process handle at all, so a waiting caller
// sees neither its end nor its exit status, and a pipe as its standard
// output reads end-of-file at once. Kalmora judges every download by curl's
// exit status, so under Wine it would wait its whole UpdateTimeout and then
// refuse the file. This program is an ordinary Windows process in between:
// it starts the real curl with its own arguments plus
// `-w "curl_shim exit %{exitcode}\n"`, whose output goes to a file given as
// the real curl's standard output (Wine passes a file handle on as the Unix
// descriptor; it passes on no standard error, and curl writes -w's
// %{stderr} to its real standard error, never to a --stderr file), waits
// until one such line per transfer has appeared there
// and ends with the first non-zero status, or 0. The file is complete by
// then: curl closes each downloaded file before it writes that line.
//
// It understands the command lines Kalmora gives curl: options without
// values, and URLs, of which one may hold brace lists such as "{a,b}.new".
// When the real curl writes no line at all (it could not even start a
// transfer), this waits until the caller ends it at its own bound.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char kMarker[] = "curl_shim exit ";

// One URL with brace lists stands for the product of their sizes.
int TransfersOf(const std::string& url) {
  int total = 1, items = 1;
  bool open = false;
  for (char c : url) {
    if (c == '{') open = true, items = 1;
    if (open && c == ',') ++items;
    if (open && c == '}') open = false, total *= items;
  }
  return total;
}

// The caller's own command line after the program name, exactly as given.
std::wstring ArgumentsOfCaller() {
  const wchar_t* p = GetCommandLineW();
  if (*p == L'"') {
    for (++p; *p && *p != L'"'; ++p) {
    }
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  return p;
}

std::wstring OwnDirectory() {
  wchar_t buffer[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 2);
  std::wstring path(buffer, n);
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Exit statuses of the transfers reported so far.
std::vector<unsigned long> Reported(const std::wstring& file) {
  std::vector<unsigned long> statuses;
  FILE* f = _wfopen(file.c_str(), L"rb");
  if (!f) return statuses;
  char line[256];
  while (std::fgets(line, sizeof(line), f)) {
    // Only a whole line counts: the last one may still be on its way.
    std::string s(line);
    if (s.rfind(kMarker, 0) == 0 && !s.empty() && s.back() == '\n') {
      statuses.push_back(std::strtoul(s.c_str() + sizeof(kMarker) - 1, nullptr, 10));
    }
  }
  std::fclose(f);
  return statuses;
}

}  // namespace

int main(int argc, char** argv) {
  int expected = 0;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') expected += TransfersOf(argv[i]);
  }
  if (expected == 0) {
    std::fprintf(stderr, "curl_shim: no URL in the arguments\n");
    return 2;
  }

  wchar_t temp[MAX_PATH + 1], status_file[MAX_PATH + 1];
  if (!GetTempPathW(MAX_PATH + 1, temp) || !GetTempFileNameW(temp, L"crl", 0, status_file)) return 2;
  SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
  HANDLE out = CreateFileW(status_file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 2;

  const std::wstring real = OwnDirectory() + L"curl-linux.exe";
  std::wstring command = L"\"" + real + L"\"" + ArgumentsOfCaller() + L" -w \"" +
                         std::wstring(kMarker, kMarker + sizeof(kMarker) - 1) + L"%{exitcode}\\n\"";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(real.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "curl_shim: cannot start curl-linux.exe: error %lu\n", GetLastError());
    CloseHandle(out);
    DeleteFileW(status_file);
    return 2;
  }
  if (pi.hThread) CloseHandle(pi.hThread);
  if (pi.hProcess) CloseHandle(pi.hProcess);
  CloseHandle(out);

  std::vector<unsigned long> statuses;
  while ((statuses = Reported(status_file)).size() < static_cast<size_t>(expected)) Sleep(100);
  DeleteFileW(status_file);
  for (unsigned long s : statuses) {
    if (s != 0) return static_cast<int>(s);
  }
  return 0;
}
