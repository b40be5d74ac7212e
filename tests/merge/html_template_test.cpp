// Tests for the HTML companion: finding, reading, filling in, its images.
#include "merge/html_template.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "merge/rich_message.h"
#include "test_support.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

TEST(ComposeHtml, ValuesShowAsTextMetaCharsetBecomesUtf8BannerOnTop) {
  KeywordTable table;
  table.Build("NAME");
  struct Case {
    const char* page;
    const char* banner;
    const char* html;
  } cases[] = {
      {"<body class=a>%NAME%</body>", "", "<body class=a>&lt;b&gt;&amp;&quot;&#39;%NAME%</body>"},
      {"<BODY>x</BODY>", "A&B\r\n<c>\r\n\r\n", "<BODY><p>A&amp;B<br>\r\n&lt;c&gt;</p>\r\nx</BODY>"},
      {"x", "b\r\n", "<p>b</p>\r\nx"},
      {"<html><head></head>x", "b", "<html><head></head><p>b</p>\r\nx"},
      {"<html lang=ja>x", "b", "<html lang=ja><p>b</p>\r\nx"},
      {"<meta charset=\"Shift_JIS\"><META http-equiv=c content='text/html; charset=sjis'>", "",
       "<meta charset=\"UTF-8\"><META http-equiv=c content='text/html; charset=UTF-8'>"},
      {"<metadata charset=x>", "", "<metadata charset=x>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComposeHtml(c.page, table, {"<b>&\"'%NAME%"}, c.banner), c.html) << c.page;
  }
}

TEST(FindImageReferences, RelativeFileNamesOnly) {
  const std::string html =
      "<img src=\"a b.jpg\"><IMG\talt='x' SRC = 'c&amp;d.png'><img src=e.gif/><imgx src=f>"
      "<img src=\"http://h/g.png\"><img src='cid:x'><img src=\"/abs.png\"><img src=\"\">"
      "<img src=\"sub/h.webp\"><img data-src=i.png>";
  std::vector<std::string> names;
  for (const ImageReference& reference : FindImageReferences(html)) {
    names.push_back(reference.file_name);
    EXPECT_EQ(reference.file_name.find('&') == std::string::npos,
              html.substr(reference.offset, reference.length) == reference.file_name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a b.jpg", "c&d.png", "e.gif/", "sub/h.webp"}));
}

TEST(HtmlCompanion, FoundBesideTheTemplateAndReadLikeOne) {
  const testing::ScratchFolder folder;
  testing::WriteBytes(folder / "a.TXT", "s\r\n\r\n");
  testing::WriteBytes(folder / "a.htm", "\xEF\xBB\xBF<p>\xE5\xB9\xB4</p>\n<i>\r\nend");
  testing::WriteBytes(folder / "b.html", "<p>\x94\x4E</p>");  // CP932
  EXPECT_EQ(FindHtmlCompanion(folder / "a.TXT"), folder / "a.htm");
  EXPECT_EQ(FindHtmlCompanion(folder / "b"), folder / "b.html");
  EXPECT_EQ(FindHtmlCompanion(folder / "c.txt"), "");
  std::string html;
  ASSERT_TRUE(ReadHtmlTemplate(folder / "a.htm", &html));
  EXPECT_EQ(html, "<p>年</p>\n<i>\r\nend\r\n");
  ASSERT_TRUE(ReadHtmlTemplate(folder / "b.html", &html));
  EXPECT_EQ(html, "<p>年</p>\r\n");
  EXPECT_FALSE(ReadHtmlTemplate(folder.path(), &html));
}

TEST(AddRichParts, HtmlImagesAndFilesOrTheReasonTheRecordCannotGo) {
  const testing::ScratchFolder folder;
  testing::WriteBytes(folder / "t.txt", "s\r\n\r\nbody\r\n");
  testing::WriteBytes(folder / "t.html", "<p>%NAME%</p><img src=\"%CARD%\">");
  testing::WriteBytes(folder / "c.gif", "GIF89a");
  KeywordTable table;
  table.Build("NAME,CARD");
  // The same file by two spellings of its folder still goes once.
  const RichSetup setup{folder / "./", FindAttachKeywords("CARD", table).positions, ""};
  AttachedFileCache cache;
  OutgoingMessage message;
  std::string reason;
  ASSERT_TRUE(AddRichParts(&message, ParseRecord("a,b,t.txt,<i>,c.gif", table), folder / "t.txt",
                           table, setup, cache, &reason))
      << reason;
  EXPECT_EQ(message.html, "<p>&lt;i&gt;</p><img src=\"c.gif\">\r\n");
  ASSERT_EQ(message.inline_images.size(), 1u);
  ASSERT_EQ(message.attachments.size(), 1u);
  EXPECT_EQ(message.inline_images[0].file, message.attachments[0]);
  EXPECT_EQ(message.attachments[0]->media_type, "image/gif");
  EXPECT_EQ(FilesOf(message).size(), 1u);
  EXPECT_EQ(PathFromUtf8(message.attachments[0]->path),
            std::filesystem::canonical(PathFromUtf8(folder / "c.gif")));
  // An empty value attaches nothing; a missing file holds the record back.
  EXPECT_TRUE(AddRichParts(&message, ParseRecord("a,b,t.txt,x,", table), folder / "t.txt", table,
                           setup, cache, &reason));
  EXPECT_TRUE(message.attachments.empty() && message.inline_images.empty());
  EXPECT_FALSE(AddRichParts(&message, ParseRecord("a,b,t.txt,x,none.gif", table), folder / "t.txt",
                            table, setup, cache, &reason));
  EXPECT_NE(reason.find("none.gif"), std::string::npos) << reason;
}

}  // namespace
}  // namespace pinemail
