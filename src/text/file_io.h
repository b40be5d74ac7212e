// Opening, creating and renaming files by UTF-8 path on every platform, with
// the system's reason on failure, and the directory-entry checks start-up
// needs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace pinemail {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// An open file, closed when it goes. A file that was written to is closed
// with CloseFile, which tells whether the last bytes reached the disk.
using File = std::unique_ptr<std::FILE, FileCloser>;

// Closes `file`; false when the close failed (a full disk shows here).
bool CloseFile(File file);

// A file that could not be opened, and the system's reason.
struct OpenFailure {
  std::string path;
  std::string reason;
};

// Opens `path` (UTF-8) with a C stdio mode ("rb", "ab", "wb"). On failure
// returns null and stores the system's reason in `reason` (may be null).
File OpenFile(const std::string& path, const char* mode, std::string* reason);

// Opens `path` (UTF-8) for reading when it is a regular file of at most
// `max_size` bytes; null for anything else: missing, a folder, a device,
// a FIFO (never waited on), a larger file.
File OpenRegularFile(const std::string& path, std::uint64_t max_size);

// Opens `path` for appending (created when missing) as its one writer: until
// the file is closed, the same call for the same file from any process fails
// with `*in_use` set (POSIX: an exclusive flock; Windows: no write sharing).
// Other failures leave `*in_use` false and store the system's reason.
File OpenSoleWriter(const std::string& path, std::string* reason, bool* in_use);

// The reason OpenRegularSoleWriter gives for what is not a regular file.
inline constexpr std::string_view kNotRegularFileReason = "通常のファイルではありません";

// Opens `path` for reading and appending (created when missing) as its one
// writer, as OpenSoleWriter does, when it is a regular file. Anything else
// (a folder, a FIFO, a device, a link to one) is refused without being
// waited on, with kNotRegularFileReason or the system's reason.
File OpenRegularSoleWriter(const std::string& path, std::string* reason, bool* in_use);

// Appends `bytes` to `file` (opened by OpenSoleWriter or OpenRegularSoleWriter) whole or not at
// all: when the system takes only part of them (a full disk), the file is cut back to its size
// before the call. Writes past stdio's buffer, so the stream must not be written otherwise. False
// with the system's reason.
bool AppendWhole(std::FILE* file, std::string_view bytes, std::string* reason);

enum class CreateStatus { kCreated, kExists, kFailed };

struct CreatedFile {
  CreateStatus status = CreateStatus::kFailed;
  File file;           // kCreated: open for binary writing
  std::string reason;  // kFailed: the system's reason
};

// Who may read a file that CreateNewFile makes.
enum class FileAccess {
  kLikeModel,  // POSIX: the model's permissions, or what a new file gets
  kOwnerOnly,  // POSIX: the same, less every permission of group and others
};

// Creates `path` (UTF-8) only when no file of that name exists yet, and opens
// it for binary writing. On POSIX, when `model` names an existing file, the
// new file has the model's owner and permissions (narrowed as `access` says)
// before a byte is written (a copy of a file that holds a password is never
// readable by others, not even for a moment); otherwise it gets what a new
// file gets, narrowed likewise. Windows: what a new file gets.
CreatedFile CreateNewFile(const std::string& path, const std::string& model = {},
                          FileAccess access = FileAccess::kLikeModel);

// POSIX: true when `path` names a file that its group or others may read.
// Windows, or a file that cannot be examined: false.
bool ReadableByOthers(const std::string& path);

// Renames `from` to `to`, replacing `to` if it exists.
bool RenameFile(const std::string& from, const std::string& to, std::string* reason);

enum class RenameStatus { kRenamed, kExists, kFailed };

// Renames `from` to `to` only when nothing of the name `to` exists: an
// existing file is never replaced, even by a race with another process.
// kFailed comes with the system's reason.
RenameStatus RenameWithoutReplacing(const std::string& from, const std::string& to,
                                    std::string* reason);

// Who may use a folder that MakeFolders creates.
enum class FolderAccess {
  kDefault,    // what a new folder gets (POSIX: 0777 less the umask)
  kOwnerOnly,  // POSIX: mode 0700; Windows: what a new folder gets
};

// Creates a folder and its missing parents; true when it exists afterwards.
// Folders that exist already are left as they are.
bool MakeFolders(const std::string& path, std::string* reason,
                 FolderAccess access = FolderAccess::kDefault);

// True when `path` names an existing folder.
bool IsFolder(const std::string& path);

// The C library's text for an errno value, in UTF-8.
std::string ErrnoText(int error);

// The standard library's path for a UTF-8 path, and back.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

}  // namespace pinemail
