// PKCE for the authorization code grant (RFC 7636): a verifier kept here, its
// S256 challenge sent ahead, and the state that ties the redirect to the
// request.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// Random texts from the system's random source (SystemRandomBytes): a PKCE
// verifier (64 characters of base64url) and a state; empty when the system
// gave no random bytes.
std::string NewPkceVerifier();
std::string NewState();

// The S256 challenge of `verifier`: its SHA-256 in base64url.
std::string PkceChallenge(std::string_view verifier);

// SHA-256 of `bytes` (FIPS 180-4).
std::string Sha256(std::string_view bytes);

}  // namespace pinemail
