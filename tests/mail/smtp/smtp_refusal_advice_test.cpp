// Which refusals get which explanation: narrow rows before broad ones, the
// enhanced status code read from the reply, unknown replies left alone.
#include "mail/smtp/smtp_refusal_advice.h"

#include <gtest/gtest.h>

namespace pinemail {
namespace {

TEST(RefusalAdviceTest, RepliesGetTheirRowsExplanation) {
  const auto advice = [](int code, const char* reply) { return RefusalAdvice(code, reply); };
  const std::string_view oauth = advice(535, "535 5.7.139 Authentication unsuccessful");
  EXPECT_NE(oauth.find("Auth=oauth2"), std::string_view::npos);
  EXPECT_EQ(oauth, advice(550, "550 5.7.30 Basic authentication is not supported"));
  EXPECT_NE(advice(421, "421 4.7.0 Try again later").find("Send Rate"), std::string_view::npos);
  EXPECT_EQ(advice(421, "421 4.7.0 x"), advice(451, "451 4.7.28 unusual rate"));
  EXPECT_EQ(advice(552, "552 Too much mail data"), advice(554, "554 5.3.4 Message too big"));
  EXPECT_NE(advice(552, "552 5.2.2 Mailbox full"), advice(552, "552 5.3.4 too big"));
  EXPECT_FALSE(
      advice(534, "534 5.7.9 Application-specific password required. 5.7.9 https://x").empty());
  for (const auto& [code, reply] : {std::pair{550, "550 5.1.1 unknown user"},
                                    {421, "421 4.3.2 Service shutting down"},
                                    {535, "535 5.7.8 Authentication credentials invalid"},
                                    {550, "550 5.7.260 x"}}) {
    EXPECT_TRUE(advice(code, reply).empty()) << reply;
  }
}

}  // namespace
}  // namespace pinemail
