// Tests for composing the message of one record.
#include "merge/compose.h"

#include <gtest/gtest.h>

#include <string>

namespace pinemail {
namespace {

TEST(ComposeMessage, BannerThenTheBodyWithTheRecordsValues) {
  KeywordTable table;
  table.Build("NAME,KEN");
  const MessageTemplate greeting{"A Happy New Year", "Dear %NAME%,\r\n%KEN% %GOBI%\r\n"};
  const RecipientRecord record = ParseRecord("a@example.jp, 田中 太郎 ,t.txt,田中", table);
  const std::optional<OutgoingMessage> message =
      ComposeMessage(record, &greeting, table, "BANNER\r\n");
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(message->recipient_address, "a@example.jp");
  EXPECT_EQ(message->recipient_name, " 田中 太郎 ");
  EXPECT_EQ(message->subject, "A Happy New Year");
  EXPECT_EQ(message->text, "BANNER\r\nDear 田中,\r\n %GOBI%\r\n");
}

TEST(ComposeMessage, NothingToSendWithoutNameAddressOrTemplate) {
  const KeywordTable table;
  const MessageTemplate usable{"subject", "body\r\n"};
  struct Case {
    const char* line;
    const MessageTemplate* message_template;
  } cases[] = {
      {",Name,t.txt", &usable},
      {"a@example.jp,,t.txt", &usable},
      {"a@example.jp,Name,t.txt", nullptr},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(
        ComposeMessage(ParseRecord(c.line, table), c.message_template, table, "").has_value())
        << c.line;
  }
}

}  // namespace
}  // namespace pinemail
