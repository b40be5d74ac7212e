// The refresh token kept in the settings file (token_store_<platform>.cpp):
// Windows seals it with DPAPI for the current user and stores base64; POSIX
// stores it as it is and keeps the file readable by its owner only.
#pragma once

#include <string>

namespace pinemail {

bool SealToken(const std::string& token, std::string* stored, std::string* reason);
bool UnsealToken(const std::string& stored, std::string* token, std::string* reason);
bool RestrictToOwner(const std::string& path, std::string* reason);

// Seals `token`, writes it as "OAuth Refresh Token" into the settings file at
// `settings_path` and restricts the file to its owner.
bool StoreRefreshToken(const std::string& settings_path, const std::string& token,
                       std::string* reason);

}  // namespace pinemail
