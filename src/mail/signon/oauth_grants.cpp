// The OAuth 2.0 grants: the refresh token grant, the device authorization
// grant in its steps (ask, show, poll) and the authorization code grant's
// URL; the endpoints found in a server's metadata.
#include "mail/signon/oauth_grants.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "mail/signon/form_encoding.h"
#include "mail/signon/pkce.h"
#include "text/ascii.h"

namespace pinemail {
namespace {

// The origin ("https://host[:port]") of an https URL.
std::string OriginOf(const std::string& url) {
  const std::size_t host = url.find("://");
  const std::size_t path = url.find('/', host == std::string::npos ? 0 : host + 3);
  return url.substr(0, path);
}

// "expires_in" kept within 1 s and a day before it meets the clock: a
// server's 0, a negative number or one beyond any clock's range is taken at
// the nearer edge. Missing or not a number: an hour.
std::chrono::seconds TokenLifetime(const std::map<std::string, std::string>& members) {
  constexpr double kShortest = 1;
  constexpr double kLongest = 24 * 60 * 60;
  const auto expires = members.find("expires_in");
  if (expires == members.end()) return std::chrono::hours(1);
  const std::string& text = expires->second;
  double seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || std::isnan(seconds)) {
    return std::chrono::hours(1);
  }
  return std::chrono::seconds(std::llround(std::clamp(seconds, kShortest, kLongest)));
}

// What the device authorization endpoint gave: the code to poll with, the
// address and code to show, and how often and how long to poll (seconds).
struct DeviceCode {
  std::string device_code;
  std::string uri;
  std::string user_code;
  long interval = 5;
  long left = 900;
};

// The member `name` as a positive number, or `fallback`.
long PositiveNumber(const std::map<std::string, std::string>& members, const char* name,
                    long fallback) {
  const auto found = members.find(name);
  if (found == members.end()) return fallback;
  const long value = std::strtol(found->second.c_str(), nullptr, 10);
  return value > 0 ? value : fallback;
}

// Asks for a device code; false with a reason when none came.
bool AskDeviceCode(const SignOnSettings& settings, const OAuthPoster& post, DeviceCode* code,
                   std::string* reason) {
  std::vector<std::pair<std::string, std::string>> ask = {{"client_id", settings.client_id}};
  if (!settings.provider.scope.empty()) ask.emplace_back("scope", settings.provider.scope);
  OAuthReply reply;
  if (!post(settings.provider.device_url, ask, &reply, reason)) return false;
  const auto& got = reply.members;
  if (reply.status != 200 || !got.contains("device_code") || !got.contains("user_code") ||
      !(got.contains("verification_uri") || got.contains("verification_url"))) {
    *reason =
        OAuthRefusalReason("サインインのコードを取得できません", reply, {settings.client_secret});
    return false;
  }
  code->device_code = got.at("device_code");
  code->uri =
      got.contains("verification_uri") ? got.at("verification_uri") : got.at("verification_url");
  code->user_code = got.at("user_code");
  code->interval = std::min(PositiveNumber(got, "interval", 5), 60L);
  code->left = std::min(PositiveNumber(got, "expires_in", 900), 3600L);
  return true;
}

// Why a poll's answer, neither "wait" nor a refresh token, ends the sign-in.
std::string DeviceRefusal(const std::string& error, const OAuthReply& reply,
                          const SignOnSettings& settings, const DeviceCode& code) {
  if (error == "access_denied") return "サインインが拒否されました";
  if (error == "expired_token")
    return "コードの有効期限が切れました。もう一度 /signin してください";
  if (reply.status == 200) {
    return "リフレッシュトークンが発行されませんでした (offline_access の許可が必要です)";
  }
  return OAuthRefusalReason("サインインできません", reply,
                            {settings.client_secret, code.device_code});
}

// Polls the token endpoint at the interval the server asks for (slower after
// slow_down) until the person has signed in, refused or the code expired.
bool PollForRefreshToken(const SignOnSettings& settings, const OAuthPoster& post,
                         const SignInIo& io, DeviceCode code, std::string* refresh_token,
                         std::string* reason) {
  std::vector<std::pair<std::string, std::string>> poll = {
      {"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
      {"client_id", settings.client_id},
      {"device_code", code.device_code}};
  if (!settings.client_secret.empty()) poll.emplace_back("client_secret", settings.client_secret);
  for (OAuthReply reply; code.left > 0;) {
    io.sleep(std::chrono::seconds(code.interval));
    code.left -= code.interval;
    if (!post(settings.provider.token_url, poll, &reply, reason)) return false;
    const auto error = reply.members.find("error");
    const std::string answer = error == reply.members.end() ? "" : error->second;
    if (answer == "authorization_pending") continue;
    if (answer == "slow_down") {
      code.interval = std::min(code.interval + 5, 60L);
      continue;
    }
    const auto token = reply.members.find("refresh_token");
    if (reply.status == 200 && token != reply.members.end() && !token->second.empty()) {
      *refresh_token = token->second;
      return true;
    }
    *reason = DeviceRefusal(answer, reply, settings, code);
    return false;
  }
  *reason = "コードの有効期限が切れました。もう一度 /signin してください";
  return false;
}

}  // namespace

bool RefreshAccessToken(const SignOnSettings& settings, const std::string& refresh_token,
                        const OAuthPoster& post, AccessToken* access, std::string* rotated,
                        std::string* reason) {
  std::vector<std::pair<std::string, std::string>> fields = {{"grant_type", "refresh_token"},
                                                             {"client_id", settings.client_id},
                                                             {"refresh_token", refresh_token}};
  if (!settings.client_secret.empty()) fields.emplace_back("client_secret", settings.client_secret);
  if (!settings.provider.scope.empty()) fields.emplace_back("scope", settings.provider.scope);
  OAuthReply reply;
  if (!post(settings.provider.token_url, fields, &reply, reason)) return false;
  const auto token = reply.members.find("access_token");
  if (reply.status != 200 || token == reply.members.end() || token->second.empty()) {
    *reason = OAuthRefusalReason("アクセストークンを取得できません", reply,
                                 {refresh_token, settings.client_secret});
    return false;
  }
  access->token = token->second;
  access->lifetime = TokenLifetime(reply.members);
  rotated->clear();
  const auto next = reply.members.find("refresh_token");
  if (next != reply.members.end() && !next->second.empty() && next->second != refresh_token) {
    *rotated = next->second;
  }
  return true;
}

void DiscoverEndpoints(OAuthProvider* provider, const OAuthPoster& post) {
  OAuthReply reply;
  std::string ignored;
  if (!post(OriginOf(provider->token_url) + "/.well-known/oauth-authorization-server", {}, &reply,
            &ignored) ||
      reply.status != 200) {
    return;
  }
  auto take = [&reply](const char* name, std::string* out) {
    const auto found = reply.members.find(name);
    if (found != reply.members.end() && StartsWithNoCase(found->second, "https://")) {
      *out = found->second;
    }
  };
  take("device_authorization_endpoint", &provider->device_url);
  take("authorization_endpoint", &provider->auth_url);
}

bool DeviceSignIn(const SignOnSettings& settings, const OAuthPoster& post, const SignInIo& io,
                  std::string* refresh_token, std::string* reason) {
  DeviceCode code;
  if (!AskDeviceCode(settings, post, &code, reason)) return false;
  io.show(ReasonText(code.uri), ReasonText(code.user_code));
  if (io.open_browser && StartsWithNoCase(code.uri, "https://")) io.open_browser(code.uri);
  return PollForRefreshToken(settings, post, io, code, refresh_token, reason);
}

std::string AuthorizationUrl(const SignOnSettings& settings, const std::string& verifier,
                             const std::string& state, const std::string& redirect_uri) {
  std::vector<std::pair<std::string, std::string>> query = {
      {"response_type", "code"},
      {"client_id", settings.client_id},
      {"redirect_uri", redirect_uri},
      {"scope", settings.provider.scope},
      {"state", state},
      {"code_challenge", PkceChallenge(verifier)},
      {"code_challenge_method", "S256"},
      // Google hands out a refresh token only when asked for offline access.
      {"access_type", "offline"},
      {"prompt", "consent"}};
  return settings.provider.auth_url + "?" + FormEncode(query);
}

}  // namespace pinemail
