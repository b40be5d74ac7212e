// The sign-on settings: "Auth", "Password Command" and the "OAuth ..."
// values, checked, with the provider they name.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "config/settings.h"
#include "mail/signon/password_command.h"

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
  // How long the command may run; shorter under test (the transport factory
  // sets it).
  std::chrono::milliseconds command_time_limit{kPasswordCommandDeadline};
  OAuthProvider provider;  // oauth2 without a command
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
// server's metadata: DiscoverEndpoints).
bool PickProvider(std::string_view value, OAuthProvider* out, std::string* reason);

}  // namespace pinemail
