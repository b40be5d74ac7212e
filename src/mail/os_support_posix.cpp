// The POSIX process id.
#include <unistd.h>

#include "mail/os_support.h"

namespace pinemail {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace pinemail
