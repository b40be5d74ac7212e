// The progress window on Win32, made like the help window (per-monitor DPI,
// the same font choice, the fixed back colour) and run on a thread of its
// own.
#include <windows.h>
// windows.h first: these need its types.
#include <commctrl.h>
#include <shellapi.h>

#include <array>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "config/product.h"
#include "text/wide_win32.h"
#include "ui/help_layout.h"
#include "ui/help_window_win32.h"
#include "ui/progress_bar_win32.h"
#include "ui/progress_window.h"
#include "ui/window_support_win32.h"

namespace pinemail {
namespace {

// What the run's thread asks of the window's thread.
constexpr UINT kRefreshMessage = WM_APP + 1;
constexpr UINT kSummaryMessage = WM_APP + 2;  // LPARAM: the ProgressWindowSummary
constexpr UINT kCloseIfHiddenMessage = WM_APP + 3;
constexpr UINT kCloseMessage = WM_APP + 4;

constexpr UINT_PTR kPollTimer = 1;   // redraws, so that count-downs move
constexpr UINT_PTR kShowTimer = 2;   // shows the window if the run has said nothing yet
constexpr UINT_PTR kCloseTimer = 3;  // closes the summary
constexpr UINT kPollEveryMs = 500;
// Long enough for an open failure's warning to come first: a box then takes
// the window's place, without the window flashing up before it.
constexpr UINT kShowAfterMs = 500;

constexpr std::size_t kControlCount = 9;
constexpr std::size_t Index(ProgressControl id) { return static_cast<std::size_t>(id); }

constexpr std::string_view kStoppingText = "中止しています。送信中のメールの結果を待っています…";
constexpr std::string_view kAskToStopText =
    "送信を中止しますか？\r\n送信中のメールが済んだところで止まります。"
    "残りの宛先には、/resume を付けて実行すると送れます。";

// The layout at 96 DPI, in pixels, scaled to the window's DPI where used.
constexpr Size kClient96{480, 212};
// The text's font, and the bolder, larger one of the list's name.
constexpr FontStyle kTextFont{225, false, false};
constexpr FontStyle kNameFont{240, true, false};

enum class Kind { kLabel, kBar, kButton };

struct ControlDesign {
  ProgressControl id;
  Kind kind;
  DWORD style;  // beyond WS_CHILD and the kind's own
  Rect pixels96;
  std::string_view caption;
};

// clang-format off
constexpr std::array<ControlDesign, kControlCount> kDesigns{{
    {ProgressControl::kList, Kind::kLabel, SS_ENDELLIPSIS | WS_VISIBLE, {12, 12, 456, 22}, {}},
    {ProgressControl::kBar, Kind::kBar, WS_VISIBLE, {12, 42, 456, 18}, {}},
    {ProgressControl::kCounts, Kind::kLabel, SS_ENDELLIPSIS | WS_VISIBLE, {12, 70, 456, 18}, {}},
    {ProgressControl::kTimes, Kind::kLabel, SS_ENDELLIPSIS | WS_VISIBLE, {12, 90, 456, 18}, {}},
    // Two lines, for a server's long reply.
    {ProgressControl::kWait, Kind::kLabel, SS_EDITCONTROL | WS_VISIBLE, {12, 110, 456, 36}, {}},
    {ProgressControl::kNote, Kind::kLabel, SS_ENDELLIPSIS | WS_VISIBLE, {12, 148, 456, 18}, {}},
    {ProgressControl::kStop, Kind::kButton, BS_PUSHBUTTON | WS_VISIBLE, {380, 174, 88, 26},
     kStopButtonText},
    {ProgressControl::kOpenLog, Kind::kButton, BS_PUSHBUTTON, {280, 174, 92, 26}, "ログを開く"},
    {ProgressControl::kClose, Kind::kButton, BS_DEFPUSHBUTTON, {380, 174, 88, 26}, "閉じる"},
}};
// clang-format on

int Scale(int pixels96, int dpi) { return MulDiv(pixels96, dpi, kDefaultDpi); }

Size ClientPixels(int dpi) { return {Scale(kClient96.width, dpi), Scale(kClient96.height, dpi)}; }

enum class Phase { kRunning, kStopping, kSummary };

// The window's state, on its thread; reached from the window procedure
// through GWLP_USERDATA.
struct ProgressUi {
  ProgressWindow::Callbacks callbacks;
  std::string list_name;
  HWND frame = nullptr;
  std::array<HWND, kControlCount> controls{};
  std::array<std::wstring, kControlCount> texts;  // as last set, to redraw only changes
  Font text_font;
  Font name_font;
  Brush back_brush;
  std::wstring face;
  int dpi = kDefaultDpi;
  Phase phase = Phase::kRunning;
  bool shown = false;
  bool failed = false;  // a record failed: the error state stays
  BarShown bar;
  std::optional<BarShown> bar_applied;  // what the bar and the taskbar show now
  TaskbarList taskbar;
  UINT taskbar_button_created = 0;
  std::wstring log_path;

  HWND control(ProgressControl id) const { return controls[Index(id)]; }
};

void SetText(ProgressUi& ui, ProgressControl id, std::string_view text) {
  std::wstring wide = Utf8ToWide(text);
  if (wide == ui.texts[Index(id)]) return;
  SetWindowTextW(ui.control(id), wide.c_str());
  ui.texts[Index(id)] = std::move(wide);
}

// Shows ui.bar when it changed, or `again` (a new taskbar button).
void ShowBar(ProgressUi& ui, bool again = false) {
  if (!again && ui.bar_applied == ui.bar) return;
  ui.bar_applied = ui.bar;
  ShowBarState(ui.bar, ui.control(ProgressControl::kBar), ui.taskbar.get(), ui.frame);
}

void ShowFrame(ProgressUi& ui) {
  if (ui.shown) return;
  ui.shown = true;
  KillTimer(ui.frame, kShowTimer);
  ShowWindow(ui.frame, SW_SHOWNORMAL);
  UpdateWindow(ui.frame);
  // The shell may have made the button before the window was shown.
  if (!ui.taskbar) ui.taskbar = OpenTaskbarList();
  ShowBar(ui, true);
}

// Reads the run's view and shows it.
void Poll(ProgressUi& ui) {
  if (ui.phase == Phase::kSummary || !ui.callbacks.view) return;
  const ProgressWindowView view = ui.callbacks.view();
  SetText(ui, ProgressControl::kCounts, view.counts);
  SetText(ui, ProgressControl::kTimes, view.times);
  SetText(ui, ProgressControl::kWait, ui.phase == Phase::kStopping ? kStoppingText : view.wait);
  SetText(ui, ProgressControl::kNote, view.note);
  ui.failed = ui.failed || view.failed;
  ui.bar.done = view.done;
  ui.bar.total = view.total.value_or(0);
  ui.bar.state = ui.failed     ? BarState::kError
                 : view.paused ? BarState::kPaused
                 : !view.total ? BarState::kUnknownTotal
                               : BarState::kNormal;
  ShowBar(ui);
}

void Stop(ProgressUi& ui) {
  if (ui.phase != Phase::kRunning) return;
  ui.phase = Phase::kStopping;
  EnableWindow(ui.control(ProgressControl::kStop), FALSE);
  if (ui.callbacks.stop) ui.callbacks.stop();
  Poll(ui);
}

// Closing the window while the run goes on stops the run, once the person
// has said so.
void OnClose(ProgressUi& ui) {
  if (ui.phase == Phase::kSummary) {
    DestroyWindow(ui.frame);
    return;
  }
  if (ui.phase != Phase::kRunning) return;
  const std::wstring text = Utf8ToWide(kAskToStopText);
  const std::wstring caption = Utf8ToWide(kToolTitle);
  const int answer = MessageBoxW(ui.frame, text.c_str(), caption.c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer != IDYES) return;
  // The run may have ended while the question was open.
  if (ui.phase == Phase::kSummary) {
    DestroyWindow(ui.frame);
  } else {
    Stop(ui);
  }
}

void ShowSummary(ProgressUi& ui, const ProgressWindowSummary& summary) {
  Poll(ui);  // the bar as the run left it
  ui.phase = Phase::kSummary;
  KillTimer(ui.frame, kPollTimer);
  SetText(ui, ProgressControl::kCounts, summary.counts);
  SetText(ui, ProgressControl::kTimes, summary.times);
  SetText(ui, ProgressControl::kWait, summary.reason);
  // A long path keeps its file name in view.
  HWND note = ui.control(ProgressControl::kNote);
  SetWindowLongPtrW(note, GWL_STYLE,
                    (GetWindowLongPtrW(note, GWL_STYLE) & ~SS_ENDELLIPSIS) | SS_PATHELLIPSIS);
  SetText(ui, ProgressControl::kNote, summary.log_line);
  ui.log_path = Utf8ToWide(summary.log_path);
  ui.bar.state = summary.trouble ? BarState::kError : BarState::kDone;
  ShowFrame(ui);
  ShowBar(ui);
  ShowWindow(ui.control(ProgressControl::kStop), SW_HIDE);
  ShowWindow(ui.control(ProgressControl::kOpenLog), SW_SHOW);
  ShowWindow(ui.control(ProgressControl::kClose), SW_SHOW);
  SetFocus(ui.control(ProgressControl::kClose));
  // A person looking elsewhere learns that the run ended.
  FLASHWINFO flash{static_cast<UINT>(sizeof(FLASHWINFO)), ui.frame, FLASHW_TRAY | FLASHW_TIMERNOFG,
                   0, 0};
  FlashWindowEx(&flash);
  SetTimer(ui.frame, kCloseTimer,
           static_cast<UINT>(std::chrono::milliseconds(kSummaryShownFor).count()), nullptr);
}

void OpenLog(const ProgressUi& ui) {
  // A failure (nothing to open .log files with) is not reported: the
  // summary names the file.
  (void)ShellExecuteW(ui.frame, L"open", ui.log_path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ApplyFonts(ProgressUi& ui) {
  const LOGFONTW text = HelpFontRequest(kTextFont, ui.face, ui.dpi);
  const LOGFONTW name = HelpFontRequest(kNameFont, ui.face, ui.dpi);
  Font text_font(CreateFontIndirectW(&text));
  Font name_font(CreateFontIndirectW(&name));
  for (const ControlDesign& design : kDesigns) {
    HFONT font = design.id == ProgressControl::kList ? name_font.get() : text_font.get();
    SendMessageW(ui.control(design.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  // The fonts the controls had until now go only once they have the new ones.
  ui.text_font = std::move(text_font);
  ui.name_font = std::move(name_font);
}

void LayOut(const ProgressUi& ui) {
  for (const ControlDesign& design : kDesigns) {
    const Rect& r = design.pixels96;
    MoveWindow(ui.control(design.id), Scale(r.left, ui.dpi), Scale(r.top, ui.dpi),
               Scale(r.width, ui.dpi), Scale(r.height, ui.dpi), TRUE);
  }
}

HWND CreateControl(const ProgressUi& ui, const ControlDesign& design, HINSTANCE instance) {
  std::wstring text = Utf8ToWide(design.caption);
  if (design.id == ProgressControl::kList) text = Utf8ToWide("リスト: " + ui.list_name);
  const wchar_t* window_class = L"STATIC";
  DWORD style = WS_CHILD | design.style;
  switch (design.kind) {
    case Kind::kLabel:
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case Kind::kBar:
      window_class = PROGRESS_CLASSW;
      style |= PBS_SMOOTH;
      break;
    case Kind::kButton:
      window_class = L"BUTTON";
      style |= WS_TABSTOP;
      break;
  }
  const auto id = static_cast<std::intptr_t>(kProgressControlIdBase + static_cast<int>(design.id));
  return CreateWindowExW(0, window_class, text.c_str(), style, 0, 0, 0, 0, ui.frame,
                         reinterpret_cast<HMENU>(id), instance, nullptr);
}

bool CreateControls(ProgressUi& ui, HINSTANCE instance) {
  for (const ControlDesign& design : kDesigns) {
    HWND control = CreateControl(ui, design, instance);
    if (!control) return false;
    ui.controls[Index(design.id)] = control;
  }
  return true;
}

void OnDpiChanged(ProgressUi& ui, int dpi, const RECT& suggested) {
  ui.dpi = dpi;
  ApplyFonts(ui);
  LayOut(ui);
  SizeFrame(ui.frame, ClientPixels(dpi), dpi, suggested.left, suggested.top);
}

void OnCommand(ProgressUi& ui, int id) {
  switch (static_cast<ProgressControl>(id - kProgressControlIdBase)) {
    case ProgressControl::kStop:
      Stop(ui);
      break;
    case ProgressControl::kOpenLog:
      OpenLog(ui);
      break;
    case ProgressControl::kClose:
      OnClose(ui);
      break;
    default:
      if (id == IDCANCEL) OnClose(ui);  // Esc
      break;
  }
}

LRESULT OnTimer(ProgressUi& ui, UINT_PTR timer) {
  if (timer == kPollTimer) Poll(ui);
  if (timer == kShowTimer) ShowFrame(ui);
  if (timer == kCloseTimer) DestroyWindow(ui.frame);
  return 0;
}

// The labels and buttons drawn in the system's text colour on the window's
// fixed back colour.
LRESULT PaintControl(const ProgressUi& ui, HDC dc) {
  SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  SetBkColor(dc, RGB(kHelpBackColour.red, kHelpBackColour.green, kHelpBackColour.blue));
  return reinterpret_cast<LRESULT>(ui.back_brush.get());
}

// The window's state: set from the creation parameters at WM_NCCREATE, null
// before that and after WM_NCDESTROY.
ProgressUi* UiOf(HWND window, UINT message, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<ProgressUi*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  ProgressUi* ui = UiOf(window, message, lparam);
  if (!ui) return DefWindowProcW(window, message, wparam, lparam);
  if (message == ui->taskbar_button_created && message != 0) {
    ui->taskbar = OpenTaskbarList();
    ShowBar(*ui, true);
    return 0;
  }
  switch (message) {
    case kRefreshMessage:
      Poll(*ui);
      if (ui->phase != Phase::kSummary) ShowFrame(*ui);
      return 0;
    case kSummaryMessage:
      ShowSummary(*ui, *reinterpret_cast<const ProgressWindowSummary*>(lparam));
      return 0;
    case kCloseIfHiddenMessage:
      if (ui->shown) return FALSE;
      DestroyWindow(window);
      return TRUE;
    case kCloseMessage:
      DestroyWindow(window);
      return 0;
    case WM_TIMER:
      return OnTimer(*ui, wparam);
    case WM_COMMAND:
      OnCommand(*ui, LOWORD(wparam));
      return 0;
    case WM_CLOSE:
      OnClose(*ui);
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return PaintControl(*ui, reinterpret_cast<HDC>(wparam));
    case WM_DPICHANGED:
      OnDpiChanged(*ui, HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// The frame and its controls, laid out for the DPI of the monitor it opens
// on and centred there, still hidden.
bool CreateFrame(ProgressUi& ui, HINSTANCE instance, const std::wstring& class_name) {
  const std::wstring caption = Utf8ToWide(ui.list_name + " - " + std::string(kToolTitle));
  ui.frame = CreateWindowExW(0, class_name.c_str(), caption.c_str(), kFrameStyle, CW_USEDEFAULT,
                             CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, &ui);
  if (!ui.frame) return false;  // no display to show it on
  ui.dpi = WindowDpi(ui.frame);
  if (const ScopedGetDC dc(ui.frame); dc.get()) ui.face = ChooseHelpFontFace(dc.get());
  if (!CreateControls(ui, instance)) {
    DestroyWindow(ui.frame);
    return false;
  }
  ApplyFonts(ui);
  LayOut(ui);
  CentreFrame(ui.frame, ClientPixels(ui.dpi), ui.dpi);
  Poll(ui);
  SetTimer(ui.frame, kPollTimer, kPollEveryMs, nullptr);
  SetTimer(ui.frame, kShowTimer, kShowAfterMs, nullptr);
  return true;
}

void RunMessageLoop(HWND frame) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab moves between the buttons, Esc closes.
    if (IsWindow(frame) && IsDialogMessageW(frame, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

class Win32ProgressWindow final : public ProgressWindow {
 public:
  ~Win32ProgressWindow() override {
    if (!thread_.joinable()) return;
    PostMessageW(frame_, kCloseMessage, 0, 0);
    thread_.join();
  }

  // Starts the window's thread and waits until the window is made, or
  // could not be; false then.
  bool Start(const std::string& list_name, Callbacks callbacks) {
    std::promise<HWND> made;
    std::future<HWND> frame = made.get_future();
    thread_ = std::thread(RunWindow, list_name, std::move(callbacks), std::move(made));
    frame_ = frame.get();
    if (frame_) return true;
    thread_.join();
    return false;
  }

  void Refresh() override { PostMessageW(frame_, kRefreshMessage, 0, 0); }

  bool CloseIfHidden() override {
    if (!thread_.joinable()) return true;
    if (SendMessageW(frame_, kCloseIfHiddenMessage, 0, 0) == FALSE) return false;
    thread_.join();
    return true;
  }

  void ShowSummaryUntilClosed(const ProgressWindowSummary& summary) override {
    if (!thread_.joinable()) return;
    // Sent, not posted: the window copies the summary before this goes on.
    SendMessageW(frame_, kSummaryMessage, 0, reinterpret_cast<LPARAM>(&summary));
    thread_.join();
  }

 private:
  static void RunWindow(std::string list_name, Callbacks callbacks, std::promise<HWND> made) {
    // The shell's handlers of the log and the taskbar are COM objects.
    const ScopedCom com;
    INITCOMMONCONTROLSEX controls{static_cast<DWORD>(sizeof(INITCOMMONCONTROLSEX)),
                                  ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const std::wstring class_name = Utf8ToWide(kProgressWindowClass);
    ProgressUi ui;
    ui.callbacks = std::move(callbacks);
    ui.list_name = std::move(list_name);
    ui.back_brush.reset(
        CreateSolidBrush(RGB(kHelpBackColour.red, kHelpBackColour.green, kHelpBackColour.blue)));
    ui.taskbar_button_created = RegisterWindowMessageW(L"TaskbarButtonCreated");
    const bool made_frame =
        RegisterFrameClass(instance, class_name, ProgressWindowProc, ui.back_brush.get()) &&
        CreateFrame(ui, instance, class_name);
    made.set_value(made_frame ? ui.frame : nullptr);
    if (made_frame) RunMessageLoop(ui.frame);
    // The taskbar object goes while COM is still there, the class before its brush.
    ui.taskbar.reset();
    UnregisterClassW(class_name.c_str(), instance);
  }

  std::thread thread_;
  HWND frame_ = nullptr;  // set once by Start
};

}  // namespace

std::unique_ptr<ProgressWindow> ProgressWindow::Open(const std::string& list_name,
                                                     Callbacks callbacks) {
  if (!DesktopIsVisible()) return nullptr;
  auto window = std::make_unique<Win32ProgressWindow>();
  if (!window->Start(list_name, std::move(callbacks))) return nullptr;
  return window;
}

}  // namespace pinemail
