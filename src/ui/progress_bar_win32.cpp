// The bar and the taskbar button of the progress window on Win32: the bar's
// states (PBM_SETSTATE) and, where the bar is drawn without visual styles,
// the same colours; the taskbar's flags through ITaskbarList3.
#include "ui/progress_bar_win32.h"

#include <windows.h>
// windows.h first: this needs its types.
#include <commctrl.h>

namespace pinemail {
namespace {

// The bar's colours of an error and a pause where it has no visual styles.
constexpr COLORREF kErrorColour = RGB(204, 0, 0);
constexpr COLORREF kPausedColour = RGB(218, 165, 32);

TBPFLAG TaskbarFlag(BarState state) {
  switch (state) {
    case BarState::kNormal:
      break;
    case BarState::kPaused:
      return TBPF_PAUSED;
    case BarState::kError:
      return TBPF_ERROR;
    case BarState::kUnknownTotal:
      return TBPF_INDETERMINATE;
    case BarState::kDone:
      // Nothing once a run ended well.
      return TBPF_NOPROGRESS;
  }
  return TBPF_NORMAL;
}

}  // namespace

TaskbarList OpenTaskbarList() {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list)))) {
    return nullptr;
  }
  TaskbarList owned(list);
  if (FAILED(owned->HrInit())) return nullptr;
  return owned;
}

void ShowBarState(const BarShown& shown, HWND bar, ITaskbarList3* taskbar, HWND frame) {
  const ULONGLONG total = shown.total > 0 ? shown.total : 1;
  SendMessageW(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(total));
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(shown.done), 0);
  const bool error = shown.state == BarState::kError;
  const bool paused = shown.state == BarState::kPaused;
  SendMessageW(bar, PBM_SETSTATE, error ? PBST_ERROR : paused ? PBST_PAUSED : PBST_NORMAL, 0);
  // The same colours where the bar is drawn without visual styles, which
  // know no states.
  SendMessageW(bar, PBM_SETBARCOLOR, 0,
               static_cast<LPARAM>(error    ? kErrorColour
                                   : paused ? kPausedColour
                                            : CLR_DEFAULT));
  if (!taskbar) return;
  const TBPFLAG flag = TaskbarFlag(shown.state);
  if (flag != TBPF_INDETERMINATE && flag != TBPF_NOPROGRESS) {
    taskbar->SetProgressValue(frame, shown.done, total);
  }
  taskbar->SetProgressState(frame, flag);
}

}  // namespace pinemail
