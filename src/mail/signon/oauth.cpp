// The OAuth 2.0 exchanges and the checks of the sign-on settings; the
// platforms' parts (the token's sealing, the password command, the loopback
// listener) are in the _posix and _win32 files.
#include "mail/signon/oauth.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "config/profile.h"
#include "mail/net/system_random.h"
#include "mail/signon/credential_mask.h"
#include "mail/signon/oauth_json.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

OAuthProvider MicrosoftProvider() {
  return {"https://login.microsoftonline.com/common/oauth2/v2.0/token",
          "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode",
          "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
          "https://outlook.office.com/SMTP.Send offline_access"};
}

OAuthProvider GoogleProvider() {
  // Google's device grant does not cover the mail scope: the code grant.
  return {"https://oauth2.googleapis.com/token", "", "https://accounts.google.com/o/oauth2/v2/auth",
          "https://mail.google.com/"};
}

constexpr long kRequestSeconds = 60;
constexpr std::size_t kReasonCharacters = 300;

struct CurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Collects the reply, refusing more than kOAuthJsonLimit bytes.
size_t CollectBody(char* data, size_t size, size_t count, void* context) {
  auto* body = static_cast<std::string*>(context);
  const size_t bytes = size * count;
  if (body->size() + bytes > kOAuthJsonLimit) return 0;
  body->append(data, bytes);
  return bytes;
}

// PINEMAIL_CA_FILE (tests' own certificate authority) or CURL_CA_BUNDLE, as
// the SMTP sessions take them.
const char* CaFile() {
  for (const char* name : {"PINEMAIL_CA_FILE", "CURL_CA_BUNDLE"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return nullptr;
}

std::string Sanitized(std::string_view text) {
  return std::string(CutCodePoints(BlankControls(SanitizeUtf8(text)), kReasonCharacters));
}

std::string Masked(std::string_view text, const std::vector<std::string>& secrets) {
  return MaskSecrets(text, "", secrets);
}

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

bool PickProvider(std::string_view value, OAuthProvider* out, std::string* reason) {
  value = TrimBlanks(value);
  if (EqualsNoCase(value, "microsoft")) {
    *out = MicrosoftProvider();
  } else if (EqualsNoCase(value, "google")) {
    *out = GoogleProvider();
  } else if (StartsWithNoCase(value, "https://") && value.size() > 8 &&
             value.find_first_of(" \t\"<>") == std::string_view::npos) {
    *out = OAuthProvider{std::string(value), "", "", ""};
  } else {
    *reason = value.empty() ? "OAuth Provider が設定されていません"
                            : "OAuth Provider の値は microsoft、google または https:// で始まる "
                              "トークンのアドレスです";
    return false;
  }
  return true;
}

bool ReadSignOnSettings(const Settings& settings, SignOnSettings* out, std::string* reason) {
  SignOnSettings read;
  const std::string_view auth = TrimBlanks(settings.auth);
  if (EqualsNoCase(auth, "oauth2")) {
    read.oauth2 = true;
  } else if (!auth.empty() && !EqualsNoCase(auth, "password")) {
    *reason = "Auth の値は password か oauth2 です: " + Sanitized(auth);
    return false;
  }
  read.password_command = TrimBlanks(settings.password_command);
  read.client_id = TrimBlanks(settings.oauth_client_id);
  read.client_secret = TrimBlanks(settings.oauth_client_secret);
  read.refresh_token = TrimBlanks(settings.oauth_refresh_token);
  if (read.oauth2 && read.password_command.empty()) {
    if (!PickProvider(settings.oauth_provider, &read.provider, reason)) return false;
    if (read.client_id.empty()) {
      *reason = "OAuth Client ID が設定されていません";
      return false;
    }
  }
  *out = std::move(read);
  return true;
}

std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const auto& [name, value] : fields) {
    if (!text.empty()) text += '&';
    for (const std::string* part : {&name, &value}) {
      for (const char c : *part) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alnum = (c >= '0' && c <= '9') || (AsciiLower(c) >= 'a' && AsciiLower(c) <= 'z');
        if (alnum || c == '-' || c == '.' || c == '_' || c == '~') {
          text += c;
        } else if (c == ' ') {
          text += '+';
        } else {
          text += '%';
          text += kHex[byte >> 4];
          text += kHex[byte & 15];
        }
      }
      if (part == &name) text += '=';
    }
  }
  return text;
}

bool PostOAuth(const std::string& url,
               const std::vector<std::pair<std::string, std::string>>& fields, OAuthReply* reply,
               std::string* reason) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  std::unique_ptr<CURL, CurlCleanup> curl(initialised ? curl_easy_init() : nullptr);
  if (!curl) {
    *reason = "HTTPS の通信を始められません";
    return false;
  }
  CURL* const handle = curl.get();
  const std::string body = FormEncode(fields);
  std::string received;
  char error[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, ListCleanup> headers(
      curl_slist_append(nullptr, "Accept: application/json"));
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
#else
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS, CURLPROTO_HTTPS);
#endif
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  if (!fields.empty()) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
  }
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(handle, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
  if (const char* ca_file = CaFile()) curl_easy_setopt(handle, CURLOPT_CAINFO, ca_file);
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kRequestSeconds);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    // libcurl's text names the host and the TLS problem, never the body.
    *reason = "認証サーバーに接続できません: " +
              Sanitized(error[0] != '\0' ? error : curl_easy_strerror(code));
    return false;
  }
  *reply = OAuthReply();
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply->status);
  if (!ReadJsonObject(received, &reply->members)) {
    *reason = "認証サーバーの応答が読めません (HTTP " + std::to_string(reply->status) + ")";
    return false;
  }
  return true;
}

std::string OAuthRefusalReason(std::string_view head, const OAuthReply& reply,
                               const std::vector<std::string>& secrets) {
  std::string text(head);
  const auto error = reply.members.find("error");
  const auto description = reply.members.find("error_description");
  if (error != reply.members.end()) text += ": " + error->second;
  if (description != reply.members.end()) text += " " + description->second;
  if (error == reply.members.end()) text += " (HTTP " + std::to_string(reply.status) + ")";
  return Masked(Sanitized(Masked(text, secrets)), secrets);
}

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

bool StoreRefreshToken(const std::string& settings_path, const std::string& token,
                       std::string* reason) {
  std::string stored;
  if (!SealToken(token, &stored, reason)) return false;
  std::unique_ptr<Profile> profile = OpenProfile(settings_path);
  // Owner only before the token goes in, and again after (a new file).
  RestrictToOwner(settings_path, reason);
  if (!profile || !profile->Write(kConfigSection, kRefreshTokenKey, stored) ||
      profile->ReadLong(kConfigSection, kRefreshTokenKey) != stored) {
    *reason = "リフレッシュトークンを設定ファイルに保存できません";
    return false;
  }
  return RestrictToOwner(settings_path, reason);
}

bool DecodeBase64(std::string_view text, std::string* bytes) {
  if (text.size() % 4 != 0) return false;
  std::string out;
  std::uint32_t group = 0;
  int count = 0;
  int padding = 0;
  for (const char c : text) {
    int value = c >= 'A' && c <= 'Z'   ? c - 'A'
                : c >= 'a' && c <= 'z' ? c - 'a' + 26
                : c >= '0' && c <= '9' ? c - '0' + 52
                : c == '+'             ? 62
                : c == '/'             ? 63
                                       : -1;
    if (c == '=') {
      value = 0;
      ++padding;
    } else if (value < 0 || padding > 0) {
      return false;
    }
    group = group << 6 | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      for (int shift = 16; shift >= 0; shift -= 8) out.push_back(static_cast<char>(group >> shift));
      group = 0;
      count = 0;
    }
  }
  if (padding > 2) return false;
  out.resize(out.size() - static_cast<std::size_t>(padding));
  *bytes = std::move(out);
  return true;
}

std::string EncodeBase64Url(std::string_view bytes) {
  constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 2]);
    const std::size_t chars = std::min<std::size_t>(4, bytes.size() - i + 1);
    for (std::size_t k = 0; k < chars; ++k) out += kAlphabet[(group >> (18 - 6 * k)) & 63];
  }
  return out;
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
  io.show(Sanitized(uri), Sanitized(got.at("user_code")));
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
