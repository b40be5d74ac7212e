// The Win32 help window frmMain: the labels, the read-only help text and the
// address link, laid out in twips for the window's DPI.
#include "ui/help_window_win32.h"

#include <windows.h>

#include <array>
#include <string>
#include <string_view>

#include "config/product.h"
#include "text/browser_opener.h"
#include "text/scoped_win32.h"
#include "text/wide_win32.h"
#include "ui/help_layout.h"
#include "ui/help_text.h"
#include "ui/help_window.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_support_win32.h"

namespace pinemail {

LOGFONTW HelpFontRequest(const FontStyle& font, const std::wstring& face, int dpi) {
  LOGFONTW request{};
  // Positive: the cell height, ascent plus descent. The design's face has no
  // internal leading, so this is its em height; a fallback face with more
  // leading is scaled down to fit the label's one-line height, underline
  // included.
  request.lfHeight = FontPixelHeight(font, dpi);
  request.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  request.lfUnderline = font.underline ? TRUE : FALSE;
  request.lfCharSet = static_cast<BYTE>(kHelpFontCharset);
  request.lfOutPrecision = OUT_DEFAULT_PRECIS;
  request.lfClipPrecision = CLIP_DEFAULT_PRECIS;
  request.lfQuality = DEFAULT_QUALITY;
  request.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
  face.copy(request.lfFaceName, LF_FACESIZE - 1);
  return request;
}

namespace {

// The window's state, reached from the window procedure through GWLP_USERDATA.
struct HelpWindow {
  HWND frame = nullptr;
  std::array<HWND, kHelpControlCount> controls{};
  std::array<Font, kHelpControlCount> fonts;
  Brush back_brush;
  HCURSOR hand = nullptr;
  std::wstring face;
  int dpi = kDefaultDpi;
  // Set once the window is up; a window torn down half-built must not post a
  // quit message that a later message loop of the program would pick up.
  bool shown = false;

  HWND control(HelpControl id) const { return controls[static_cast<std::size_t>(id)]; }
};

COLORREF ToColorRef(const Colour& colour) {
  switch (colour.source) {
    case ColourSource::kButtonText:
      return GetSysColor(COLOR_BTNTEXT);
    case ColourSource::kWindow:
      return GetSysColor(COLOR_WINDOW);
    case ColourSource::kWindowText:
      return GetSysColor(COLOR_WINDOWTEXT);
    case ColourSource::kFixed:
      break;
  }
  return RGB(colour.rgb.red, colour.rgb.green, colour.rgb.blue);
}

int CALLBACK NoteFaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool FaceIsInstalled(HDC dc, const std::wstring& face) {
  LOGFONTW query{};
  query.lfCharSet = static_cast<BYTE>(kHelpFontCharset);
  face.copy(query.lfFaceName, LF_FACESIZE - 1);
  bool found = false;
  EnumFontFamiliesExW(dc, &query, NoteFaceFound, reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

// Font substitution can answer for a face name with a fixed-width face (Wine
// maps the design's name to one), so the face actually drawn is measured.
bool FaceIsProportional(HDC dc, const std::wstring& face) {
  const LOGFONTW request = HelpFontRequest(DesignOf(HelpControl::kBody).font, face, kDefaultDpi);
  const Font font(CreateFontIndirectW(&request));
  if (!font) return false;
  const ScopedSelectObject selected(dc, font.get());
  SIZE narrow{}, wide{};
  GetTextExtentPoint32W(dc, L"iiiii", 5, &narrow);
  GetTextExtentPoint32W(dc, L"WWWWW", 5, &wide);
  return narrow.cx != wide.cx;
}

std::wstring ChooseFace(HWND window) {
  const ScopedGetDC dc(window);
  return dc.get() ? ChooseHelpFontFace(dc.get()) : Utf8ToWide(kHelpFontFace);
}

// Builds every control's font for the window's DPI, hands it to the control
// and deletes the fonts it replaces.
void ApplyFonts(HelpWindow& help) {
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    const LOGFONTW request = HelpFontRequest(design.font, help.face, help.dpi);
    Font font(CreateFontIndirectW(&request));
    SendMessageW(help.control(design.id), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    // The font the control had until now goes only once it has the new one.
    help.fonts[Index(design.id)] = std::move(font);
  }
}

// The size a label's caption takes in its font, measured the way the label
// itself draws it.
Size MeasureCaption(HDC dc, HFONT font, std::string_view caption) {
  const std::wstring text = Utf8ToWide(caption);
  const ScopedSelectObject selected(dc, font);
  RECT bounds{0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &bounds,
            DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  return {static_cast<int>(bounds.right - bounds.left),
          static_cast<int>(bounds.bottom - bounds.top)};
}

void LayOutControls(HelpWindow& help) {
  CaptionSizes captions{};
  if (const ScopedGetDC dc(help.frame); dc.get()) {
    for (const HelpControlDesign& design : HelpControlDesigns()) {
      if (design.id == HelpControl::kBody) continue;
      captions[Index(design.id)] =
          MeasureCaption(dc.get(), help.fonts[Index(design.id)].get(), design.caption);
    }
  }
  const auto rects = ComputeHelpLayout(captions, help.dpi);
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    const Rect& rect = rects[Index(design.id)];
    MoveWindow(help.control(design.id), rect.left, rect.top, rect.width, rect.height, TRUE);
  }
}

DWORD ControlStyle(const HelpControlDesign& design) {
  if (design.id == HelpControl::kBody) {
    // Read-only, wrapped (no ES_AUTOHSCROLL), vertical scroll bar only.
    return WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
           ES_AUTOVSCROLL;
  }
  DWORD style = WS_CHILD | WS_VISIBLE | SS_NOPREFIX;
  switch (design.align) {
    case TextAlign::kLeft:
      style |= SS_LEFTNOWORDWRAP;
      break;
    case TextAlign::kCenter:
      style |= SS_CENTER;
      break;
    case TextAlign::kRight:
      style |= SS_RIGHT;
      break;
  }
  // Only the address reacts to the mouse; SS_NOTIFY also makes it a hit-test
  // target, so that it can set its own cursor.
  if (design.id == HelpControl::kUrl) style |= SS_NOTIFY;
  return style;
}

bool CreateControls(HelpWindow& help, HINSTANCE instance) {
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    const bool is_body = design.id == HelpControl::kBody;
    const std::wstring text = Utf8ToWide(is_body ? HelpText() : design.caption);
    const std::intptr_t id = kHelpControlIdBase + static_cast<int>(design.id);
    HWND control = CreateWindowExW(is_body ? WS_EX_CLIENTEDGE : 0, is_body ? L"EDIT" : L"STATIC",
                                   text.c_str(), ControlStyle(design), 0, 0, 0, 0, help.frame,
                                   reinterpret_cast<HMENU>(id), instance, nullptr);
    if (!control) return false;
    help.controls[Index(design.id)] = control;
  }
  // The help text opens at its first line, nothing selected.
  HWND body = help.control(HelpControl::kBody);
  SendMessageW(body, EM_SETSEL, 0, 0);
  SendMessageW(body, EM_SCROLLCARET, 0, 0);
  return true;
}

void OpenSiteAddress() {
  // A failure (no program for web addresses) is deliberately not reported.
  (void)OpenBrowser(std::string(kSiteAddress));
}

LRESULT PaintControl(const HelpWindow& help, HDC dc, HWND control) {
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    if (help.control(design.id) != control) continue;
    SetTextColor(dc, ToColorRef(design.text));
    SetBkColor(dc, ToColorRef(design.back));
    HBRUSH brush = design.back.source == ColourSource::kWindow ? GetSysColorBrush(COLOR_WINDOW)
                                                               : help.back_brush.get();
    return reinterpret_cast<LRESULT>(brush);
  }
  return 0;
}

void OnDpiChanged(HelpWindow& help, int dpi, const RECT& suggested) {
  help.dpi = dpi;
  ApplyFonts(help);
  LayOutControls(help);
  SizeFrame(help.frame, HelpClientPixels(dpi), dpi, suggested.left, suggested.top);
}

LRESULT CALLBACK HelpWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* help = reinterpret_cast<HelpWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!help) return DefWindowProcW(window, message, wparam, lparam);

  switch (message) {
    case WM_CTLCOLORSTATIC:  // labels, and the read-only text box
    case WM_CTLCOLOREDIT:
      if (LRESULT brush =
              PaintControl(*help, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam))) {
        return brush;
      }
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wparam) == help->control(HelpControl::kUrl) &&
          LOWORD(lparam) == HTCLIENT && help->hand) {
        SetCursor(help->hand);
        return TRUE;
      }
      break;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lparam) == help->control(HelpControl::kUrl) &&
          HIWORD(wparam) == STN_CLICKED) {
        OpenSiteAddress();
        return 0;
      }
      break;
    case WM_SETFOCUS:
      // Keys scroll the help text whenever the window is active.
      if (help->control(HelpControl::kBody)) SetFocus(help->control(HelpControl::kBody));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(*help, HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DESTROY:
      if (help->shown) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The controls are gone by now, so their fonts can go too.
      for (Font& font : help->fonts) font.reset();
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HCURSOR LoadHandCursor(HINSTANCE instance) {
  if (HCURSOR hand = LoadCursorW(instance, MAKEINTRESOURCEW(IDC_HAND_POINTER))) return hand;
  return LoadCursorW(nullptr, IDC_HAND);
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool ShowFrame(HelpWindow& help, HINSTANCE instance, const std::wstring& class_name) {
  const std::wstring caption = Utf8ToWide(HelpWindowCaption());
  help.frame = CreateWindowExW(0, class_name.c_str(), caption.c_str(), kFrameStyle, CW_USEDEFAULT,
                               CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, &help);
  if (!help.frame) return false;  // no display to show it on
  help.dpi = WindowDpi(help.frame);
  help.face = ChooseFace(help.frame);
  if (!CreateControls(help, instance)) {
    DestroyWindow(help.frame);
    return false;
  }
  ApplyFonts(help);
  LayOutControls(help);
  CentreFrame(help.frame, HelpClientPixels(help.dpi), help.dpi);
  help.shown = true;
  ShowWindow(help.frame, SW_SHOWNORMAL);
  UpdateWindow(help.frame);
  SetFocus(help.control(HelpControl::kBody));
  return true;
}

}  // namespace

std::wstring ChooseHelpFontFace(HDC dc) {
  const std::wstring design = Utf8ToWide(kHelpFontFace);
  const std::array<std::wstring, 6> candidates = {
      design, L"MS PGothic", L"IPAPGothic", L"Meiryo UI", L"Yu Gothic UI", L"Noto Sans CJK JP"};
  for (const std::wstring& face : candidates) {
    if (FaceIsInstalled(dc, face) && FaceIsProportional(dc, face)) return face;
  }
  return design;
}

bool ShowHelpWindow() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  const std::wstring class_name = Utf8ToWide(kHelpWindowClass);
  HelpWindow help;
  help.back_brush.reset(
      CreateSolidBrush(RGB(kHelpBackColour.red, kHelpBackColour.green, kHelpBackColour.blue)));
  help.hand = LoadHandCursor(instance);

  const bool shown =
      RegisterFrameClass(instance, class_name, HelpWindowProc, help.back_brush.get()) &&
      ShowFrame(help, instance, class_name);
  if (shown) RunMessageLoop();

  // The class goes before the brush it paints with.
  UnregisterClassW(class_name.c_str(), instance);
  return shown;
}

}  // namespace pinemail
