// The Win32 process id.
#include <windows.h>

#include "mail/net/os_support.h"

namespace pinemail {

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace pinemail
