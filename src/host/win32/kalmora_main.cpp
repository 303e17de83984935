// kalmora.exe: the service. Everything it does starts in RunStartup.
#include "host/win32/win32_host.h"
#include "service/frm_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  kalmora::win32::Win32Host::Options options;
  options.window_title = "Kalmora";
  kalmora::win32::Win32Host host(options);
  kalmora::RunKalmora(host);
}
