// Finds the help window of a running pinemail.exe and checks it from outside:
// caption, frame, controls, fonts and rectangles against the layout, the text
// box's behaviour; or closes it and reports the program's exit status. Also
// answers the open-failure warning box.
//
//   probe_window [--desktop NAME] check   exit 0 when every check passes
//   probe_window [--desktop NAME] close   exit 0 when the program ended with 0
//   probe_window [--desktop NAME] box [TEXT STATUS]   exit 0 when the box
//                                           says the open failed (or TEXT) and,
//                                           after OK, the program ended with 2
//                                           (or STATUS)
// The progress window of a run (its texts printed as "NAME: text"):
//   probe_window [--desktop NAME] progress  the texts, and again once the
//                                           count has moved
//   probe_window [--desktop NAME] stop      clicks Stop; the summary's texts
//   probe_window [--desktop NAME] close-stop   closes the window, says Yes
//                                           to the question; the summary's texts
//   probe_window [--desktop NAME] end       clicks Close; the exit status
//   probe_window nowindow DESKTOP FILE      exit 0 when no pinemail.exe has a
//                                           window there until FILE exists
#include <windows.h>
// windows.h first: this needs its types.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <string_view>

#include "config/product.h"
#include "text/wide_win32.h"
#include "ui/help_layout.h"
#include "ui/help_text.h"
#include "ui/help_window_win32.h"
#include "ui/progress_window.h"
#include "ui/ui.h"

namespace pinemail {
namespace {

constexpr DWORD kFindTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 30000;

class Checker {
 public:
  void Expect(bool ok, const std::string& what) {
    if (!ok) {
      ++failures_;
      std::printf("FAIL: %s\n", what.c_str());
    }
  }
  void ExpectNear(int actual, int expected, const std::string& what) {
    Expect(actual >= expected - 1 && actual <= expected + 1,
           what + ": " + std::to_string(actual) + ", expected " + std::to_string(expected));
  }
  int failures() const { return failures_; }

 private:
  int failures_ = 0;
};

std::wstring WindowText(HWND window) {
  const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(text.size()),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

Rect ClientRectOf(HWND control, HWND parent) {
  RECT bounds{};
  GetWindowRect(control, &bounds);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&bounds), 2);
  return {static_cast<int>(bounds.left), static_cast<int>(bounds.top),
          static_cast<int>(bounds.right - bounds.left),
          static_cast<int>(bounds.bottom - bounds.top)};
}

HWND FindHelpWindow() {
  const std::wstring class_name = Utf8ToWide(kHelpWindowClass);
  const std::wstring caption = Utf8ToWide(HelpWindowCaption());
  for (DWORD waited = 0; waited < kFindTimeoutMs; waited += 100) {
    if (HWND window = FindWindowW(class_name.c_str(), caption.c_str())) {
      if (IsWindowVisible(window)) return window;
    }
    Sleep(100);
  }
  return nullptr;
}

// A control's font as the window builds it. Font handles are private to a
// process, so the probe builds its own from the same request.
class LocalFont {
 public:
  LocalFont(const HelpControlDesign& design, const std::wstring& face, int dpi) {
    const LOGFONTW request = HelpFontRequest(design.font, face, dpi);
    font_ = CreateFontIndirectW(&request);
  }
  ~LocalFont() { DeleteObject(font_); }
  LocalFont(const LocalFont&) = delete;
  LocalFont& operator=(const LocalFont&) = delete;

  // The caption's size, measured as a label draws it.
  Size Measure(std::wstring_view text) const {
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, font_);
    RECT bounds{0, 0, 0, 0};
    DrawTextW(dc, text.data(), static_cast<int>(text.size()), &bounds,
              DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, previous);
    ReleaseDC(nullptr, dc);
    return {static_cast<int>(bounds.right), static_cast<int>(metrics.tmHeight)};
  }

 private:
  HFONT font_ = nullptr;
};

void CheckFrame(Checker& check, HWND frame, int dpi) {
  check.Expect(ClassOf(frame) == Utf8ToWide(kHelpWindowClass), "window class is frmMain");
  const LONG_PTR style = GetWindowLongPtrW(frame, GWL_STYLE);
  check.Expect((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU),
               "frame has a caption and a system menu");
  check.Expect(!(style & WS_THICKFRAME), "frame cannot be resized");
  check.Expect(!(style & WS_MAXIMIZEBOX), "frame cannot be maximised");
  RECT client{};
  GetClientRect(frame, &client);
  std::printf("frame: client %ldx%ld at %d dpi\n", client.right, client.bottom, dpi);
  check.ExpectNear(client.right, HelpClientPixels(dpi).width, "client width");
  check.ExpectNear(client.bottom, HelpClientPixels(dpi).height, "client height");
}

// Reads every control, prints it, and checks it against the layout.
void CheckControls(Checker& check, HWND frame, int dpi) {
  HDC dc = GetDC(nullptr);
  const std::wstring face = ChooseHelpFontFace(dc);
  ReleaseDC(nullptr, dc);
  std::printf("font face: %s\n", WideToUtf8(face).c_str());
  CaptionSizes captions{};
  std::array<HWND, kHelpControlCount> controls{};
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    const std::string name(design.name);
    HWND control = GetDlgItem(frame, kHelpControlIdBase + static_cast<int>(design.id));
    controls[static_cast<std::size_t>(design.id)] = control;
    check.Expect(control != nullptr, name + " exists");
    if (!control) continue;
    const bool is_body = design.id == HelpControl::kBody;
    const std::wstring text = WindowText(control);
    const Rect rect = ClientRectOf(control, frame);
    std::printf("%s: class %s, rect %d,%d %dx%d, text \"%s\"\n", name.c_str(),
                WideToUtf8(ClassOf(control)).c_str(), rect.left, rect.top, rect.width, rect.height,
                WideToUtf8(text.substr(0, is_body ? 12 : text.size())).c_str());
    check.Expect(_wcsicmp(ClassOf(control).c_str(), is_body ? L"Edit" : L"Static") == 0,
                 name + " class");
    check.Expect(text == Utf8ToWide(is_body ? HelpText() : design.caption), name + " text");
    check.Expect(IsWindowVisible(control) != 0, name + " visible");
    if (!is_body) {
      captions[static_cast<std::size_t>(design.id)] = LocalFont(design, face, dpi).Measure(text);
    }
  }

  const auto expected = ComputeHelpLayout(captions, dpi);
  for (const HelpControlDesign& design : HelpControlDesigns()) {
    HWND control = controls[static_cast<std::size_t>(design.id)];
    if (!control) continue;
    const Rect actual = ClientRectOf(control, frame);
    const Rect& want = expected[static_cast<std::size_t>(design.id)];
    const std::string name(design.name);
    check.ExpectNear(actual.left, want.left, name + " left");
    check.ExpectNear(actual.top, want.top, name + " top");
    check.ExpectNear(actual.width, want.width, name + " width");
    check.ExpectNear(actual.height, want.height, name + " height");
    if (design.id != HelpControl::kBody) {
      // A label is as high as its font's line: the design's 13, 15, 21 or 27
      // pixels in the design's face, a little more in some others.
      const int em = FontPixelHeight(design.font, dpi);
      check.Expect(actual.height >= em && actual.height <= em + em / 8 + 1,
                   name + " is one line of its font: " + std::to_string(actual.height));
    }
  }

  // The anchors, straight from the design's twips.
  auto rect_of = [&](HelpControl id) {
    return ClientRectOf(controls[static_cast<std::size_t>(id)], frame);
  };
  if (check.failures() > 0) return;  // a control is missing
  check.ExpectNear(rect_of(HelpControl::kBody).left, TwipsToPixels(120, dpi), "body left");
  check.ExpectNear(rect_of(HelpControl::kBody).right(), TwipsToPixels(8895, dpi), "body right");
  check.ExpectNear(rect_of(HelpControl::kBody).top, TwipsToPixels(720, dpi), "body top");
  check.ExpectNear(rect_of(HelpControl::kBody).bottom(), TwipsToPixels(5055, dpi), "body bottom");
  const Rect title = rect_of(HelpControl::kTitle);
  check.ExpectNear(title.left + title.width / 2, HelpClientPixels(dpi).width / 2, "Label1 centred");
  check.ExpectNear(title.top, TwipsToPixels(240, dpi), "Label1 top");
  check.ExpectNear(rect_of(HelpControl::kSite).right(), TwipsToPixels(8865, dpi), "Label3 right");
  check.ExpectNear(rect_of(HelpControl::kUrl).right(), TwipsToPixels(8865, dpi), "URL right");
  check.ExpectNear(rect_of(HelpControl::kSite).top, TwipsToPixels(5280, dpi), "Label3 top");
  check.ExpectNear(rect_of(HelpControl::kUrl).top, TwipsToPixels(5520, dpi), "URL top");
  check.ExpectNear(rect_of(HelpControl::kExecutable).bottom(), TwipsToPixels(5685, dpi),
                   "Label2 bottom");
  check.ExpectNear(rect_of(HelpControl::kVersion).bottom(), TwipsToPixels(5685, dpi),
                   "Label4 bottom");
  check.ExpectNear(rect_of(HelpControl::kExecutable).left, TwipsToPixels(240, dpi), "Label2 left");
  // The version caption stands at its designed left edge unless the executable
  // name reaches past it; it never overlaps the name.
  const int name_right = rect_of(HelpControl::kExecutable).right();
  check.ExpectNear(rect_of(HelpControl::kVersion).left,
                   std::max(TwipsToPixels(2760, dpi), name_right + TwipsToPixels(60, dpi)),
                   "Label4 left");
  const LONG_PTR url_style =
      GetWindowLongPtrW(controls[static_cast<std::size_t>(HelpControl::kUrl)], GWL_STYLE);
  check.Expect((url_style & SS_NOTIFY) != 0, "URL reacts to clicks");
}

std::wstring ClipboardText() {
  std::wstring text;
  for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); ++attempt) Sleep(50);
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void CheckBody(Checker& check, HWND body) {
  const LONG_PTR style = GetWindowLongPtrW(body, GWL_STYLE);
  check.Expect((style & ES_MULTILINE) != 0, "body is multi-line");
  check.Expect((style & ES_READONLY) != 0, "body is read-only");
  check.Expect((style & WS_VSCROLL) != 0, "body has a vertical scroll bar");
  check.Expect((style & WS_HSCROLL) == 0, "body has no horizontal scroll bar");
  check.Expect((style & ES_AUTOHSCROLL) == 0, "body wraps long lines");

  DWORD start = 1, end = 1;
  SendMessageW(body, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  check.Expect(start == 0 && end == 0, "nothing selected, caret at the start");
  check.Expect(SendMessageW(body, EM_GETFIRSTVISIBLELINE, 0, 0) == 0, "opens at the first line");

  // The scroll bar reaches the closing banner, the text's last address line.
  const std::wstring text = WindowText(body);
  const std::size_t banner = text.rfind(L"URL : ");
  check.Expect(banner != std::wstring::npos, "help text ends with the address banner");
  SendMessageW(body, WM_VSCROLL, SB_BOTTOM, 0);
  const auto first_visible = SendMessageW(body, EM_GETFIRSTVISIBLELINE, 0, 0);
  const auto banner_line = SendMessageW(body, EM_LINEFROMCHAR, banner, 0);
  std::printf("body: %ld lines, at the bottom the first visible is %ld, the banner is on %ld\n",
              static_cast<long>(SendMessageW(body, EM_GETLINECOUNT, 0, 0)),
              static_cast<long>(first_visible), static_cast<long>(banner_line));
  check.Expect(first_visible > 0 && banner_line >= first_visible, "scrolls to the banner");
  SendMessageW(body, WM_VSCROLL, SB_TOP, 0);

  // Typing, deleting, cutting and clearing change nothing.
  for (wchar_t typed : {L'x', L'\r', L'\b', L'\x3042'}) SendMessageW(body, WM_CHAR, typed, 1);
  SendMessageW(body, WM_KEYDOWN, VK_DELETE, 1);
  SendMessageW(body, EM_SETSEL, 0, 10);
  SendMessageW(body, WM_CUT, 0, 0);
  SendMessageW(body, WM_CLEAR, 0, 0);
  SendMessageW(body, WM_CHAR, L'y', 1);
  check.Expect(WindowText(body) == text, "keystrokes leave the help text unchanged");

  // ...but the text can be copied.
  SendMessageW(body, EM_SETSEL, 0, 5);
  SendMessageW(body, WM_COPY, 0, 0);
  check.Expect(ClipboardText() == text.substr(0, 5), "a selection can be copied");
  SendMessageW(body, EM_SETSEL, 0, 0);
}

void ClickOn(HWND control) {
  PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
}

void CheckClicks(Checker& check, HWND frame) {
  // Opening the address is the shell's business; the window just stays.
  ClickOn(GetDlgItem(frame, kHelpControlIdBase + static_cast<int>(HelpControl::kUrl)));
  ClickOn(GetDlgItem(frame, kHelpControlIdBase + static_cast<int>(HelpControl::kSite)));
  DWORD_PTR result = 0;
  // Round trip through the window's queue, so that the clicks were handled.
  check.Expect(SendMessageTimeoutW(frame, WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result) != 0,
               "window still responds after the clicks");
  check.Expect(IsWindowVisible(frame) != 0, "window stays open after the clicks");
}

// Where the driver points with the real mouse to see the pointer's shape
// (cursor handles cannot be compared across processes).
void PrintPointTargets(HWND frame) {
  for (HelpControl id : {HelpControl::kUrl, HelpControl::kSite}) {
    RECT bounds{};
    GetWindowRect(GetDlgItem(frame, kHelpControlIdBase + static_cast<int>(id)), &bounds);
    std::printf("point %s %ld %ld\n", std::string(DesignOf(id).name).c_str(),
                (bounds.left + bounds.right) / 2, (bounds.top + bounds.bottom) / 2);
  }
}

int Check(HWND frame) {
  Checker check;
  HDC dc = GetDC(frame);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(frame, dc);
  check.Expect(WindowText(frame) == Utf8ToWide(HelpWindowCaption()), "caption");
  CheckFrame(check, frame, dpi);
  CheckControls(check, frame, dpi);
  if (HWND body = GetDlgItem(frame, kHelpControlIdBase + static_cast<int>(HelpControl::kBody))) {
    CheckBody(check, body);
  }
  CheckClicks(check, frame);
  PrintPointTargets(frame);
  std::printf("%d failure(s)\n", check.failures());
  return check.failures() == 0 ? 0 : 1;
}

// Posts `message` to the window and waits for its program to end. Returns its
// exit status, or STILL_ACTIVE when it did not end in time.
DWORD PostAndWaitForExit(HWND window, UINT message, WPARAM wparam) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (!process) {
    std::printf("FAIL: cannot open the window's process\n");
    return STILL_ACTIVE;
  }
  PostMessageW(window, message, wparam, 0);
  DWORD status = STILL_ACTIVE;
  if (WaitForSingleObject(process, kExitTimeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process, &status);
  }
  CloseHandle(process);
  std::printf("program exit status: %lu\n", status);
  return status;
}

int Close(HWND frame) { return PostAndWaitForExit(frame, WM_CLOSE, 0) == 0 ? 0 : 1; }

BOOL CALLBACK CollectText(HWND child, LPARAM texts) {
  reinterpret_cast<std::wstring*>(texts)->append(WindowText(child)).append(L"\n");
  return TRUE;
}

// The box titled as the warning: it must say `expected`, and OK must end
// the program with `status`.
int AnswerWarningBox(const std::wstring& expected, int status) {
  HWND box = nullptr;
  for (DWORD waited = 0; !box && waited < kFindTimeoutMs; waited += 100) {
    box = FindWindowW(L"#32770", Utf8ToWide(kWarningTitle).c_str());
    if (!box) Sleep(100);
  }
  if (!box) {
    std::printf("FAIL: no warning box found\n");
    return 1;
  }
  Checker check;
  std::wstring texts;
  EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
  check.Expect(texts.find(expected) != std::wstring::npos,
               "the box says " + WideToUtf8(expected) + ": " + WideToUtf8(texts));
  check.Expect(GetDlgItem(box, IDOK) != nullptr, "the box has an OK button");
  check.Expect(static_cast<int>(PostAndWaitForExit(box, WM_COMMAND, IDOK)) == status,
               "OK ends the program with " + std::to_string(status));
  return check.failures() == 0 ? 0 : 1;
}

HWND FindProgressWindow() {
  const std::wstring class_name = Utf8ToWide(kProgressWindowClass);
  for (DWORD waited = 0; waited < kFindTimeoutMs; waited += 100) {
    HWND window = FindWindowW(class_name.c_str(), nullptr);
    if (window && IsWindowVisible(window)) return window;
    Sleep(100);
  }
  return nullptr;
}

HWND ProgressItem(HWND frame, ProgressControl id) {
  return GetDlgItem(frame, kProgressControlIdBase + static_cast<int>(id));
}

// Prints the texts and the bar, "name: text"; returns the counts line.
std::wstring PrintProgress(HWND frame) {
  constexpr std::pair<ProgressControl, const char*> kTexts[] = {
      {ProgressControl::kList, "list"},   {ProgressControl::kCounts, "counts"},
      {ProgressControl::kTimes, "times"}, {ProgressControl::kWait, "wait"},
      {ProgressControl::kNote, "note"},   {ProgressControl::kStop, "stop"}};
  for (const auto& [id, name] : kTexts) {
    std::printf("%s: %s\n", name, WideToUtf8(WindowText(ProgressItem(frame, id))).c_str());
  }
  HWND bar = ProgressItem(frame, ProgressControl::kBar);
  RECT client{};
  GetClientRect(frame, &client);
  std::printf(
      "bar: %ld/%ld\nclient: %ldx%ld\n", static_cast<long>(SendMessageW(bar, PBM_GETPOS, 0, 0)),
      static_cast<long>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)), client.right, client.bottom);
  return WindowText(ProgressItem(frame, ProgressControl::kCounts));
}

// The texts once the list's total is known, and again once the count has
// moved.
int WatchProgress(HWND frame) {
  HWND counts = ProgressItem(frame, ProgressControl::kCounts);
  std::wstring first;
  for (DWORD waited = 0; waited < kFindTimeoutMs; waited += 100) {
    const std::wstring now = WindowText(counts);
    if (first.empty() && now.find(L'/') != std::wstring::npos) first = PrintProgress(frame);
    if (!first.empty() && now != first) {
      PrintProgress(frame);
      return 0;
    }
    Sleep(100);
  }
  std::printf("FAIL: the count did not move\n");
  return 1;
}

// Closing the window asks first: answers Yes.
bool CloseAndConfirm(HWND frame) {
  PostMessageW(frame, WM_CLOSE, 0, 0);
  HWND box = nullptr;
  for (DWORD waited = 0; !box && waited < kFindTimeoutMs; waited += 100) {
    box = FindWindowW(L"#32770", Utf8ToWide(kToolTitle).c_str());
    if (!box) Sleep(100);
  }
  std::wstring texts;
  if (box) EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&texts));
  std::printf("asked: %s\n", WideToUtf8(texts).c_str());
  return box && SendMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0) == 0;
}

// Clicks Stop, or closes the window, and waits for the summary (its Close
// button).
int StopRun(HWND frame, bool by_closing) {
  if (by_closing && !CloseAndConfirm(frame)) return 1;
  if (!by_closing) SendMessageW(ProgressItem(frame, ProgressControl::kStop), BM_CLICK, 0, 0);
  HWND close = ProgressItem(frame, ProgressControl::kClose);
  for (DWORD waited = 0; !IsWindowVisible(close) && waited < kFindTimeoutMs; waited += 100) {
    Sleep(100);
  }
  PrintProgress(frame);
  return IsWindowVisible(close) ? 0 : 1;
}

// Whether `process` runs pinemail.exe.
bool IsPinemail(DWORD process_id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (!process) return false;
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  const bool named = QueryFullProcessImageNameW(process, 0, path, &size) != 0;
  CloseHandle(process);
  return named && size >= 12 && _wcsicmp(path + size - 12, L"pinemail.exe") == 0;
}

BOOL CALLBACK CountPinemailWindows(HWND window, LPARAM count) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (IsPinemail(process_id)) {
    std::printf("window of pinemail.exe: class %s\n", WideToUtf8(ClassOf(window)).c_str());
    ++*reinterpret_cast<int*>(count);
  }
  return TRUE;
}

// Every window of the desktop `name`, shown or not, until `done` exists.
// The probe does not join the desktop: Wine's desktop would then wait for it
// to leave before the run's end can be seen.
int ExpectNoWindow(const wchar_t* name, const wchar_t* done) {
  HDESK desktop = nullptr;
  for (DWORD waited = 0; !desktop && waited < kFindTimeoutMs; waited += 100) {
    desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    if (!desktop) Sleep(100);
  }
  int found = 0;
  for (DWORD waited = 0; desktop && waited < 10 * kFindTimeoutMs && found == 0; waited += 100) {
    if (GetFileAttributesW(done) != INVALID_FILE_ATTRIBUTES) break;
    EnumDesktopWindows(desktop, CountPinemailWindows, reinterpret_cast<LPARAM>(&found));
    Sleep(100);
  }
  std::printf("pinemail windows: %d\n", found);
  return desktop && found == 0 ? 0 : 1;
}

}  // namespace
}  // namespace pinemail

int wmain(int argc, wchar_t** argv) {
  std::wstring mode;
  std::wstring operand;
  std::wstring done;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--desktop") == 0 && i + 1 < argc) {
      // Joins the desktop the program runs on, before any window call; the
      // desktop appears once the program has started.
      const wchar_t* name = argv[++i];
      HDESK desktop = nullptr;
      for (DWORD waited = 0; !desktop && waited < pinemail::kFindTimeoutMs; waited += 100) {
        desktop = OpenDesktopW(name, 0, FALSE, GENERIC_ALL);
        if (!desktop) Sleep(100);
      }
      if (!desktop || !SetThreadDesktop(desktop)) {
        std::printf("FAIL: cannot join desktop %ls\n", argv[i]);
        return 2;
      }
    } else {
      (mode.empty() ? mode : operand.empty() ? operand : done) = argv[i];
    }
  }
  if (mode == L"box") {
    const std::wstring expected =
        operand.empty() ? pinemail::Utf8ToWide(pinemail::kOpenFailedText) : operand;
    return pinemail::AnswerWarningBox(expected, done.empty() ? 2 : _wtoi(done.c_str()));
  }
  if (mode == L"nowindow") return pinemail::ExpectNoWindow(operand.c_str(), done.c_str());
  if (mode == L"progress" || mode == L"stop" || mode == L"close-stop" || mode == L"end") {
    HWND frame = pinemail::FindProgressWindow();
    if (!frame) {
      std::printf("FAIL: no progress window found\n");
      return 1;
    }
    if (mode == L"progress") return pinemail::WatchProgress(frame);
    if (mode != L"end") return pinemail::StopRun(frame, mode == L"close-stop");
    pinemail::PostAndWaitForExit(pinemail::ProgressItem(frame, pinemail::ProgressControl::kClose),
                                 BM_CLICK, 0);
    return 0;
  }
  HWND frame = pinemail::FindHelpWindow();
  if (!frame) {
    std::printf("FAIL: no help window found\n");
    return 1;
  }
  if (mode == L"check") return pinemail::Check(frame);
  if (mode == L"close") return pinemail::Close(frame);
  std::printf("usage: probe_window [--desktop NAME] check|close|box|progress|stop|end|nowindow\n");
  return 2;
}
