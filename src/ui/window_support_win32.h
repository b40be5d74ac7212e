// What the program's windows share on Windows: the fonts and brushes they own,
// the per-monitor DPI, sizing and placing a frame, the program's icon and the
// test for a desktop that a person can see.
#pragma once

#include <windows.h>

#include <string>

#include "text/scoped_win32.h"
#include "ui/help_layout.h"

namespace pinemail {

using Font = GdiObject<HFONT>;
using Brush = GdiObject<HBRUSH>;

inline constexpr int kDefaultDpi = 96;

// The frames' style: a caption with the system menu and a minimise button,
// a fixed size.
inline constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The DPI of the window's monitor where the system knows per-monitor DPI
// (Windows 10 1607 on), else the screen's.
int WindowDpi(HWND window);

// Sizes the frame so that its client area is `client` pixels at `dpi`,
// keeping the frame's top left corner at `left`, `top`.
void SizeFrame(HWND frame, Size client, int dpi, int left, int top);

// Sizes the frame as SizeFrame does, centred on its monitor's work area.
void CentreFrame(HWND frame, Size client, int dpi);

// Registers the frames' window class `class_name` (the program's icon, the
// arrow cursor, `back` behind the controls); true when it is registered,
// now or before.
bool RegisterFrameClass(HINSTANCE instance, const std::wstring& class_name, WNDPROC procedure,
                        HBRUSH back);

// The program's icon at `size` pixels; other programs (the tests) get the
// stock one.
HICON LoadAppIcon(HINSTANCE instance, int size);

// False when the process runs on a window station nobody sees: a task run
// "whether the user is logged on or not", a service. A window there would
// wait forever for a click that cannot come.
bool DesktopIsVisible();

}  // namespace pinemail
