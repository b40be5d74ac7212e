// The settings file holds a password: its rewritten copy must have the
// file's owner and permissions from the first byte written into it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "config/ini_file.h"
#include "test_support.h"

namespace pinemail {
namespace {

// The descriptor the copy is expected on, and what it was when a write to it
// crossed the file size limit (the signal comes inside that first write).
int watched_fd = -1;
struct stat at_first_write {};
volatile sig_atomic_t seen = 0;

extern "C" void RecordTheCopy(int) { seen = fstat(watched_fd, &at_first_write) == 0 ? 1 : 0; }

// The descriptor the next open() returns.
int LowestFreeDescriptor() {
  const int fd = dup(0);
  close(fd);
  return fd;
}

// Runs `write` with every file limited to 0 bytes: its first write fails and
// raises SIGXFSZ, whose handler looks at the copy.
bool WriteWithFirstByteWatched(IniFileProfile& profile) {
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  struct sigaction watch {};
  struct sigaction old_action {};
  watch.sa_handler = RecordTheCopy;
  sigemptyset(&watch.sa_mask);
  sigaction(SIGXFSZ, &watch, &old_action);
  rlimit none = old_limit;
  none.rlim_cur = 0;
  setrlimit(RLIMIT_FSIZE, &none);
  // Reading the old file opens and closes it first, so the copy gets the
  // same descriptor.
  watched_fd = LowestFreeDescriptor();
  const bool written = profile.Write("Config", "User Name", "taro");
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
  return written;
}

TEST(IniFilePosixTest, TheCopyHasTheOwnerAndModeBeforeItsFirstByte) {
  testing::ScratchFolder dir;
  const std::string path = dir / "pinemail.ini";
  testing::WriteBytes(path, "[Config]\r\nPassword=secret\r\n");
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  // Only root can give a file away; another user's file then keeps its owner.
  const bool as_root = geteuid() == 0;
  const uid_t owner = as_root ? 65534 : geteuid();
  const gid_t group = as_root ? 65534 : getegid();
  if (as_root) {
    ASSERT_EQ(chown(path.c_str(), owner, group), 0);
  }
  const mode_t old_umask = umask(022);
  IniFileProfile profile(path);

  EXPECT_FALSE(WriteWithFirstByteWatched(profile));
  ASSERT_EQ(seen, 1);
  EXPECT_TRUE(S_ISREG(at_first_write.st_mode));
  EXPECT_EQ(at_first_write.st_mode & 0777, 0600u);
  EXPECT_EQ(at_first_write.st_uid, owner);
  EXPECT_EQ(at_first_write.st_gid, group);
  EXPECT_EQ(testing::ReadBytes(path), "[Config]\r\nPassword=secret\r\n");
  umask(old_umask);
}

}  // namespace
}  // namespace pinemail
