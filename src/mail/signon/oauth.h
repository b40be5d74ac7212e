// Signing on without a stored password: the "Auth", "OAuth ..." and
// "Password Command" settings, OAuth 2.0 over HTTPS (the refresh token grant,
// RFC 6749 6; the device authorization grant, RFC 8628; the authorization
// code grant with PKCE, RFC 7636) and where the refresh token is kept.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/settings.h"

namespace pinemail {

// A provider's endpoints and the scope a mail client asks for.
struct OAuthProvider {
  std::string token_url;
  std::string device_url;  // RFC 8628; empty: the provider has none for mail
  std::string auth_url;    // the authorization endpoint; empty when unknown
  std::string scope;
};

struct SignOnSettings {
  bool oauth2 = false;           // "Auth=oauth2"
  std::string password_command;  // empty: none
  OAuthProvider provider;        // oauth2 without a command
  std::string client_id;
  std::string client_secret;  // empty: a public client
  std::string refresh_token;  // as stored (Windows: sealed)
};

// Reads and checks the sign-on settings. "Auth" is empty, `password` or
// `oauth2` (any case). With oauth2 and no "Password Command", "OAuth
// Provider" and "OAuth Client ID" must be set. False with a reason in
// Japanese otherwise; the reason never repeats a secret.
bool ReadSignOnSettings(const Settings& settings, SignOnSettings* out, std::string* reason);

// The provider "OAuth Provider" names: `microsoft`, `google` (any case) or
// an https:// token endpoint (its device endpoint, when any, comes from the
// server's metadata: FindDeviceEndpoint).
bool PickProvider(std::string_view value, OAuthProvider* out, std::string* reason);

// "application/x-www-form-urlencoded" text of `fields`.
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);

// A reply of an OAuth server: its HTTP status and JSON members.
struct OAuthReply {
  long status = 0;
  std::map<std::string, std::string> members;
};

// One HTTPS request (a POST of the form `fields`, or a GET when `fields` is
// empty) through libcurl: certificates verified, PINEMAIL_CA_FILE trusted
// when set, no redirects, at most kOAuthJsonLimit bytes of reply, a
// deadline of one minute. False with a reason when no JSON reply came.
using OAuthPoster = std::function<bool(
    const std::string& url, const std::vector<std::pair<std::string, std::string>>& fields,
    OAuthReply* reply, std::string* reason)>;
bool PostOAuth(const std::string& url,
               const std::vector<std::pair<std::string, std::string>>& fields, OAuthReply* reply,
               std::string* reason);

// The reason for a refused request: the server's "error" and
// "error_description" (controls blanked, cut to 300 characters), with every
// secret in `secrets` masked.
std::string OAuthRefusalReason(std::string_view head, const OAuthReply& reply,
                               const std::vector<std::string>& secrets);

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

// base64 (RFC 4648 4, "=" padding required) to bytes; false for anything else.
bool DecodeBase64(std::string_view text, std::string* bytes);
// base64url without padding (RFC 4648 5), as PKCE uses it.
std::string EncodeBase64Url(std::string_view bytes);
// SHA-256 of `bytes` (FIPS 180-4), for the PKCE S256 challenge.
std::string Sha256(std::string_view bytes);

// The refresh token kept in the settings file (token_store_<platform>.cpp):
// Windows seals it with DPAPI for the current user and stores base64; POSIX
// stores it as it is and keeps the file readable by its owner only.
bool SealToken(const std::string& token, std::string* stored, std::string* reason);
bool UnsealToken(const std::string& stored, std::string* token, std::string* reason);
bool RestrictToOwner(const std::string& path, std::string* reason);

// Seals `token`, writes it as "OAuth Refresh Token" into the settings file at
// `settings_path` and restricts the file to its owner.
bool StoreRefreshToken(const std::string& settings_path, const std::string& token,
                       std::string* reason);

// Runs "Password Command" (a ChildProcess: POSIX through /bin/sh -c, Windows
// without a shell or window). Its first line of output (at most 64 KiB are
// read; CR and LF removed) is the secret, taken as soon as it arrives. False
// with a reason in Japanese, never the output, when the command cannot start,
// has not ended within kPasswordCommandDeadline, exits with a status other
// than 0 or prints an empty first line. Whatever the command left running is
// ended with it.
bool RunPasswordCommand(const std::string& command, std::string* secret, std::string* reason);

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

// The code grant's steps that need no socket: the authorization URL for a
// verifier, state and redirect URI, and the request line's query read back.
std::string AuthorizationUrl(const SignOnSettings& settings, const std::string& verifier,
                             const std::string& state, const std::string& redirect_uri);
std::map<std::string, std::string> ReadQuery(std::string_view query);
// Random texts from the system's random source (SystemRandomBytes): a PKCE
// verifier (64 characters of base64url) and a state; empty when the system
// gave no random bytes.
std::string NewPkceVerifier();
std::string NewState();

// The whole /signin over the settings file at `settings_path`; the refresh
// token is stored there. False with a reason in Japanese.
bool SignIn(const std::string& settings_path, const SignInIo& io, std::string* reason);

}  // namespace pinemail
