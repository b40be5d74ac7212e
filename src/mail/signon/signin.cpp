// `pinemail /signin`: obtains a refresh token once, interactively, and
// stores it in the settings file.
#include "mail/signon/signin.h"

#include <memory>

#include "config/profile.h"
#include "mail/net/loopback.h"
#include "mail/signon/form_encoding.h"
#include "mail/signon/oauth.h"
#include "mail/signon/pkce.h"
#include "mail/signon/token_store.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr std::chrono::minutes kBrowserWait{10};
constexpr std::string_view kDonePage =
    "<!DOCTYPE html><meta charset=\"utf-8\"><title>pinemail</title>"
    "<p>サインインの結果を受け取りました。このページは閉じてかまいません。</p>";

// The authorization code grant with PKCE and a loopback redirect.
bool CodeSignIn(const SignOnSettings& settings, const OAuthPoster& post, const SignInIo& io,
                std::string* refresh_token, std::string* reason) {
  LoopbackListener listener;
  int port = 0;
  if (!listener.Open(&port, reason)) return false;
  const std::string redirect_uri = "http://127.0.0.1:" + std::to_string(port) + "/";
  const std::string verifier = NewPkceVerifier();
  const std::string state = NewState();
  if (verifier.empty() || state.empty()) {
    *reason = "システムの乱数を得られません";
    return false;
  }
  const std::string url = AuthorizationUrl(settings, verifier, state, redirect_uri);
  io.show(url, "");
  if (io.open_browser) io.open_browser(url);
  const auto deadline = std::chrono::steady_clock::now() + kBrowserWait;
  std::map<std::string, std::string> answer;
  // Requests without our state (a favicon, a stray page) are answered and
  // passed over.
  while (answer.empty() || answer["state"] != state) {
    std::string target;
    if (!listener.Accept(deadline, kDonePage, &target, reason)) return false;
    const std::size_t query = target.find('?');
    answer = query == std::string::npos ? std::map<std::string, std::string>()
                                        : ReadQuery(std::string_view(target).substr(query + 1));
  }
  if (!answer.contains("code")) {
    OAuthReply refused;
    refused.members = answer;
    *reason = OAuthRefusalReason("サインインが拒否されました", refused, {});
    return false;
  }
  std::vector<std::pair<std::string, std::string>> fields = {{"grant_type", "authorization_code"},
                                                             {"code", answer["code"]},
                                                             {"redirect_uri", redirect_uri},
                                                             {"client_id", settings.client_id},
                                                             {"code_verifier", verifier}};
  if (!settings.client_secret.empty()) fields.emplace_back("client_secret", settings.client_secret);
  OAuthReply reply;
  if (!post(settings.provider.token_url, fields, &reply, reason)) return false;
  const auto token = reply.members.find("refresh_token");
  if (reply.status != 200 || token == reply.members.end() || token->second.empty()) {
    *reason = OAuthRefusalReason("リフレッシュトークンを取得できません", reply,
                                 {answer["code"], settings.client_secret});
    return false;
  }
  *refresh_token = token->second;
  return true;
}

}  // namespace

bool SignIn(const std::string& settings_path, const SignInIo& io, const OAuthPoster& post,
            std::string* reason) {
  std::unique_ptr<Profile> profile = OpenProfile(settings_path);
  Settings settings = profile ? LoadSettings(*profile) : Settings();
  SignOnSettings sign_on;
  if (!ReadSignOnSettings(settings, &sign_on, reason)) return false;
  if (!sign_on.oauth2) {
    *reason = "設定ファイルに Auth=oauth2 がありません";
    return false;
  }
  if (!PickProvider(settings.oauth_provider, &sign_on.provider, reason)) return false;
  if (sign_on.client_id.empty()) {
    *reason = "OAuth Client ID が設定されていません";
    return false;
  }
  if (sign_on.provider.device_url.empty() && sign_on.provider.auth_url.empty()) {
    DiscoverEndpoints(&sign_on.provider, post);
  }
  std::string refresh_token;
  bool ok = false;
  if (!sign_on.provider.device_url.empty()) {
    ok = DeviceSignIn(sign_on, post, io, &refresh_token, reason);
  } else if (!sign_on.provider.auth_url.empty()) {
    ok = CodeSignIn(sign_on, post, io, &refresh_token, reason);
  } else {
    *reason = "認証サーバーのメタデータにデバイス認可も認可エンドポイントもありません";
  }
  return ok && StoreRefreshToken(settings_path, refresh_token, reason);
}

}  // namespace pinemail
