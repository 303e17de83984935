// zorvane.exe: the update helper. Its form is a window that is never shown,
// with the label lblUpdating; tmrUpdate lives on the same window.
#include "host/win32/win32_host.h"
#include "updater/frm_zorvane.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  kalmora::win32::Win32Host::Options options;
  options.window_title = "Zorvane";
  options.top_level_window = true;
  kalmora::win32::Win32Host host(options);
  HWND lblUpdating = CreateWindowExA(0, "STATIC", kalmora::frmZorvane::kUpdatingText, WS_CHILD | WS_VISIBLE | SS_CENTER,
                                     10, 30, 370, 20, host.window(), nullptr, instance, nullptr);
  (void)lblUpdating;
  kalmora::RunZorvane(host);
}
