// The one owner of Windows handles: whatever the kind, a handle that is ours
// is closed exactly once, by the function of its kind, when its owner goes.
#pragma once

#include <windows.h>

namespace kalmora::win32 {

// Owns one handle. A kind says what its handles are (Handle), which values
// hold none (Empty) and how one is closed (Close). Movable, never copied:
// two owners would close the handle twice.
template <class Kind>
class Owned {
 public:
  using Handle = typename Kind::Handle;

  Owned() = default;
  explicit Owned(Handle h) : h_(h) {}
  ~Owned() { reset(); }
  Owned(Owned&& other) noexcept : h_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  Handle get() const { return h_; }
  explicit operator bool() const { return !Kind::Empty(h_); }
  // For the functions that hand a new handle back through a pointer; one
  // held before is closed first.
  Handle* out() {
    reset();
    return &h_;
  }
  // Closes the handle held, if any, and takes `h`.
  void reset(Handle h = nullptr) {
    if (!Kind::Empty(h_)) Kind::Close(h_);
    h_ = h;
  }
  Handle release() {
    Handle h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  Handle h_ = nullptr;
};

// Most kinds: null is the only handle that is none.
template <class H>
struct NullIsNone {
  using Handle = H;
  static bool Empty(H h) { return h == nullptr; }
};

// Kernel objects (files, processes, threads, jobs, mappings, tokens): CreateFile
// fails with INVALID_HANDLE_VALUE and most others with null, so both are none.
// GetCurrentProcess's stand-in is INVALID_HANDLE_VALUE as well, and is never
// closed.
struct KernelObject {
  using Handle = HANDLE;
  static bool Empty(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
using UniqueHandle = Owned<KernelObject>;

// A directory search of FindFirstFile, which fails the way CreateFile does.
struct DirectorySearch : KernelObject {
  static void Close(HANDLE h) { FindClose(h); }
};
using SearchHandle = Owned<DirectorySearch>;

// The service manager or a service.
struct ServiceObject : NullIsNone<SC_HANDLE> {
  static void Close(SC_HANDLE h) { CloseServiceHandle(h); }
};
using ScHandle = Owned<ServiceObject>;

// An event source of RegisterEventSource.
struct EventSource : NullIsNone<HANDLE> {
  static void Close(HANDLE h) { DeregisterEventSource(h); }
};
using EventSourceHandle = Owned<EventSource>;

// An open registry key.
struct RegistryKey : NullIsNone<HKEY> {
  static void Close(HKEY h) { RegCloseKey(h); }
};
using KeyHandle = Owned<RegistryKey>;

}  // namespace kalmora::win32
