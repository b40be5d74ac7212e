// The transport that fetches its secret at sign-on: a refresh with the
// rotated token stored, a new token before the old one runs out, refusals
// and echoes without a secret. The settings file is the platform's (sealed
// with DPAPI on Windows).
#include "mail/signon/secret_fetching_transport.h"

#include <gtest/gtest.h>

#include <deque>
#include <span>
#include <string>
#include <vector>

#include "config/product.h"
#include "config/profile.h"
#include "mail/signon/token_store.h"
#include "test_support.h"

namespace pinemail {
namespace {

// Records what it is handed; a Send fails echoing the secret it signed on with.
class RecordingTransport : public MailTransport {
 public:
  MailResult SignOn(const std::string& user_name, const std::string& password) override {
    calls_->push_back("SignOn " + user_name + " " + password);
    password_ = password;
    return MailResult::Done();
  }
  MailResult Send(const OutgoingMessage&) override {
    calls_->push_back("Send");
    return MailResult::Failed("535 rejected " + password_);
  }
  MailResult SendAhead(const OutgoingMessage& message,
                       std::span<const OutgoingMessage* const> ahead) override {
    if (ahead.empty()) return Send(message);
    calls_->push_back("Send, " + std::to_string(ahead.size()) + " ahead");
    return MailResult::Done();
  }
  void SignOff() override { calls_->push_back("SignOff"); }

  std::vector<std::string>* calls_;
  std::string password_;
};

TEST(SecretFetchingTransportTest, RefreshesStoresTheRotatedTokenAndRenewsBeforeTheEnd) {
  testing::ScratchFolder dir;
  const std::string ini = dir / kSettingsFileName;
  SignOnSettings settings;
  settings.oauth2 = true;
  settings.provider.token_url = "https://auth.example.jp/token";
  settings.client_id = "client";
  std::string reason;
  ASSERT_TRUE(SealToken("rt1", &settings.refresh_token, &reason)) << reason;

  std::deque<OAuthReply> replies = {
      {200, {{"access_token", "at1"}, {"refresh_token", "rt2"}, {"expires_in", "3600"}}},
      {200, {{"access_token", "at2"}}},
      {400, {{"error", "invalid_grant"}, {"error_description", "rt2 is revoked"}}}};
  std::vector<std::string> asked;  // the refresh tokens sent
  OAuthPoster post = [&](const std::string&, const auto& fields, OAuthReply* reply, std::string*) {
    asked.push_back(fields[2].second);
    *reply = replies.front();
    replies.pop_front();
    return true;
  };
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> calls;
  auto inner = std::make_unique<RecordingTransport>();
  inner->calls_ = &calls;
  auto transport =
      MakeSecretFetchingTransport(std::move(inner), settings, ini, post, [&] { return now; });

  ASSERT_TRUE(transport->SignOn("taro@example.jp", "ignored").ok());
  const std::string stored = OpenProfile(ini)->ReadLong(kConfigSection, kRefreshTokenKey);
  std::string unsealed;
  ASSERT_TRUE(UnsealToken(stored, &unsealed, &reason)) << reason;
  EXPECT_EQ(unsealed, "rt2");

  now += std::chrono::seconds(3600 - 301);
  EXPECT_EQ(transport->Send({}).reason, "535 rejected ***");
  now += std::chrono::seconds(2);  // inside the last five minutes
  EXPECT_EQ(transport->Send({}).reason, "535 rejected ***");
  now += std::chrono::seconds(3600);
  const MailResult refused = transport->Send({});
  EXPECT_EQ(refused.outcome, MailOutcome::kConnectionLost);
  EXPECT_EQ(refused.reason, "アクセストークンを取得できません: invalid_grant *** is revoked");

  EXPECT_EQ(asked, (std::vector<std::string>{"rt1", "rt2", "rt2"}));
  EXPECT_EQ(calls, (std::vector<std::string>{"SignOn taro@example.jp at1", "Send", "SignOff",
                                             "SignOn taro@example.jp at2", "Send", "SignOff"}));
}

TEST(SecretFetchingTransportTest, ANewTokenWaitsForTheMessagesHandedOverAhead) {
  testing::ScratchFolder dir;
  SignOnSettings settings;
  settings.oauth2 = true;
  settings.provider.token_url = "https://auth.example.jp/token";
  settings.client_id = "client";
  std::string reason;
  ASSERT_TRUE(SealToken("rt", &settings.refresh_token, &reason)) << reason;
  std::deque<OAuthReply> replies = {{200, {{"access_token", "at1"}, {"expires_in", "3600"}}},
                                    {200, {{"access_token", "at2"}}}};
  OAuthPoster post = [&](const std::string&, const auto&, OAuthReply* reply, std::string*) {
    *reply = replies.front();
    replies.pop_front();
    return true;
  };
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> calls;
  auto inner = std::make_unique<RecordingTransport>();
  inner->calls_ = &calls;
  auto transport = MakeSecretFetchingTransport(std::move(inner), settings, dir / kSettingsFileName,
                                               post, [&] { return now; });
  ASSERT_TRUE(transport->SignOn("taro@example.jp", "").ok());
  const OutgoingMessage messages[4];
  const OutgoingMessage* ahead[] = {&messages[1], &messages[2]};
  transport->SendAhead(messages[0], ahead);
  now += std::chrono::seconds(3600);  // due; messages 1 and 2 may be with the server
  const OutgoingMessage* more[] = {&messages[3]};
  transport->SendAhead(messages[1], more);
  transport->SendAhead(messages[2], more);
  transport->SendAhead(messages[3], {});
  EXPECT_EQ(calls,
            (std::vector<std::string>{"SignOn taro@example.jp at1", "Send, 2 ahead", "Send", "Send",
                                      "SignOff", "SignOn taro@example.jp at2", "Send"}));
}

}  // namespace
}  // namespace pinemail
