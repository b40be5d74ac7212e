// The Windows existence test (attributes, wildcards) and start-up input.
#include <gtest/gtest.h>
#include <windows.h>

#include "config/startup.h"
#include "test_support.h"
#include "text/wide_win32.h"

namespace pinemail {
namespace {

using testing::ScratchFolder;
using testing::WriteBytes;

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesW(Utf8ToWide(path).c_str(), attributes));
}

TEST(Win32FileSystemTest, FoldersHiddenAndSystemFilesFail) {
  ScratchFolder dir;
  const FileSystemView& fs = NativeFileSystem();
  WriteBytes(dir / "list.txt", "x");
  WriteBytes(dir / "hidden.txt", "x");
  WriteBytes(dir / "system.txt", "x");
  WriteBytes(dir / "readonly.txt", "x");
  SetAttributes(dir / "hidden.txt", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(dir / "system.txt", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(dir / "readonly.txt", FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(dir / "folder").c_str(), nullptr));

  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "list.txt"));
  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "LIST.TXT"));  // names are case-insensitive
  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "readonly.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "hidden.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "system.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "folder"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "missing.txt"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "\"list.txt\""));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "bad<>|name"));
  EXPECT_FALSE(fs.IsOrdinaryFile(""));
  SetAttributes(dir / "readonly.txt", FILE_ATTRIBUTE_NORMAL);
  SetAttributes(dir / "system.txt", FILE_ATTRIBUTE_NORMAL);
  SetAttributes(dir / "hidden.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32FileSystemTest, AWildcardPassesWhenAnyMatchIsAnOrdinaryFile) {
  ScratchFolder dir;
  const FileSystemView& fs = NativeFileSystem();
  WriteBytes(dir / "a-hidden.lst", "x");
  SetAttributes(dir / "a-hidden.lst", FILE_ATTRIBUTE_HIDDEN);
  ASSERT_TRUE(CreateDirectoryW(Utf8ToWide(dir / "b-folder.lst").c_str(), nullptr));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "*.lst"));
  WriteBytes(dir / "c-plain.lst", "x");
  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "*.lst"));
  EXPECT_TRUE(fs.IsOrdinaryFile(dir / "c-plai?.lst"));
  EXPECT_FALSE(fs.IsOrdinaryFile(dir / "*.none"));
  SetAttributes(dir / "a-hidden.lst", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32StartInputTest, AppFolderIsTheExecutablesFolder) {
  StartInput input = NativeStartInput(0, nullptr);
  ASSERT_GE(input.app_folder.size(), 3u);
  EXPECT_EQ(input.app_folder.back(), '\\');
  EXPECT_NE(input.app_folder.find(':'), std::string::npos);
  EXPECT_TRUE(NativeFileSystem().IsOrdinaryFile(input.app_folder + "pinemail_tests.exe"));
  EXPECT_FALSE(input.posix_help_words);
  // The test runner's own arguments come through upper-cased, as the path too.
  EXPECT_EQ(input.command_text, input.upper_text);
  EXPECT_EQ(input.upper_text, UpperCaseText(input.upper_text));
}

TEST(Win32UpperCaseTest, UsesTheSystemCaseMapping) {
  EXPECT_EQ(UpperCaseText("c:\\lists\\list.txt /h"), "C:\\LISTS\\LIST.TXT /H");
  EXPECT_EQ(UpperCaseText("年賀状リスト.txt"), "年賀状リスト.TXT");
  EXPECT_EQ(UpperCaseText("ａｂｃ"), "ＡＢＣ");
  // Beyond ASCII the platform's mapping applies.
  EXPECT_EQ(UpperCaseText("straße é"), "STRAßE É");
}

}  // namespace
}  // namespace pinemail
