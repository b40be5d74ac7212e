// Opening, renaming and creating by UTF-8 path, with the system's reasons.
#include "text/file_io.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace pinemail {
namespace {

using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

TEST(FileIoTest, OpensAndCreatesFilesWithNonAsciiNames) {
  ScratchFolder folder;
  const std::string path = folder / "宛先 リスト①.txt";
  std::string reason;
  File out = OpenFile(path, "wb", &reason);
  ASSERT_NE(out, nullptr) << reason;
  std::fputs("年賀\r\n", out.get());
  EXPECT_TRUE(CloseFile(std::move(out)));
  EXPECT_EQ(ReadBytes(path), "年賀\r\n");

  File in = OpenFile(path, "rb", &reason);
  ASSERT_NE(in, nullptr) << reason;
  char buffer[16] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, in.get()), 8u);
}

TEST(FileIoTest, FailuresCarryTheSystemsReason) {
  ScratchFolder folder;
  std::string reason;
  EXPECT_EQ(OpenFile(folder / "missing.txt", "rb", &reason), nullptr);
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(OpenFile(folder / "no-such-folder/x.log", "ab", nullptr), nullptr);

  // A folder is not a file to read or write, even where fopen would allow it.
  for (const char* mode : {"rb", "ab"}) {
    reason.clear();
    EXPECT_EQ(OpenFile(folder.path(), mode, &reason), nullptr) << mode;
    EXPECT_FALSE(reason.empty()) << mode;
  }
}

TEST(FileIoTest, RenameReplacesTheTarget) {
  ScratchFolder folder;
  WriteBytes(folder / "new.tmp", "new");
  WriteBytes(folder / "old.eml", "old");
  std::string reason;
  ASSERT_TRUE(RenameFile(folder / "new.tmp", folder / "old.eml", &reason)) << reason;
  EXPECT_EQ(ReadBytes(folder / "old.eml"), "new");
  EXPECT_FALSE(testing::PathExists(folder / "new.tmp"));

  EXPECT_FALSE(RenameFile(folder / "new.tmp", folder / "again.eml", &reason));
  EXPECT_FALSE(reason.empty());
}

TEST(FileIoTest, MakeFoldersCreatesParentsAndRefusesToGoThroughAFile) {
  ScratchFolder folder;
  const std::string nested = folder / "送信済み/2024/01";
  std::string reason;
  EXPECT_FALSE(IsFolder(nested));
  ASSERT_TRUE(MakeFolders(nested, &reason)) << reason;
  EXPECT_TRUE(IsFolder(nested));
  EXPECT_TRUE(MakeFolders(nested + "/", &reason));  // already there

  WriteBytes(folder / "plain", "x");
  EXPECT_FALSE(IsFolder(folder / "plain"));
  reason.clear();
  EXPECT_FALSE(MakeFolders(folder / "plain/sub", &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_FALSE(IsFolder(folder / "missing"));
}

}  // namespace
}  // namespace pinemail
