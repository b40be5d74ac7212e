// The OAuth 2.0 client: one HTTPS request to a server through libcurl and
// the texts that go to and come back from it.
#include "mail/signon/oauth.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "mail/net/curl_session.h"
#include "mail/signon/credential_mask.h"
#include "mail/signon/oauth_json.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

constexpr long kRequestSeconds = 60;
constexpr std::size_t kReasonCharacters = 300;

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

std::string Masked(std::string_view text, const std::vector<std::string>& secrets) {
  return MaskSecrets(text, "", secrets);
}

}  // namespace

std::string ReasonText(std::string_view text) {
  return std::string(CutCodePoints(BlankControls(SanitizeUtf8(text)), kReasonCharacters));
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

bool PostOAuth(const std::string& ca_file, const std::string& url,
               const std::vector<std::pair<std::string, std::string>>& fields, OAuthReply* reply,
               std::string* reason) {
  CurlHandle curl = NewCurlHandle("https", ca_file);
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
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  if (!fields.empty()) {
    curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(handle, CURLOPT_POSTFIELDS, body.c_str());
  }
  curl_easy_setopt(handle, CURLOPT_TIMEOUT, kRequestSeconds);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &received);
  const CURLcode code = curl_easy_perform(handle);
  if (code != CURLE_OK) {
    // libcurl's text names the host and the TLS problem, never the body.
    *reason = "認証サーバーに接続できません: " +
              ReasonText(error[0] != '\0' ? error : curl_easy_strerror(code));
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

OAuthPoster HttpsOAuthPoster(std::string ca_file) {
  return [ca_file = std::move(ca_file)](
             const std::string& url,
             const std::vector<std::pair<std::string, std::string>>& fields, OAuthReply* reply,
             std::string* reason) { return PostOAuth(ca_file, url, fields, reply, reason); };
}

std::string OAuthRefusalReason(std::string_view head, const OAuthReply& reply,
                               const std::vector<std::string>& secrets) {
  std::string text(head);
  const auto error = reply.members.find("error");
  const auto description = reply.members.find("error_description");
  if (error != reply.members.end()) text += ": " + error->second;
  if (description != reply.members.end()) text += " " + description->second;
  if (error == reply.members.end()) text += " (HTTP " + std::to_string(reply.status) + ")";
  return Masked(ReasonText(Masked(text, secrets)), secrets);
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

}  // namespace pinemail
