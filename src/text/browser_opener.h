// Opens a web address in the user's browser (browser_opener_<platform>.cpp):
// the help window's address link and /signin's sign-in page.
#pragma once

#include <string>

namespace pinemail {

// Hands `url` to the program the system opens web addresses with: xdg-open
// (a child with a deadline, left to run on when it keeps the browser in the
// foreground), or the shell's "open" (ShellExecuteW with the desktop window
// as the parent). False when that could not be started or said it failed.
bool OpenBrowser(const std::string& url);

}  // namespace pinemail
