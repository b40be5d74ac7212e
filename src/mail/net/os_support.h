// The operating-system services the mail transports need beyond
// text/file_io.h: the process id.
#pragma once

namespace pinemail {

// The running process's id.
unsigned long CurrentProcessId();

}  // namespace pinemail
