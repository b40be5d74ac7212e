// The OAuth 2.0 grants: the refresh token grant (RFC 6749 6), the device
// authorization grant (RFC 8628) and the authorization code grant with PKCE
// (RFC 7636), each over an OAuthPoster.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "mail/signon/oauth.h"
#include "mail/signon/sign_on_settings.h"

namespace pinemail {

// An access token and how long it lasts.
struct AccessToken {
  std::string token;
  // "expires_in", kept within 1 s and a day; an hour when not given.
  std::chrono::seconds lifetime{3600};
};

// Exchanges the refresh token for an access token. `rotated` receives a new
// refresh token when the server sent one that differs, else is emptied.
bool RefreshAccessToken(const SignOnSettings& settings, const std::string& refresh_token,
                        const OAuthPoster& post, AccessToken* access, std::string* rotated,
                        std::string* reason);

// How /signin talks to the person signing in.
struct SignInIo {
  // Shows the verification address and the user code (device grant), or the
  // address to open (code grant: `code` empty).
  std::function<void(const std::string& url, const std::string& code)> show;
  // Opens `url` in the browser; failures are ignored (the address is shown).
  std::function<void(const std::string& url)> open_browser;
  std::function<void(std::chrono::seconds)> sleep;
};

// The device and authorization endpoints of a custom token endpoint, from
// the server's metadata at <origin>/.well-known/oauth-authorization-server
// (RFC 8414); left empty when it names none (https only).
void DiscoverEndpoints(OAuthProvider* provider, const OAuthPoster& post);

// The device authorization grant: asks for a code, shows it, polls the
// token endpoint at the interval the server asks for (slower after
// slow_down) until the person has signed in, refused or the code expired.
bool DeviceSignIn(const SignOnSettings& settings, const OAuthPoster& post, const SignInIo& io,
                  std::string* refresh_token, std::string* reason);

// The code grant's authorization URL for a PKCE verifier, a state and the
// redirect URI.
std::string AuthorizationUrl(const SignOnSettings& settings, const std::string& verifier,
                             const std::string& state, const std::string& redirect_uri);

}  // namespace pinemail
