// The help window: the tool's title, the help text, the executable's name and
// version, the publisher's site title and address.
#pragma once

namespace pinemail {

// Shows the help window and returns when the user closes it. Returns false at
// once, without showing anything, when no window can be shown here (no
// display, or a build without a window toolkit).
bool ShowHelpWindow();

}  // namespace pinemail
