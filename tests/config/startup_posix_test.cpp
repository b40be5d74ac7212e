// The POSIX existence test, start-up input and template paths on the real
// file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "config/startup.h"
#include "test_support.h"

namespace pinemail {
namespace {

using testing::ScratchFolder;
using testing::WriteBytes;

TEST(PosixFileSystemTest, OnlyRegularFilesPassAfterFollowingLinks) {
  ScratchFolder dir;
  const FileSystemView& fs = NativeFileSystem();
  WriteBytes(dir / "list.txt", "x");
  ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir / "list.txt").c_str(), (dir / "link.txt").c_str()), 0);
  ASSERT_EQ(symlink((dir / "gone.txt").c_str(), (dir / "dangling.txt").c_str()), 0);
  ASSERT_EQ(symlink((dir / "folder").c_str(), (dir / "folder-link").c_str()), 0);

  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "list.txt"));
  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "link.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "folder"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "folder-link"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "dangling.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "missing.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "list.txt/below"));
  EXPECT_FALSE(fs.IsOrdinaryFile(""));
  // No wildcard matching: the pattern is just a name that does not exist.
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "*.txt"));
}

TEST(PosixStartInputTest, JoinsArgumentsAndFindsTheExecutableFolder) {
  char program[] = "pinemail";
  char first[] = "my list.txt";
  char second[] = "/h";
  char* argv[] = {program, first, second, nullptr};
  StartInput input = NativeStartInput(3, argv);
  EXPECT_EQ(input.command_text, "my list.txt /h");
  EXPECT_EQ(input.upper_text, "MY LIST.TXT /H");
  EXPECT_TRUE(input.posix_help_words);

  ASSERT_FALSE(input.app_folder.empty());
  EXPECT_EQ(input.app_folder.front(), '/');
  EXPECT_EQ(input.app_folder.back(), '/');
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  std::string exe_path(exe);
  EXPECT_EQ(exe_path.substr(0, exe_path.rfind('/') + 1), input.app_folder);

  char* none[] = {program, nullptr};
  EXPECT_EQ(NativeStartInput(1, none).command_text, "");

  // A name in CP932 bytes reaches the file system as it is; only the option
  // test sees it decoded.
  char cp932[] = "\x94\x4E\x89\xEA.txt";
  char* japanese[] = {program, cp932, second, nullptr};
  input = NativeStartInput(3, japanese);
  EXPECT_EQ(input.command_text, "\x94\x4E\x89\xEA.txt /h");
  EXPECT_EQ(input.upper_text, "年賀.TXT /H");
}

TEST(PosixStartInputTest, TheHomeOptionOrVariableReplacesTheProgramFolder) {
  char program[] = "pinemail";
  char option[] = "--home";
  char folder[] = "/home/u/my mail";  // one argument, blanks and all
  char joined[] = "--home=/srv/mail";
  char list[] = "list.txt";
  char* separate[] = {program, option, folder, list, nullptr};
  StartInput input = NativeStartInput(4, separate);
  EXPECT_EQ(input.app_folder, "/home/u/my mail/");
  EXPECT_EQ(input.home, HomeKind::kNamed);
  // The folder is not part of the command: "/home" is no " /H".
  EXPECT_EQ(input.command_text, "list.txt");
  EXPECT_EQ(input.upper_text, "LIST.TXT");

  ASSERT_EQ(setenv("PINEMAIL_HOME", "/srv/from-env", 1), 0);
  char* with_equals[] = {program, joined, list, nullptr};
  input = NativeStartInput(3, with_equals);
  EXPECT_EQ(input.app_folder, "/srv/mail/");
  EXPECT_EQ(input.command_text, "list.txt");
  char* without[] = {program, list, nullptr};
  input = NativeStartInput(2, without);
  EXPECT_EQ(input.app_folder, "/srv/from-env/");
  EXPECT_EQ(input.home, HomeKind::kNamed);
  ASSERT_EQ(unsetenv("PINEMAIL_HOME"), 0);

  // "--home" with nothing after it is no option.
  char* bare[] = {program, option, nullptr};
  input = NativeStartInput(2, bare);
  EXPECT_EQ(input.command_text, "--home");
  EXPECT_NE(input.home, HomeKind::kNamed);
}

TEST(PosixTemplatePathTest, ANameThatNothingHasIsTriedInCp932) {
  ScratchFolder dir;
  const std::string cp932 = "\x94\x4E\x89\xEA.txt";  // 年賀.txt
  std::FILE* file = std::fopen((dir / cp932).c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fclose(file);
  EXPECT_EQ(ResolveTemplatePath("年賀.txt", dir.path()), dir / cp932);
  EXPECT_EQ(ResolveTemplatePath(dir / "年賀.txt", "/elsewhere/"), dir / cp932);
  // Nothing under either name: the name as given, for the failure to name.
  EXPECT_EQ(ResolveTemplatePath("無い.txt", dir.path()), dir / "無い.txt");
  EXPECT_EQ(ResolveTemplatePath("missing.txt", dir.path()), dir / "missing.txt");
  // The name as given wins when it exists.
  WriteBytes(dir / "年賀.txt", "x");
  EXPECT_EQ(ResolveTemplatePath("年賀.txt", dir.path()), dir / "年賀.txt");
}

}  // namespace
}  // namespace pinemail
