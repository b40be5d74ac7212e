// What the program's windows share on Windows: owners of GDI objects, device
// contexts and COM, the per-monitor DPI, sizing and placing a frame, the
// program's icon and the test for a desktop that a person can see.
#pragma once

#include <windows.h>
// windows.h first: this needs its types.
#include <objbase.h>

#include <memory>
#include <type_traits>

#include "ui/help_layout.h"

namespace pinemail {

// A GDI object (a font, a brush), deleted when its owner goes.
struct GdiObjectDelete {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDelete>;
using Brush = std::unique_ptr<std::remove_pointer_t<HBRUSH>, GdiObjectDelete>;

// A window's device context (the screen's for no window), released when it goes.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context while this lives.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selected() { SelectObject(dc_, previous_); }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// COM on this thread (single-threaded apartment) while this lives, for the
// shell's handlers and the taskbar.
class ComApartment {
 public:
  ComApartment()
      : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

inline constexpr int kDefaultDpi = 96;

// The DPI of the window's monitor where the system knows per-monitor DPI
// (Windows 10 1607 on), else the screen's.
int WindowDpi(HWND window);

// Sizes the frame so that its client area is `client` pixels at `dpi`,
// keeping the frame's top left corner at `left`, `top`.
void SizeFrame(HWND frame, Size client, int dpi, int left, int top);

// Sizes the frame as SizeFrame does, centred on its monitor's work area.
void CentreFrame(HWND frame, Size client, int dpi);

// The program's icon at `size` pixels; other programs (the tests) get the
// stock one.
HICON LoadAppIcon(HINSTANCE instance, int size);

// False when the process runs on a window station nobody sees: a task run
// "whether the user is logged on or not", a service. A window there would
// wait forever for a click that cannot come.
bool DesktopIsVisible();

}  // namespace pinemail
