// The help window's font choice on Windows, shared with the test program that
// examines the window from another process (fonts cannot cross processes).
#pragma once

#include <windows.h>

#include <string>

#include "ui/help_layout.h"

namespace pinemail {

// The design's face where it is installed and proportional, else another
// proportional Japanese face; the design's name when none is found (the
// font mapper then has the last word).
std::wstring ChooseHelpFontFace(HDC dc);

// The font request for one control: `font`'s em height at `dpi`, weight and
// underline, the Shift-JIS character set and `face`.
LOGFONTW HelpFontRequest(const FontStyle& font, const std::wstring& face, int dpi);

}  // namespace pinemail
