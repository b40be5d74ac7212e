// Opening files by UTF-8 path on every platform, with the system's reason on
// failure, and the directory-entry checks start-up needs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace pinemail {

// Opens `path` (UTF-8) with a C stdio mode ("rb", "ab", "wb"). On failure
// returns nullptr and stores the system's reason in `reason` (may be null).
std::FILE* OpenFile(const std::string& path, const char* mode, std::string* reason);

// Opens `path` (UTF-8) for reading when it is a regular file of at most
// `max_size` bytes; nullptr for anything else: missing, a folder, a device,
// a FIFO (never waited on), a larger file.
std::FILE* OpenRegularFile(const std::string& path, std::uint64_t max_size);

// Renames `from` to `to`, replacing `to` if it exists.
bool RenameFile(const std::string& from, const std::string& to, std::string* reason);

// Creates a folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& path, std::string* reason);

// True when `path` names an existing folder.
bool IsFolder(const std::string& path);

}  // namespace pinemail
