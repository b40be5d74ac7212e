// The POSIX process id.
#include <unistd.h>

#include "mail/net/os_support.h"

namespace pinemail {

unsigned long CurrentProcessId() { return static_cast<unsigned long>(getpid()); }

}  // namespace pinemail
