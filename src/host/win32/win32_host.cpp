#include "host/win32/win32_host.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "host/sim/digest.h"
#include "host/win32/mod_api.h"

namespace kalmora::win32 {

namespace {

constexpr const char* kWindowClass = "KalmoraHostWindow";

UINT_PTR TimerEventId(TimerId id) { return static_cast<UINT_PTR>(id) + 1; }

std::string ModuleFileName() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string LastErrorText(DWORD error) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : "Windows error " + std::to_string(error);
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\r' || out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

namespace {

// Names with wildcards would make the directory search match other files.
bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

}  // namespace

Win32Host::Win32Host(const Options& options) {
  InitializeCriticalSection(&status_lock_);
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = &Win32Host::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassExA(&wc);
  // Created without WS_VISIBLE: the window is never shown.
  if (options.top_level_window) {
    window_ = CreateWindowExA(0, kWindowClass, options.window_title, WS_OVERLAPPED | WS_CAPTION, CW_USEDEFAULT,
                              CW_USEDEFAULT, 400, 120, nullptr, nullptr, instance, this);
  }
  // Where no desktop allows a top-level window, the timers and the service
  // requests still need a window of their own.
  if (!window_) {
    window_ =
        CreateWindowExA(0, kWindowClass, options.window_title, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this);
  }
}

Win32Host::~Win32Host() {
  if (window_) DestroyWindow(window_);
  DeleteCriticalSection(&status_lock_);
}

// --- clock ------------------------------------------------------------------

LocalTime Win32Host::Now() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.weekday = st.wDayOfWeek == 0 ? 7 : st.wDayOfWeek;  // Windows counts from Sunday = 0
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

float Win32Host::SecondsSinceMidnight() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  const double s = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond + st.wMilliseconds / 1000.0;
  return static_cast<float>(s);
}

int64_t Win32Host::ElapsedMs() { return static_cast<int64_t>(GetTickCount64()); }

int Win32Host::UtcOffsetMinutes() {
  // The bias is what UTC is ahead of local time; daylight saving adds its own.
  TIME_ZONE_INFORMATION tz{};
  const DWORD zone = GetTimeZoneInformation(&tz);
  LONG bias = tz.Bias;
  if (zone == TIME_ZONE_ID_DAYLIGHT) bias += tz.DaylightBias;
  if (zone == TIME_ZONE_ID_STANDARD) bias += tz.StandardBias;
  return zone == TIME_ZONE_ID_INVALID ? 0 : -static_cast<int>(bias);
}

std::string Win32Host::ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

// In the ANSI code page, like the computer name and kalmora.ini that it is
// compared with.
std::string Win32Host::DnsHostName() {
  char name[256] = {};
  DWORD size = sizeof name;
  return GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) ? std::string(name, size) : std::string();
}

uint32_t Win32Host::AnsiCodePage() { return GetACP(); }

// --- event loop ---------------------------------------------------------------

LRESULT CALLBACK Win32Host::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Host*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self && hwnd == self->window_) return self->OnMessage(msg, wp, lp);
  return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT Win32Host::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_TIMER:
      for (int i = 0; i < 3; ++i) {
        auto id = static_cast<TimerId>(i);
        // A tick that was already queued when its timer was switched off is
        // not delivered.
        if (wp == TimerEventId(id) && timers_[i].enabled && sink_) sink_->OnTimer(id);
      }
      return 0;
    case kServiceStartMessage:
      OnServiceStart();
      return 0;
    case kPowerResumeMessage:
      if (sink_) sink_->OnPowerResume();
      return 0;
    case kServiceStopMessage:
      if (sink_) sink_->OnServiceStopRequested();
      return 0;
    case WM_CLOSE:
      // The forms are closed by the program, not by the user.
      return 0;
    default:
      return DefWindowProcA(window_, msg, wp, lp);
  }
}

void Win32Host::Dispatch(MSG& msg) {
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

void Win32Host::DoEvents() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) ExitProgram(ExitReason::Done);
    Dispatch(msg);
  }
}

void Win32Host::Sleep(uint32_t ms) { ::Sleep(ms); }

void Win32Host::SetTimerInterval(TimerId id, uint32_t ms) {
  Timer& t = timers_[static_cast<int>(id)];
  t.interval = ms;
  // Like a form's timer: a new interval starts the period afresh.
  if (t.enabled) SetTimer(window_, TimerEventId(id), t.interval, nullptr);
}

void Win32Host::EnableTimer(TimerId id, bool enabled) {
  Timer& t = timers_[static_cast<int>(id)];
  if (enabled == t.enabled) return;
  t.enabled = enabled;
  if (enabled && t.interval > 0) {
    SetTimer(window_, TimerEventId(id), t.interval, nullptr);
  } else {
    KillTimer(window_, TimerEventId(id));
  }
}

bool Win32Host::TimerEnabled(TimerId id) { return timers_[static_cast<int>(id)].enabled; }

void Win32Host::IdleUntilEnd() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
  ExitProgram(ExitReason::Done);
}

void Win32Host::EndProgram(ExitReason reason) {
  // Whatever ends a service process, the service manager hears of it first,
  // so that it records a stop and not a crash.
  // A start refused because another Kalmora runs says so to the service
  // manager too ("An instance of the service is already running"); it is no
  // crash, so the recovery settings leave it alone.
  const bool refused = reason == ExitReason::AlreadyRunning;
  if (status_handle_.load()) SetStatus(SERVICE_STOPPED, refused ? ERROR_SERVICE_ALREADY_RUNNING : NO_ERROR, 0);
  // Scripts that install or uninstall can tell success from failure.
  ExitProcess(reason == ExitReason::Config || reason == ExitReason::CommandFailed || refused ? 1 : 0);
}

// --- process and window ---------------------------------------------------------

std::string Win32Host::ArgumentsOf(const char* command_line) {
  const char* p = command_line ? command_line : "";
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

std::string Win32Host::CommandLineArgs() { return ArgumentsOf(GetCommandLineA()); }

std::string Win32Host::ProgramDirectory() {
  std::string path = ModuleFileName();
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool Win32Host::SetCurrentDirectory(const std::string& dir) {
  // "C:" alone names the drive's current directory, not its root.
  std::string d = dir;
  if (d.size() == 2 && d[1] == ':') d += '\\';
  return SetCurrentDirectoryA(d.c_str()) != 0;
}

void Win32Host::HideWindow() {
  if (window_) ShowWindow(window_, SW_HIDE);
}

void Win32Host::ShowMessage(const std::string& caption, const std::string& text, MsgIcon icon) {
  UINT type = MB_OK | MB_TASKMODAL | MB_SETFOREGROUND;
  if (icon == MsgIcon::Information) type |= MB_ICONINFORMATION;
  if (icon == MsgIcon::Warning) type |= MB_ICONWARNING;
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), type);
}

namespace {

// No application name: the platform finds the program the usual way (our
// own directory first, then the working directory, then the system's) and
// starts a batch file through its command interpreter. The working
// directory is inherited. A file for the standard output is the one handle
// the child inherits: no other handle of ours is made inheritable.
Result<PROCESS_INFORMATION> CreateHidden(const std::string& command_line, DWORD flags, const std::string& output = "") {
  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  UniqueHandle out;
  if (!output.empty()) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    out.reset(CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, &inheritable,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
      const std::string why = LastErrorText();
      return Status::Failure(output + " could not be created (" + why + ")");
    }
    si.dwFlags |= STARTF_USESTDHANDLES;
    si.hStdOutput = out.get();
  }
  PROCESS_INFORMATION pi{};
  std::vector<char> cmd(command_line.begin(), command_line.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, out ? TRUE : FALSE, flags, nullptr, nullptr, &si, &pi)) {
    return Status::Failure(LastErrorText());
  }
  return pi;
}

}  // namespace

Status Win32Host::StartProcess(const std::string& command_line) {
  auto pi = CreateHidden(command_line, 0);
  if (!pi) return pi.status();
  // Nobody waits for it: both handles go at once, the thread's first.
  UniqueHandle process(pi->hProcess), thread(pi->hThread);
  return Status();
}

Result<ChildProcess> Win32Host::StartChild(const std::string& command_line, const std::string& output) {
  // Started suspended, so that it is in its job before it can start
  // anything of its own.
  auto pi = CreateHidden(command_line, CREATE_SUSPENDED, output);
  if (!pi) return pi.status();
  return AdoptSuspended(*pi);
}

ChildProcess Win32Host::AdoptSuspended(const PROCESS_INFORMATION& pi) {
  Child c{UniqueHandle(pi.hProcess), UniqueHandle(CreateJobObjectA(nullptr, nullptr))};
  if (c.job && !AssignProcessToJobObject(c.job.get(), c.process.get())) c.job.reset();
  UniqueHandle thread(pi.hThread);
  ResumeThread(thread.get());
  const uint64_t id = next_child_++;
  children_[id] = std::move(c);
  return ChildProcess{id};
}

std::optional<uint32_t> Win32Host::ChildExitStatus(ChildProcess child) {
  auto it = children_.find(child.id);
  if (it == children_.end() || WaitForSingleObject(it->second.process.get(), 0) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  if (!GetExitCodeProcess(it->second.process.get(), &code)) return std::nullopt;
  return code;
}

void Win32Host::ReleaseChild(ChildProcess child, bool end_if_running) {
  auto it = children_.find(child.id);
  if (it == children_.end()) return;
  Child& c = it->second;
  if (end_if_running && WaitForSingleObject(c.process.get(), 0) == WAIT_TIMEOUT) {
    if (!c.job || !TerminateJobObject(c.job.get(), 1)) TerminateProcess(c.process.get(), 1);
    WaitForSingleObject(c.process.get(), 5000);
  }
  // Closes the job's handle, then the process's.
  children_.erase(it);
}

ProgramVersion Win32Host::Version() {
  ProgramVersion v{KALMORA_VERSION_MAJOR, KALMORA_VERSION_MINOR, KALMORA_VERSION_REVISION};
  const std::string path = ModuleFileName();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  if (size == 0) return v;
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(path.c_str(), 0, size, info.data())) return v;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT len = 0;
  if (!VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len) || !fixed ||
      len < sizeof(VS_FIXEDFILEINFO)) {
    return v;
  }
  v.major = static_cast<int16_t>(HIWORD(fixed->dwFileVersionMS));
  v.minor = static_cast<int16_t>(LOWORD(fixed->dwFileVersionMS));
  v.revision = static_cast<int16_t>(HIWORD(fixed->dwFileVersionLS));
  return v;
}

// --- files ---------------------------------------------------------------------

Status Win32Host::DeleteFile(const std::string& name) {
  return DeleteFileA(name.c_str()) ? Status() : Status::Failure(LastErrorText());
}

Status Win32Host::ReplaceFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) ? Status() : Status::Failure(LastErrorText());
}

bool Win32Host::FileExists(const std::string& name) {
  if (name.empty() || HasWildcard(name)) return false;
  WIN32_FIND_DATAA fd;
  const SearchHandle search(FindFirstFileA(name.c_str(), &fd));
  if (!search) return false;
  return (fd.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

std::optional<std::string> Win32Host::ReadFile(const std::string& name) {
  UniqueHandle f(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(f.get(), chunk, sizeof(chunk), &got, nullptr)) return std::nullopt;
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  return bytes;
}

Status Win32Host::WriteFile(const std::string& name, const std::string& bytes) {
  UniqueHandle f(CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!f) return Status::Failure(LastErrorText());
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD put = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(f.get(), bytes.data() + done, want, &put, nullptr) || put == 0) {
      return Status::Failure(LastErrorText());
    }
    done += put;
  }
  return Status();
}

std::optional<std::string> Win32Host::Sha256OfFile(const std::string& name) {
  auto bytes = ReadFile(name);
  if (!bytes) return std::nullopt;
  return sim::Sha256Digest(*bytes);
}

std::string Win32Host::GetProfileString(const std::string& section, const std::string& key,
                                        const std::string& default_value, const std::string& path, size_t buffer_size) {
  return modAPI::ReadIniString(section, key, default_value, path, buffer_size);
}

}  // namespace kalmora::win32
