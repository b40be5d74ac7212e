// Tests for the files that messages carry: their types, loading, reuse.
#include <gtest/gtest.h>

#include <filesystem>

#include "merge/attached_file_cache.h"
#include "test_support.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

TEST(MediaTypeOf, ByContentNotByName) {
  const std::pair<std::string, std::string_view> cases[] = {
      {"\xFF\xD8\xFF\xE0", "image/jpeg"},
      {"\x89PNG\r\n\x1A\nxx", "image/png"},
      {"GIF87a", "image/gif"},
      {"GIF89a..", "image/gif"},
      {"RIFF\1\2\3\4WEBPVP8 ", "image/webp"},
      {"RIFF\1\2\3\4WAVEfmt ", "application/octet-stream"},
      {"%PDF-1.7", "application/pdf"},
      {"\x89PNG", "application/octet-stream"},
      {"", "application/octet-stream"},
      {"card.jpg", "application/octet-stream"},
  };
  for (const auto& [content, type] : cases) EXPECT_EQ(MediaTypeOf(content), type) << content;
}

TEST(AttachedFileCache, RefusesWhatCannotGoAndReusesWhatDidNotChange) {
  const testing::ScratchFolder folder;
  testing::WriteBytes(folder / "カード.png", "\x89PNG\r\n\x1A\n");
  std::filesystem::resize_file(PathFromUtf8(folder / "カード.png"), kAttachmentSizeLimit);
  testing::WriteBytes(folder / "big", "");
  std::filesystem::resize_file(PathFromUtf8(folder / "big"), kAttachmentSizeLimit + 1);
  AttachedFileCache cache;
  for (const std::string& bad : {folder / "missing", folder.path(), folder / "big"}) {
    const FileLoad load = cache.Load(bad);
    EXPECT_EQ(load.file, nullptr);
    EXPECT_NE(load.reason.find(bad), std::string::npos) << load.reason;
  }
  const FileLoad first = cache.Load(folder / "カード.png");
  ASSERT_NE(first.file, nullptr) << first.reason;
  EXPECT_EQ(first.file->name, "カード.png");
  EXPECT_EQ(first.file->media_type, "image/png");
  EXPECT_EQ(first.file->size, kAttachmentSizeLimit);
  EXPECT_EQ(cache.Load(folder / "カード.png").file, first.file);
  testing::WriteBytes(folder / "カード.png", "GIF89a");
  const FileLoad changed = cache.Load(folder / "カード.png");
  ASSERT_NE(changed.file, nullptr);
  EXPECT_EQ(changed.file->media_type, "image/gif");
}

TEST(LoadRecordAttachments, NamedKeywordsEmptyValuesNothingFirstFailureRejects) {
  const testing::ScratchFolder folder;
  testing::WriteBytes(folder / "a.pdf", "%PDF-");
  KeywordTable table;
  table.Build("NAME,CARD,MAP");
  const AttachKeywords named = FindAttachKeywords(" MAP , NOPE,CARD", table);
  EXPECT_EQ(named.positions, (std::vector<std::size_t>{2, 1}));
  EXPECT_NE(named.Problem().find(" NOPE"), std::string::npos);
  EXPECT_EQ(FindAttachKeywords("CARD", table).Problem(), "");
  AttachedFileCache cache;
  auto resolve = [&folder](std::string_view name) { return folder / name; };
  const auto positions = FindAttachKeywords("CARD,MAP", table).positions;
  RecordFiles files =
      LoadRecordAttachments(positions, ParseRecord("a,b,t,n,a.pdf,", table), resolve, cache);
  ASSERT_EQ(files.files.size(), 1u);
  EXPECT_EQ(files.files[0]->media_type, "application/pdf");
  files =
      LoadRecordAttachments(positions, ParseRecord("a,b,t,n,a.pdf,x.pdf", table), resolve, cache);
  EXPECT_TRUE(files.files.empty());
  EXPECT_NE(files.reason.find("x.pdf"), std::string::npos);
}

}  // namespace
}  // namespace pinemail
