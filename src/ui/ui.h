// What the program shows a person: the open-failure warning and the help.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/file_io.h"

namespace pinemail {

inline constexpr std::string_view kOpenFailedText = "指定ファイルのオープンに失敗しました。";
inline constexpr std::string_view kWarningTitle = "pinemail";

// The warning when the list or the log cannot be opened: a message box on
// Windows; on POSIX a line on standard error with the text, then each path
// and the system's reason.
void ShowOpenFailure(const std::vector<OpenFailure>& failures);

// Shows the help: the help window where the platform has one (and a display),
// else the help text on standard output. Returns when the window is closed.
void ShowHelp();

}  // namespace pinemail
