// The OAuth 2.0 grants: the refresh token grant, the device authorization
// grant and the authorization code grant's steps that need no socket (PKCE,
// the authorization URL, the redirect's query).
#include "mail/signon/oauth_grants.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "text/ascii.h"
#include "text/base64.h"
#include "text/system_random.h"

namespace pinemail {
namespace {

// The origin ("https://host[:port]") of an https URL.
std::string OriginOf(const std::string& url) {
  const std::size_t host = url.find("://");
  const std::size_t path = url.find('/', host == std::string::npos ? 0 : host + 3);
  return url.substr(0, path);
}

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'f');
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

// base64url of `bytes` random bytes; empty when the system gave none.
std::string RandomText(std::size_t bytes) {
  std::string raw(bytes, '\0');
  if (!SystemRandomBytes(raw.data(), raw.size())) return {};
  return EncodeBase64Url(raw);
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

std::string Sha256(std::string_view bytes) {
  static constexpr std::array<std::uint32_t, 64> kRound = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  std::array<std::uint32_t, 8> hash = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string data(bytes);
  const std::uint64_t bits = static_cast<std::uint64_t>(bytes.size()) * 8;
  data.push_back(static_cast<char>(0x80));
  while (data.size() % 64 != 56) data.push_back('\0');
  for (int shift = 56; shift >= 0; shift -= 8) data.push_back(static_cast<char>(bits >> shift));
  auto rotate = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t block = 0; block < data.size(); block += 64) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i) {
      for (int k = 0; k < 4; ++k) {
        w[i] = w[i] << 8 | static_cast<std::uint8_t>(data[block + 4 * i + k]);
      }
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = hash;
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t s1 = rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25);
      const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const std::uint32_t t1 = v[7] + s1 + choice + kRound[i] + w[i];
      const std::uint32_t s0 = rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22);
      const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      v = {t1 + s0 + majority, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int i = 0; i < 8; ++i) hash[i] += v[i];
  }
  std::string digest;
  for (const std::uint32_t word : hash) {
    for (int shift = 24; shift >= 0; shift -= 8) digest.push_back(static_cast<char>(word >> shift));
  }
  return digest;
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
  const std::string device_code = got.at("device_code");
  const std::string uri =
      got.contains("verification_uri") ? got.at("verification_uri") : got.at("verification_url");
  io.show(ReasonText(uri), ReasonText(got.at("user_code")));
  if (io.open_browser && StartsWithNoCase(uri, "https://")) io.open_browser(uri);
  auto number = [&got](const char* name, long fallback) {
    const auto found = got.find(name);
    if (found == got.end()) return fallback;
    const long value = std::strtol(found->second.c_str(), nullptr, 10);
    return value > 0 ? value : fallback;
  };
  long interval = std::min(number("interval", 5), 60L);
  long left = std::min(number("expires_in", 900), 3600L);
  std::vector<std::pair<std::string, std::string>> poll = {
      {"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
      {"client_id", settings.client_id},
      {"device_code", device_code}};
  if (!settings.client_secret.empty()) poll.emplace_back("client_secret", settings.client_secret);
  while (left > 0) {
    io.sleep(std::chrono::seconds(interval));
    left -= interval;
    if (!post(settings.provider.token_url, poll, &reply, reason)) return false;
    const auto error = reply.members.find("error");
    const std::string code = error == reply.members.end() ? "" : error->second;
    if (code == "authorization_pending") continue;
    if (code == "slow_down") {
      interval = std::min(interval + 5, 60L);
      continue;
    }
    const auto token = reply.members.find("refresh_token");
    if (reply.status == 200 && token != reply.members.end() && !token->second.empty()) {
      *refresh_token = token->second;
      return true;
    }
    *reason = code == "access_denied" ? "サインインが拒否されました"
              : code == "expired_token"
                  ? "コードの有効期限が切れました。もう一度 /signin してください"
              : reply.status == 200
                  ? "リフレッシュトークンが発行されませんでした (offline_access の許可が必要です)"
                  : OAuthRefusalReason("サインインできません", reply,
                                       {settings.client_secret, device_code});
    return false;
  }
  *reason = "コードの有効期限が切れました。もう一度 /signin してください";
  return false;
}

std::string AuthorizationUrl(const SignOnSettings& settings, const std::string& verifier,
                             const std::string& state, const std::string& redirect_uri) {
  std::vector<std::pair<std::string, std::string>> query = {
      {"response_type", "code"},
      {"client_id", settings.client_id},
      {"redirect_uri", redirect_uri},
      {"scope", settings.provider.scope},
      {"state", state},
      {"code_challenge", EncodeBase64Url(Sha256(verifier))},
      {"code_challenge_method", "S256"},
      // Google hands out a refresh token only when asked for offline access.
      {"access_type", "offline"},
      {"prompt", "consent"}};
  return settings.provider.auth_url + "?" + FormEncode(query);
}

std::map<std::string, std::string> ReadQuery(std::string_view query) {
  std::map<std::string, std::string> fields;
  auto decode = [](std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '+') {
        out += ' ';
      } else if (text[i] == '%' && i + 2 < text.size() && IsHex(text[i + 1]) &&
                 IsHex(text[i + 2])) {
        out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
      } else {
        out += text[i];
      }
    }
    return out;
  };
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::size_t eq = pair.find('=');
    fields[decode(pair.substr(0, eq))] =
        eq == std::string_view::npos ? "" : decode(pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return fields;
}

std::string NewPkceVerifier() { return RandomText(48); }
std::string NewState() { return RandomText(16); }

}  // namespace pinemail
