// The DPI look-ups, frame sizing, icon and desktop test that the help window
// and the progress window share.
#include "ui/window_support_win32.h"

#include "ui/resources/resource_ids.h"

namespace pinemail {
namespace {

// The per-monitor DPI functions exist from Windows 10 1607 on; they are looked
// up at run time so that the program still starts on older systems.
using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

struct DpiFunctions {
  GetDpiForWindowFn get_dpi_for_window = nullptr;
  AdjustWindowRectExForDpiFn adjust_window_rect_ex_for_dpi = nullptr;
};

template <typename Fn>
Fn LookUp(HMODULE module, const char* name) {
  // Through void (*)(void), which the compiler accepts as a cast to any
  // function type.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DpiFunctions& Dpi() {
  static const DpiFunctions functions = [] {
    DpiFunctions found;
    if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
      found.get_dpi_for_window = LookUp<GetDpiForWindowFn>(user32, "GetDpiForWindow");
      found.adjust_window_rect_ex_for_dpi =
          LookUp<AdjustWindowRectExForDpiFn>(user32, "AdjustWindowRectExForDpi");
    }
    return found;
  }();
  return functions;
}

}  // namespace

int WindowDpi(HWND window) {
  if (Dpi().get_dpi_for_window) {
    const UINT dpi = Dpi().get_dpi_for_window(window);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  const ScopedGetDC screen(nullptr);
  const int dpi = screen.get() ? GetDeviceCaps(screen.get(), LOGPIXELSY) : kDefaultDpi;
  return dpi > 0 ? dpi : kDefaultDpi;
}

void SizeFrame(HWND frame, Size client, int dpi, int left, int top) {
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(frame, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(frame, GWL_EXSTYLE));
  RECT bounds{0, 0, client.width, client.height};
  if (Dpi().adjust_window_rect_ex_for_dpi) {
    Dpi().adjust_window_rect_ex_for_dpi(&bounds, style, FALSE, ex_style, static_cast<UINT>(dpi));
  } else {
    AdjustWindowRectEx(&bounds, style, FALSE, ex_style);
  }
  SetWindowPos(frame, nullptr, left, top, bounds.right - bounds.left, bounds.bottom - bounds.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void CentreFrame(HWND frame, Size client, int dpi) {
  SizeFrame(frame, client, dpi, 0, 0);
  RECT bounds{};
  GetWindowRect(frame, &bounds);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  if (!GetMonitorInfoW(MonitorFromWindow(frame, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const RECT& area = monitor.rcWork;
  const int left = area.left + ((area.right - area.left) - (bounds.right - bounds.left)) / 2;
  const int top = area.top + ((area.bottom - area.top) - (bounds.bottom - bounds.top)) / 2;
  SizeFrame(frame, client, dpi, left > area.left ? left : area.left,
            top > area.top ? top : area.top);
}

HICON LoadAppIcon(HINSTANCE instance, int size) {
  if (auto* icon = static_cast<HICON>(
          LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_SHARED))) {
    return icon;
  }
  return LoadIconW(nullptr, IDI_APPLICATION);
}

bool DesktopIsVisible() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return false;
  USEROBJECTFLAGS flags{};
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool RegisterFrameClass(HINSTANCE instance, const std::wstring& class_name, WNDPROC procedure,
                        HBRUSH back) {
  WNDCLASSEXW frame_class{};
  frame_class.cbSize = sizeof(frame_class);
  frame_class.lpfnWndProc = procedure;
  frame_class.hInstance = instance;
  frame_class.hIcon = LoadAppIcon(instance, GetSystemMetrics(SM_CXICON));
  frame_class.hIconSm = LoadAppIcon(instance, GetSystemMetrics(SM_CXSMICON));
  frame_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  frame_class.hbrBackground = back;
  frame_class.lpszClassName = class_name.c_str();
  return RegisterClassExW(&frame_class) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace pinemail
