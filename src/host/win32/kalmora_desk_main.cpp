// kalmora-desk.exe: what a logged-on person sees of a coming halt. Started by
// the service in each session, as that session's user; it can do nothing but
// show the countdown and answer through its exit status (desk_command.h):
// which button was pressed, or in idle mode how long the session has had no
// input. Any other command line ends it at once, showing nothing.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "notify/desk_command.h"
#include "notify/desk_texts.h"

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
  LANGID language = 0;  // the session's UI language, which the texts follow
  ULONGLONG started = 0;
  HWND progress = nullptr;  // the line that counts down
};
Countdown g_countdown;

kalmora::DeskLines Lines() {
  const ULONGLONG gone = (GetTickCount64() - g_countdown.started) / 1000;
  const uint32_t total = g_countdown.request.seconds_left;
  const auto left = static_cast<uint32_t>(gone >= total ? 0 : total - gone);
  return kalmora::MakeDeskLines(g_countdown.request, g_countdown.language, left);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      SetWindowTextW(g_countdown.progress, Wide(Lines().progress).c_str());
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

HWND Child(HWND parent, const wchar_t* cls, const std::wstring& text, DWORD style, const RECT& r, int id, HFONT font) {
  HWND c = CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, r.left, r.top, r.right - r.left,
                           r.bottom - r.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return c;
}

// The window is laid out before it is made: each line wrapped to the width
// it gets in the font it is shown in, so that the longest sentences (the
// German ones of hibernation) show whole, and the window as tall as they
// need.
constexpr int kMargin = 16, kTextWidth = 460, kGap = 6;

// Where `text` goes below `top` when wrapped to the text width.
RECT Place(HDC dc, HFONT font, const std::wstring& text, int top) {
  RECT r{0, 0, kTextWidth, 0};
  SelectObject(dc, font);
  DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  return {kMargin, top, kMargin + kTextWidth, top + r.bottom};
}

int TextWidth(HDC dc, HFONT font, const std::wstring& text) {
  SIZE size{};
  SelectObject(dc, font);
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

uint32_t ShowCountdown(const kalmora::DeskCountdown& request) {
  g_countdown.request = request;
  g_countdown.language = GetUserDefaultUILanguage();
  g_countdown.started = GetTickCount64();
  const kalmora::DeskLines lines = Lines();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"KalmoraDeskCountdown";
  RegisterClassExW(&wc);
  // The system's message font, which has the umlauts and whatever else the
  // session's language needs; the heading larger and bold.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  LOGFONTW big = metrics.lfMessageFont;
  big.lfHeight = big.lfHeight * 3 / 2;
  big.lfWeight = FW_BOLD;
  HFONT title = CreateFontIndirectW(&big);

  HDC dc = GetDC(nullptr);
  const RECT heading = Place(dc, title, Wide(lines.heading), kMargin);
  const RECT action = Place(dc, font, Wide(lines.action), heading.bottom + 2 * kGap);
  const RECT progress = Place(dc, font, Wide(lines.progress), action.bottom + kGap);
  const RECT advice = Place(dc, font, Wide(lines.advice), progress.bottom + kGap);
  TEXTMETRICW line{};
  GetTextMetricsW(dc, &line);  // of the last font placed: the text's
  const int button_height = line.tmHeight + 14;
  const int ok_width = std::max(90, TextWidth(dc, font, Wide(lines.ok)) + 24);
  const int postpone_width = TextWidth(dc, font, Wide(lines.postpone)) + 24;
  ReleaseDC(nullptr, dc);
  const int buttons = advice.bottom + 3 * kGap;
  const RECT ok{kMargin + kTextWidth - ok_width, buttons, kMargin + kTextWidth, buttons + button_height};
  const RECT postpone{kMargin, buttons, kMargin + postpone_width, buttons + button_height};

  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU, ex_style = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, kTextWidth + 2 * kMargin, ok.bottom + kMargin};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  HWND window =
      CreateWindowExW(ex_style, wc.lpszClassName, L"Kalmora", style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                      (GetSystemMetrics(SM_CYSCREEN) - height) / 3, width, height, nullptr, nullptr, instance, nullptr);
  if (!window) return kalmora::kDeskNoWindow;
  const DWORD text = SS_LEFT | SS_NOPREFIX;
  Child(window, L"STATIC", Wide(lines.heading), text, heading, -1, title);
  Child(window, L"STATIC", Wide(lines.action), text, action, -1, font);
  g_countdown.progress = Child(window, L"STATIC", Wide(lines.progress), text, progress, -1, font);
  Child(window, L"STATIC", Wide(lines.advice), text, advice, -1, font);
  HWND ok_button = Child(window, L"BUTTON", Wide(lines.ok), BS_DEFPUSHBUTTON | WS_TABSTOP, ok, IDOK, font);
  if (request.postpone_minutes) {
    Child(window, L"BUTTON", Wide(lines.postpone), BS_PUSHBUTTON | WS_TABSTOP, postpone, kPostponeId, font);
  }
  // A halt that waits shows what it waits for, and that line stays.
  if (request.waits == kalmora::DeskWait::None) SetTimer(window, kSecondTimer, 1000, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  // Return presses OK, Tab moves to the postpone button.
  SetFocus(ok_button);
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
