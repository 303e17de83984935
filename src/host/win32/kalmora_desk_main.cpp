// kalmora-desk.exe: what a logged-on person sees of a coming halt. Started by
// the service in each session, as that session's user; it can do nothing but
// show the countdown and answer through its exit status (desk_command.h):
// which button was pressed, or in idle mode how long the session has had no
// input. Any other command line ends it at once, showing nothing.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>

#include "notify/desk_command.h"

namespace {

constexpr int kPostponeId = 101;
constexpr UINT_PTR kSecondTimer = 1;

std::string Utf8(const wchar_t* s) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, s, -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& s) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
  std::wstring out(n > 0 ? n - 1 : 0, L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, out.data(), n);
  return out;
}

struct Countdown {
  kalmora::DeskCountdown request;
  ULONGLONG started = 0;
  HWND left = nullptr;  // the line that counts down
};
Countdown g_countdown;

std::wstring TimeLeft() {
  const ULONGLONG gone = (GetTickCount64() - g_countdown.started) / 1000;
  const ULONGLONG left = gone >= g_countdown.request.seconds_left ? 0 : g_countdown.request.seconds_left - gone;
  wchar_t buf[64];
  if (left >= 3600) {
    wsprintfW(buf, L"Time left: %u:%02u:%02u", unsigned(left / 3600), unsigned(left / 60 % 60), unsigned(left % 60));
  } else {
    wsprintfW(buf, L"Time left: %u:%02u", unsigned(left / 60), unsigned(left % 60));
  }
  return buf;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      SetWindowTextW(g_countdown.left, TimeLeft().c_str());
      return 0;
    case WM_COMMAND:
      if (LOWORD(wp) == IDOK) PostQuitMessage(static_cast<int>(kalmora::kDeskOk));
      if (LOWORD(wp) == kPostponeId) PostQuitMessage(static_cast<int>(kalmora::kDeskPostpone));
      return 0;
    case WM_CLOSE:
      PostQuitMessage(static_cast<int>(kalmora::kDeskOk));
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

HWND Child(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, int x, int y, int w, int h, int id,
           HFONT font) {
  HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return c;
}

uint32_t ShowCountdown(const kalmora::DeskCountdown& request) {
  g_countdown.request = request;
  g_countdown.started = GetTickCount64();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"KalmoraDeskCountdown";
  RegisterClassExW(&wc);
  const int width = 440, height = 210;
  HWND window =
      CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, wc.lpszClassName, L"Kalmora",
                      WS_POPUP | WS_CAPTION | WS_SYSMENU, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                      (GetSystemMetrics(SM_CYSCREEN) - height) / 3, width, height, nullptr, nullptr, instance, nullptr);
  if (!window) return kalmora::kDeskNoWindow;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  LOGFONTW big = metrics.lfMessageFont;
  big.lfHeight = big.lfHeight * 3 / 2;
  big.lfWeight = FW_BOLD;
  HFONT title = CreateFontIndirectW(&big);
  Child(window, L"STATIC", Wide(request.reason), SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 16, 12, 400, 28, -1, title);
  Child(window, L"STATIC", L"This computer shuts down at " + Wide(request.halt_at) + L".", SS_LEFT, 16, 46, 400, 20, -1,
        font);
  g_countdown.left = Child(window, L"STATIC", TimeLeft(), SS_LEFT, 16, 68, 400, 20, -1, font);
  const std::wstring later = request.latest.empty()
                                 ? L"Save your work now."
                                 : L"Save your work now. It shuts down at " + Wide(request.latest) + L" at the latest.";
  Child(window, L"STATIC", later, SS_LEFT, 16, 92, 400, 20, -1, font);
  int x = width - 16 - 100;
  HWND ok = Child(window, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, x, 126, 90, 28, IDOK, font);
  if (request.postpone_minutes) {
    const std::wstring unit = request.postpone_minutes == 1 ? L" minute" : L" minutes";
    Child(window, L"BUTTON", L"Postpone " + std::to_wstring(request.postpone_minutes) + unit,
          BS_PUSHBUTTON | WS_TABSTOP, 16, 126, 190, 28, kPostponeId, font);
  }
  SetTimer(window, kSecondTimer, 1000, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  // Return presses OK, Tab moves to the postpone button.
  SetFocus(ok);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<uint32_t>(msg.wParam);
}

uint32_t SecondsIdle() {
  LASTINPUTINFO info{sizeof(info), 0};
  if (!GetLastInputInfo(&info)) return kalmora::kDeskMaxIdleSeconds;
  const DWORD ms = GetTickCount() - info.dwTime;  // wraps like the tick count itself
  return ms / 1000 > kalmora::kDeskMaxIdleSeconds ? kalmora::kDeskMaxIdleSeconds : ms / 1000;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv && i < argc; ++i) args.push_back(Utf8(argv[i]));
  if (argv) LocalFree(argv);
  const auto request = kalmora::ParseDeskArguments(args);
  if (!request) return static_cast<int>(kalmora::kDeskBadCommandLine);
  if (request->idle) return static_cast<int>(SecondsIdle());
  return static_cast<int>(ShowCountdown(request->countdown));
}
