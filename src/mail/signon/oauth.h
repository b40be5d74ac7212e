// The OAuth 2.0 client: requests over HTTPS to an authorization server, the
// JSON reply they get and the reason for a refusal.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pinemail {

// A reply of an OAuth server: its HTTP status and JSON members.
struct OAuthReply {
  long status = 0;
  std::map<std::string, std::string> members;
};

// One HTTPS request (a POST of the form `fields`, or a GET when `fields` is
// empty) through libcurl: certificates verified as for every connection of
// the program (NewCurlHandle; `ca_file`, when not empty, trusted in place of
// the system's store), no redirects, at most kOAuthJsonLimit bytes of reply,
// a deadline of one minute. False with a reason when no JSON reply came.
using OAuthPoster = std::function<bool(
    const std::string& url, const std::vector<std::pair<std::string, std::string>>& fields,
    OAuthReply* reply, std::string* reason)>;
bool PostOAuth(const std::string& ca_file, const std::string& url,
               const std::vector<std::pair<std::string, std::string>>& fields, OAuthReply* reply,
               std::string* reason);
// PostOAuth trusting `ca_file`, as the sign-on steps take it.
OAuthPoster HttpsOAuthPoster(std::string ca_file);

// `text` (a setting's value, a server's words) as a reason may carry it:
// controls blanked, malformed UTF-8 replaced, cut to 300 characters.
std::string ReasonText(std::string_view text);

// The reason for a refused request: the server's "error" and
// "error_description" (controls blanked, cut to 300 characters), with every
// secret in `secrets` masked.
std::string OAuthRefusalReason(std::string_view head, const OAuthReply& reply,
                               const std::vector<std::string>& secrets);

}  // namespace pinemail
