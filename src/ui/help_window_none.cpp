// Builds without a window toolkit have no help window.
#include "ui/help_window.h"

namespace pinemail {

bool ShowHelpWindow() { return false; }

}  // namespace pinemail
