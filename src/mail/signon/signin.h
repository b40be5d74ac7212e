// `pinemail /signin`: obtains a refresh token once, interactively, and
// stores it in the settings file.
#pragma once

#include <string>

#include "mail/signon/oauth_grants.h"

namespace pinemail {

// The whole /signin over the settings file at `settings_path`, with the
// requests to the authorization server made by `post` (HttpsOAuthPoster);
// the refresh token is stored there. False with a reason in Japanese.
bool SignIn(const std::string& settings_path, const SignInIo& io, const OAuthPoster& post,
            std::string* reason);

}  // namespace pinemail
