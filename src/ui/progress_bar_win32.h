// The progress window's bar and the taskbar button, which show one state: the
// records done of the total, and whether the run goes on, waits, has a failed
// record or has ended.
#pragma once

#include <windows.h>
// windows.h first: this needs its types.
#include <shobjidl.h>

#include <cstddef>

#include "text/scoped_win32.h"

namespace pinemail {

enum class BarState { kNormal, kPaused, kError, kUnknownTotal, kDone };

struct BarShown {
  std::size_t done = 0;
  std::size_t total = 0;
  BarState state = BarState::kNormal;
  friend bool operator==(const BarShown&, const BarShown&) = default;
};

using TaskbarList = ComObject<ITaskbarList3>;

// The taskbar's progress, where the shell offers it (null otherwise). COM
// must be open on the calling thread.
TaskbarList OpenTaskbarList();

// Shows `shown` on the progress bar control `bar` and, when there is one, on
// `frame`'s taskbar button.
void ShowBarState(const BarShown& shown, HWND bar, ITaskbarList3* taskbar, HWND frame);

}  // namespace pinemail
