// Which refusals share which explanation: narrow rows before broad ones, the
// enhanced status code read from the reply, unknown replies left alone.
#include "mail/smtp/smtp_refusal_advice.h"

#include <gtest/gtest.h>

namespace pinemail {

TEST(RefusalAdviceTest, RepliesGetTheirRowsExplanation) {
  const std::string_view oauth = RefusalAdvice(535, "535 5.7.139 Authentication unsuccessful");
  EXPECT_NE(oauth.find("Auth=oauth2"), std::string_view::npos);
  EXPECT_EQ(oauth, RefusalAdvice(550, "550 5.7.30 Basic authentication is not supported"));
  EXPECT_NE(RefusalAdvice(421, "421 4.7.0 Try later").find("Send Rate"), std::string_view::npos);
  EXPECT_EQ(RefusalAdvice(421, "421 4.7.0 x"), RefusalAdvice(451, "451 4.7.28 unusual rate"));
  EXPECT_EQ(RefusalAdvice(552, "552 Too much data"), RefusalAdvice(554, "554 5.3.4 Too big"));
  EXPECT_NE(RefusalAdvice(552, "552 5.2.2 Mailbox full"), RefusalAdvice(552, "552 5.3.4 Big"));
  EXPECT_FALSE(RefusalAdvice(534, "534 5.7.9 Application-specific password required").empty());
  for (const char* reply : {"550 5.1.1 unknown user", "421 4.3.2 Service shutting down",
                            "535 5.7.8 Authentication credentials invalid", "550 5.7.260 x"}) {
    EXPECT_TRUE(RefusalAdvice(std::atoi(reply), reply).empty()) << reply;
  }
}

}  // namespace pinemail
