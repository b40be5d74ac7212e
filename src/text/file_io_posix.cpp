// Files by UTF-8 path on POSIX, where paths are bytes and UTF-8 is taken
// as it is.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "text/codepage.h"
#include "text/file_io.h"

namespace pinemail {

namespace {

// The system's reason for `error`, in UTF-8 (strerror speaks the locale's
// character set).
void StoreReason(int error, std::string* reason) {
  if (reason != nullptr) *reason = ErrnoText(error);
}

// Gives a second name to `from` and drops the first: link() never replaces.
int LinkThenUnlink(const char* from, const char* to) {
  if (link(from, to) != 0) return -1;
  unlink(from);
  return 0;
}

// Linux renames without replacing in one step; where the file system does not
// support that, or elsewhere, a second link does the same.
#if defined(__linux__)
int RenameNoReplace(const char* from, const char* to) {
  if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  return LinkThenUnlink(from, to);
}
#else
int RenameNoReplace(const char* from, const char* to) { return LinkThenUnlink(from, to); }
#endif

// Gives the new file `fd` the owner and permissions of `model`. The owner
// may not be ours to give (only root can); the group may still be.
void TakeOwnerAndMode(int fd, const struct stat& model, mode_t mode) {
  if (fchown(fd, model.st_uid, model.st_gid) != 0 && fchown(fd, -1, model.st_gid) != 0) {
    // The new file keeps the running user as its owner, as any new file would.
  }
  if (fchmod(fd, mode) != 0) {
    // open() already gave it these permissions or fewer (the umask).
  }
}

// Takes the exclusive lock on `fd`; false, with `*in_use` set, when another
// holder has it. Only a lock held elsewhere stops the caller; a file system
// that keeps no locks (some network and FUSE mounts) is written unlocked
// rather than not at all.
bool LockAlone(int fd, std::string* reason, bool* in_use) {
  int status = 0;
  while ((status = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (status != 0 && errno == EWOULDBLOCK) {
    StoreReason(errno, reason);
    *in_use = true;
    return false;
  }
  return true;
}

}  // namespace

std::string ErrnoText(int error) { return DecodeSystemText(std::strerror(error)); }

File OpenFile(const std::string& path, const char* mode, std::string* reason) {
  // "e": close on exec, so that the programs a transport runs inherit
  // neither the list nor the log.
  std::string mode_e(mode);
  mode_e += 'e';
  File file(std::fopen(path.c_str(), mode_e.c_str()));
  if (!file) {
    StoreReason(errno, reason);
    return nullptr;
  }
  // fopen opens a folder for reading without complaint; reading it then
  // fails, so refuse it here with the reason the system gives for writing.
  struct stat status {};
  if (fstat(fileno(file.get()), &status) == 0 && S_ISDIR(status.st_mode)) {
    StoreReason(EISDIR, reason);
    return nullptr;
  }
  return file;
}

File OpenRegularFile(const std::string& path, std::uint64_t max_size) {
  // Without O_NONBLOCK, opening a FIFO waits until something opens it for
  // writing; the type is then checked on what was opened, so that nothing
  // can change between the check and the read.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uint64_t>(status.st_size) > max_size) {
    close(fd);
    return nullptr;
  }
  File file(fdopen(fd, "rb"));
  if (!file) close(fd);
  return file;
}

File OpenSoleWriter(const std::string& path, std::string* reason, bool* in_use) {
  *in_use = false;
  File file = OpenFile(path, "ab", reason);
  if (!file) return nullptr;
  if (!LockAlone(fileno(file.get()), reason, in_use)) return nullptr;
  return file;
}

File OpenRegularSoleWriter(const std::string& path, std::string* reason, bool* in_use) {
  *in_use = false;
  // What is there already is looked at before it is opened, so that no
  // device is ever opened; the check on what was opened closes the race.
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    if (reason != nullptr) *reason = std::string(kNotRegularFileReason);
    return nullptr;
  }
  const int fd =
      open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    StoreReason(errno, reason);
    return nullptr;
  }
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    if (reason != nullptr) *reason = std::string(kNotRegularFileReason);
    return nullptr;
  }
  File file(fdopen(fd, "a+b"));
  if (!file) {
    StoreReason(errno, reason);
    close(fd);
    return nullptr;
  }
  if (!LockAlone(fd, reason, in_use)) return nullptr;
  return file;
}

bool AppendWhole(std::FILE* file, std::string_view bytes, std::string* reason) {
  const int fd = fileno(file);
  struct stat before {};
  if (fstat(fd, &before) != 0) {
    StoreReason(errno, reason);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int error = n < 0 ? errno : EIO;
    if (done > 0 && S_ISREG(before.st_mode) && ftruncate(fd, before.st_size) != 0) {
      // Nothing more can be done; the reason below is the write's.
    }
    StoreReason(error, reason);
    return false;
  }
  return true;
}

CreatedFile CreateNewFile(const std::string& path, const std::string& model, FileAccess access) {
  CreatedFile result;
  struct stat like {};
  const bool has_model = !model.empty() && stat(model.c_str(), &like) == 0;
  mode_t mode = has_model ? (like.st_mode & 0777) : 0666;
  if (access == FileAccess::kOwnerOnly) mode &= 0700;
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    result.status = errno == EEXIST ? CreateStatus::kExists : CreateStatus::kFailed;
    StoreReason(errno, &result.reason);
    return result;
  }
  if (has_model) TakeOwnerAndMode(fd, like, mode);
  result.file.reset(fdopen(fd, "wb"));
  if (!result.file) {
    StoreReason(errno, &result.reason);
    close(fd);
    unlink(path.c_str());
    return result;
  }
  result.status = CreateStatus::kCreated;
  return result;
}

bool RenameFile(const std::string& from, const std::string& to, std::string* reason) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  StoreReason(errno, reason);
  return false;
}

RenameStatus RenameWithoutReplacing(const std::string& from, const std::string& to,
                                    std::string* reason) {
  if (RenameNoReplace(from.c_str(), to.c_str()) == 0) return RenameStatus::kRenamed;
  if (errno == EEXIST) return RenameStatus::kExists;
  StoreReason(errno, reason);
  return RenameStatus::kFailed;
}

bool MakeFolders(const std::string& path, std::string* reason, FolderAccess access) {
  const mode_t mode = access == FolderAccess::kOwnerOnly ? 0700 : 0777;
  if (path.empty()) {
    StoreReason(ENOENT, reason);
    return false;
  }
  // Create each missing folder from the top down; one that exists is fine.
  for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (!IsFolder(prefix) && mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) {
      StoreReason(errno, reason);
      return false;
    }
    if (end == std::string::npos) break;
  }
  if (IsFolder(path)) return true;
  StoreReason(ENOTDIR, reason);
  return false;
}

bool IsFolder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ReadableByOthers(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace pinemail
