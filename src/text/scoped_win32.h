// Owners of Win32 handles for the *_win32 files of every layer: each gives
// its handle back to the system when it goes, so that nothing is closed by
// hand on some path and forgotten on another.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <objbase.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace pinemail {

namespace detail {
struct CloseHandleCall {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct FindCloseCall {
  void operator()(HANDLE handle) const { FindClose(handle); }
};
struct FreeLibraryCall {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
struct LocalFreeCall {
  void operator()(void* memory) const { LocalFree(memory); }
};
struct DeleteObjectCall {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct ReleaseCall {
  void operator()(IUnknown* object) const { object->Release(); }
};
}  // namespace detail

// A handle that `Close` gives back; null and INVALID_HANDLE_VALUE both mean
// none, as the calls that make handles answer either for a failure.
template <typename Close>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Where a call that hands a new handle out stores it (the old one is given back first).
  HANDLE* Receive() {
    Reset();
    return &handle_;
  }
  void Reset(HANDLE handle = nullptr) {
    if (valid()) Close()(handle_);
    handle_ = handle;
  }
  // Lets go of the handle without closing it: its new owner closes it.
  HANDLE Release() { return std::exchange(handle_, nullptr); }

 private:
  HANDLE handle_ = nullptr;
};

// A kernel object (a file, a pipe end, a process, a job).
using ScopedHandle = OwnedHandle<detail::CloseHandleCall>;
// A FindFirstFileW search.
using ScopedFind = OwnedHandle<detail::FindCloseCall>;
// A library loaded with LoadLibraryExW.
using ScopedLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, detail::FreeLibraryCall>;
// Memory the system allocated with LocalAlloc for the caller (FormatMessageW,
// CryptProtectData).
template <typename T>
using LocalMemory = std::unique_ptr<T, detail::LocalFreeCall>;
// A GDI object made for the program (a font, a brush): GdiObject<HFONT>.
template <typename Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, detail::DeleteObjectCall>;

// A COM interface the program holds a reference to: ComObject<ITaskbarList3>.
template <typename Interface>
using ComObject = std::unique_ptr<Interface, detail::ReleaseCall>;

// A window's device context (the screen's for no window), released when it goes.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~ScopedGetDC() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context while this lives.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelectObject() { SelectObject(dc_, previous_); }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// COM in a single-threaded apartment on this thread while this lives (when
// the thread had none yet of another kind).
class ScopedCom {
 public:
  ScopedCom()
      : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ScopedCom() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ScopedCom(const ScopedCom&) = delete;
  ScopedCom& operator=(const ScopedCom&) = delete;

 private:
  HRESULT result_;
};

}  // namespace pinemail
