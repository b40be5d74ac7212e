// The few operating-system services the mail transports need beyond
// text/file_io.h: the process id and exclusive file creation.
#pragma once

#include <cstdio>
#include <string>

namespace pinemail {

// The running process's id.
unsigned long CurrentProcessId();

enum class CreateStatus { kCreated, kExists, kFailed };

struct CreatedFile {
  CreateStatus status = CreateStatus::kFailed;
  std::FILE* file = nullptr;  // kCreated: open for binary writing; the caller closes it
  std::string reason;         // kFailed: the system's reason
};

// Creates `path` (UTF-8) only when no file of that name exists yet, and opens
// it for binary writing.
CreatedFile CreateNewFile(const std::string& path);

}  // namespace pinemail
