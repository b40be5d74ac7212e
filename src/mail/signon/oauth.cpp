// The OAuth 2.0 client: one HTTPS request to a server through libcurl, and
// the reasons its refusals give.
#include "mail/signon/oauth.h"

#include <cstdlib>
#include <memory>

#include "mail/net/curl_session.h"
#include "mail/signon/form_encoding.h"
#include "mail/signon/oauth_json.h"
#include "text/credential_mask.h"
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
             const std::string& url, const std::vector<std::pair<std::string, std::string>>& fields,
             OAuthReply* reply,
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

}  // namespace pinemail
