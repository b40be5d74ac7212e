// Tests for the MIME body: shared segments, file names, cid: addresses.
#include "mail/message/mime_body.h"

#include <gtest/gtest.h>

#include "mail/message/message_writer.h"

namespace pinemail {
namespace {

TEST(MessageSegments, ShareEachFileAndWriteItInLinesOf76) {
  MessageFields fields;
  fields.to = {"", "a@example.jp"};
  fields.message_id = "k@example.jp";
  const auto card = EncodeAttachedFile("c.gif", "GIF89a" + std::string(200, 'x'));
  fields.attachments = {card, card};
  for (std::string_view line_end : {"\r\n", "\n"}) {
    const MessageSegments message = WriteMessageSegments(fields, line_end);
    const std::string whole = message.Join();
    EXPECT_EQ(message.size(), whole.size());
    EXPECT_EQ(card.use_count(), 4);  // here, twice in the fields, once in the message
    const std::string lines = card->base64.substr(0, 76) + std::string(line_end) +
                              card->base64.substr(76, 76) + std::string(line_end);
    EXPECT_NE(whole.find(lines), std::string::npos);
    EXPECT_EQ(whole.find(card->base64.substr(0, 76)), whole.rfind(card->base64.substr(0, 76)));
  }
}

TEST(ExtendedParameterPieces, WholeCharactersPercentEncodedWithinTheLimit) {
  EXPECT_EQ(detail::ExtendedParameterPieces("a b.txt", 48),
            (std::vector<std::string>{"UTF-8''a%20b.txt"}));
  EXPECT_EQ(detail::ExtendedParameterPieces("年賀状x", 10),
            (std::vector<std::string>{"UTF-8''%E5%B9%B4", "%E8%B3%80", "%E7%8A%B6x"}));
}

TEST(HtmlWithContentIds, ReplacesEachPlaceInOrderAndLeavesTheRest) {
  const auto file = EncodeAttachedFile("a", "a");
  const std::string html = "<img src=\"a\"><img src=\"bb\">";
  EXPECT_EQ(detail::HtmlWithContentIds(html, {{10, 1, file}, {23, 2, file}}, {"cid:1", "cid:2"}),
            "<img src=\"cid:1\"><img src=\"cid:2\">");
  EXPECT_EQ(detail::HtmlWithContentIds(html, {{23, 2, file}, {10, 1, file}, {27, 9, file}},
                                       {"cid:1", "cid:2", "cid:3"}),
            "<img src=\"a\"><img src=\"cid:1\">");
}

}  // namespace
}  // namespace pinemail
