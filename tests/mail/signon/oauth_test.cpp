// Tests of the portable OAuth 2.0 parts: the settings, the JSON reader, the
// encodings, and the exchanges over a scripted server.
#include "mail/signon/oauth.h"

#include <gtest/gtest.h>

#include <cctype>
#include <deque>
#include <string>

#include "mail/signon/form_encoding.h"
#include "mail/signon/oauth_grants.h"
#include "mail/signon/oauth_json.h"
#include "mail/signon/password_command.h"
#include "mail/signon/pkce.h"
#include "text/base64.h"
#include "text/credential_mask.h"

namespace pinemail {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

TEST(SignOnSettingsTest, ChecksAuthProviderAndClient) {
  struct Case {
    const char* auth;
    const char* provider;
    const char* client_id;
    const char* command;
    bool ok;
    const char* token_url;  // when ok and oauth2 without a command
  } cases[] = {
      {"", "", "", "", true, ""},
      {" Password ", "", "", "", true, ""},
      {"OAUTH2", "microsoft", "id", "", true,
       "https://login.microsoftonline.com/common/oauth2/v2.0/token"},
      {"oauth2", " Google ", "id", "", true, "https://oauth2.googleapis.com/token"},
      {"oauth2", "https://auth.example.jp/token", "id", "", true, "https://auth.example.jp/token"},
      {"oauth2", "", "", "pass show mail", true, ""},  // the command gives the access token
      {"oauth", "", "", "", false, ""},
      {"oauth2", "", "id", "", false, ""},
      {"oauth2", "http://auth.example.jp/token", "id", "", false, ""},
      {"oauth2", "yahoo", "id", "", false, ""},
      {"oauth2", "microsoft", "", "", false, ""},
  };
  for (const Case& c : cases) {
    Settings settings;
    settings.auth = c.auth;
    settings.oauth_provider = c.provider;
    settings.oauth_client_id = c.client_id;
    settings.password_command = c.command;
    SignOnSettings read;
    std::string reason;
    EXPECT_EQ(ReadSignOnSettings(settings, &read, &reason), c.ok) << c.auth << " " << c.provider;
    EXPECT_EQ(reason.empty(), c.ok) << reason;
    if (c.ok) {
      EXPECT_EQ(read.provider.token_url, c.token_url);
    }
  }
}

TEST(OAuthJsonTest, ReadsFlatObjectsAndRefusesTheRest) {
  std::map<std::string, std::string> m;
  ASSERT_TRUE(
      ReadJsonObject(R"( {"access_token":"a\"b\\\/\u00e9\ud83d\ude00\ud800x","expires_in":3599,)"
                     R"("error_codes":[70000,{"a":[1]}],"x":null,"ok":true,"n":-1.5e3} )",
                     &m));
  EXPECT_EQ(m["access_token"], "a\"b\\/é😀\xEF\xBF\xBDx");
  EXPECT_EQ(m["expires_in"], "3599");
  EXPECT_EQ(m["ok"], "true");
  EXPECT_EQ(m["n"], "-1.5e3");
  EXPECT_FALSE(m.contains("error_codes"));
  EXPECT_FALSE(m.contains("x"));
  for (const std::string& bad : std::vector<std::string>{
           "", "[]", "{", "{\"a\":}", "{\"a\":1,}", "{\"a\":\"x\ny\"}", "{\"a\":1} x",
           "{\"a\":01x}", "{\"a\":\"\\q\"}", "{\"a\":tru}", std::string(20, '[')}) {
    EXPECT_FALSE(ReadJsonObject(bad, &m)) << bad;
  }
  EXPECT_FALSE(ReadJsonObject("{\"a\":" + std::string(17, '[') + std::string(17, ']') + "}", &m));
  EXPECT_TRUE(ReadJsonObject("{\"a\":" + std::string(16, '[') + std::string(16, ']') + "}", &m));
  EXPECT_FALSE(ReadJsonObject("{\"a\":\"" + std::string(kOAuthJsonLimit, 'x') + "\"}", &m));
}

TEST(OAuthEncodingTest, FormAndSha256) {
  EXPECT_EQ(FormEncode({{"a b", "x&y=z/é"}, {"scope", "https://mail.google.com/"}}),
            "a+b=x%26y%3Dz%2F%C3%A9&scope=https%3A%2F%2Fmail.google.com%2F");
  // As Python's hashlib computes them: one block, and several.
  EXPECT_EQ(EncodeBase64Url(Sha256("dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWjOEjXk")),
            "VYFANLqdx_HDV6BqEhluZJ63rtrIPROSSFdB3P6G83I");
  EXPECT_EQ(EncodeBase64Url(Sha256(std::string(200, 'a'))),
            "wqkI2Y9d-Yet5BtfziEwZ--8wh7yJAISpB5UtefCiuU");
  EXPECT_EQ(ReadQuery("code=a%2Fb+c&state=s&e"),
            (std::map<std::string, std::string>{{"code", "a/b c"}, {"state", "s"}, {"e", ""}}));
}

// A token endpoint that answers from a script and records the requests.
struct ScriptedServer {
  std::deque<OAuthReply> replies;
  std::vector<std::pair<std::string, Fields>> requests;
  OAuthPoster poster() {
    return [this](const std::string& url, const Fields& fields, OAuthReply* reply, std::string*) {
      requests.emplace_back(url, fields);
      *reply = replies.front();
      replies.pop_front();
      return true;
    };
  }
};

OAuthReply Reply(long status, std::map<std::string, std::string> members) {
  return {status, std::move(members)};
}

SignOnSettings Microsoft() {
  SignOnSettings settings;
  settings.oauth2 = true;
  std::string ignored;
  PickProvider("microsoft", &settings.provider, &ignored);
  settings.client_id = "client";
  settings.client_secret = "shh-secret";
  return settings;
}

TEST(RefreshAccessTokenTest, TakesTheTokenAndARotatedRefreshTokenOrTheProvidersError) {
  ScriptedServer server;
  server.replies = {
      Reply(200, {{"access_token", "at1"}, {"refresh_token", "rt2"}}),
      Reply(200, {{"access_token", "at2"}, {"refresh_token", "rt1"}, {"expires_in", "1800"}}),
      Reply(400, {{"error", "invalid_grant"},
                  {"error_description", "AADSTS70000 token rt1 revoked\r\n"}})};
  AccessToken access;
  std::string rotated;
  std::string reason;
  ASSERT_TRUE(RefreshAccessToken(Microsoft(), "rt1", server.poster(), &access, &rotated, &reason));
  EXPECT_EQ(access.token, "at1");
  EXPECT_EQ(access.lifetime, std::chrono::seconds(3600));
  EXPECT_EQ(rotated, "rt2");
  EXPECT_EQ(server.requests[0].first, Microsoft().provider.token_url);
  EXPECT_EQ(server.requests[0].second,
            (Fields{{"grant_type", "refresh_token"},
                    {"client_id", "client"},
                    {"refresh_token", "rt1"},
                    {"client_secret", "shh-secret"},
                    {"scope", "https://outlook.office.com/SMTP.Send offline_access"}}));
  ASSERT_TRUE(RefreshAccessToken(Microsoft(), "rt1", server.poster(), &access, &rotated, &reason));
  EXPECT_EQ(rotated, "") << "the same token is no rotation";
  EXPECT_EQ(access.lifetime, std::chrono::seconds(1800));
  EXPECT_FALSE(RefreshAccessToken(Microsoft(), "rt1", server.poster(), &access, &rotated, &reason));
  EXPECT_EQ(reason,
            "アクセストークンを取得できません: invalid_grant AADSTS70000 token *** revoked  ");
}

TEST(RefreshAccessTokenTest, LifetimeStaysWithinASecondAndADay) {
  for (const auto& [expires, seconds] : std::map<std::string, long>{
           {"99999999999999999999", 86400}, {"0", 1}, {"-7", 1}, {"soon", 3600}, {"59.6", 60}}) {
    ScriptedServer server;
    server.replies = {Reply(200, {{"access_token", "at"}, {"expires_in", expires}})};
    AccessToken access;
    std::string rotated;
    std::string reason;
    ASSERT_TRUE(RefreshAccessToken(Microsoft(), "rt", server.poster(), &access, &rotated, &reason));
    EXPECT_EQ(access.lifetime.count(), seconds) << expires;
  }
}

TEST(RefreshAccessTokenTest, AnEchoedRequestShowsNoSecretInAnyEncoding) {
  const std::string token = "1//0g+Ab c";  // Google's refresh tokens hold "/"
  const std::string form = FormEncode({{"refresh_token", token}, {"client_secret", "shh/+"}});
  std::string lower = form;  // hex digits in lower case, as some servers write them
  for (std::size_t at = lower.find('%'); at != std::string::npos; at = lower.find('%', at + 1)) {
    for (std::size_t i : {at + 1, at + 2}) lower[i] = static_cast<char>(std::tolower(lower[i]));
  }
  ScriptedServer server;
  server.replies = {Reply(400, {{"error", "invalid_request"},
                                {"error_description", form + " " + lower + " " + token}})};
  SignOnSettings settings = Microsoft();
  settings.client_secret = "shh/+";
  AccessToken access;
  std::string rotated;
  std::string reason;
  EXPECT_FALSE(RefreshAccessToken(settings, token, server.poster(), &access, &rotated, &reason));
  EXPECT_EQ(reason,
            "アクセストークンを取得できません: invalid_request refresh_token=**********&"
            "client_secret=***** refresh_token=**********&client_secret=***** **********");
  EXPECT_EQ(MaskSecrets("a " + EncodeBase64(token) + " b", "", {token}), "a ********** b");
}

TEST(DeviceSignInTest, PollsPatientlyUntilTheTokenOrTheEnd) {
  struct Case {
    const char* last_error;  // the last poll's error; empty: it succeeds
    const char* reason;
  } cases[] = {
      {"", ""},
      {"access_denied", "サインインが拒否されました"},
      {"expired_token", "コードの有効期限が切れました。もう一度 /signin してください"},
  };
  for (const Case& c : cases) {
    ScriptedServer server;
    server.replies = {
        Reply(200, {{"device_code", "dc"},
                    {"user_code", "ABCD-EFGH"},
                    {"verification_uri", "https://microsoft.com/devicelogin"},
                    {"interval", "2"},
                    {"expires_in", "900"}}),
        Reply(400, {{"error", "authorization_pending"}}), Reply(400, {{"error", "slow_down"}}),
        *c.last_error ? Reply(400, {{"error", c.last_error}})
                      : Reply(200, {{"access_token", "at"}, {"refresh_token", "rt"}})};
    std::vector<long> sleeps;
    std::string shown;
    SignInIo io;
    io.show = [&](const std::string& url, const std::string& code) { shown = url + " " + code; };
    io.sleep = [&](std::chrono::seconds s) { sleeps.push_back(static_cast<long>(s.count())); };
    std::string token;
    std::string reason;
    EXPECT_EQ(DeviceSignIn(Microsoft(), server.poster(), io, &token, &reason), !*c.last_error);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(token, *c.last_error ? "" : "rt");
    EXPECT_EQ(shown, "https://microsoft.com/devicelogin ABCD-EFGH");
    EXPECT_EQ(sleeps, (std::vector<long>{2, 2, 7}));  // slower after slow_down
    EXPECT_EQ(server.requests[0].second,
              (Fields{{"client_id", "client"},
                      {"scope", "https://outlook.office.com/SMTP.Send offline_access"}}));
    EXPECT_EQ(server.requests[1].second[0].second, "urn:ietf:params:oauth:grant-type:device_code");
  }
}

TEST(CredentialMaskTest, MasksTheXoauth2Message) {
  const std::string message = EncodeBase64(
      "user=taro@example.jp\x01"
      "auth=Bearer tok\x01\x01");
  EXPECT_EQ(MaskCredentials("535 " + message + " tok", "taro@example.jp", "tok"), "535 *** ***");
}

TEST(PasswordCommandTest, FirstLineOrAReason) {
  struct Case {
    const char* output;
    bool complete;
    const char* secret;
  } cases[] = {{"pw\r\nrest\n", true, "pw"},
               {"pw", true, "pw"},
               {"\npw\n", true, ""},
               {"", true, ""},
               {"pw\n", false, ""}};
  for (const Case& c : cases) {
    std::string secret;
    std::string reason;
    EXPECT_EQ(TakeFirstLine(c.output, c.complete, &secret, &reason), *c.secret != '\0');
    EXPECT_EQ(secret, c.secret);
    EXPECT_EQ(reason.empty(), *c.secret != '\0');
  }
}

}  // namespace
}  // namespace pinemail
