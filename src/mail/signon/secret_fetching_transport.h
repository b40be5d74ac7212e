// A transport that fetches its secret at sign-on, from "Password Command" or
// as an access token exchanged for the stored refresh token ("Auth=oauth2"),
// and refreshes the token before it runs out.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "mail/signon/oauth_grants.h"
#include "mail/transport.h"

namespace pinemail {

// Wraps `inner`: SignOn gets the secret (the password given is not used),
// stores a rotated refresh token into the settings file at `settings_path`
// at once (the old one may no longer be valid, and a run that dies later
// must not lose the new one), then signs `inner` on with it. Every reason
// `inner` gives has the secrets masked. An access token lasts about an hour
// and a paced run longer: a Send in the token's last five minutes (by `now`)
// first gets a new one and signs `inner` on again with it.
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;
std::unique_ptr<MailTransport> MakeSecretFetchingTransport(
    std::unique_ptr<MailTransport> inner, SignOnSettings settings, std::string settings_path,
    OAuthPoster post, SteadyNow now = [] { return std::chrono::steady_clock::now(); });

}  // namespace pinemail
