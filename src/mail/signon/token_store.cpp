// The refresh token in the settings file: sealed (token_store_<platform>.cpp)
// and written into a file that only its owner may read.
#include "mail/signon/token_store.h"

#include <memory>

#include "config/profile.h"
#include "config/settings.h"

namespace pinemail {

bool StoreRefreshToken(const std::string& settings_path, const std::string& token,
                       std::string* reason) {
  std::string stored;
  if (!SealToken(token, &stored, reason)) return false;
  std::unique_ptr<Profile> profile = OpenProfile(settings_path);
  // Owner only before the token goes in, and again after (a new file).
  RestrictToOwner(settings_path, reason);
  if (!profile || !profile->Write(kConfigSection, kRefreshTokenKey, stored) ||
      profile->ReadLong(kConfigSection, kRefreshTokenKey) != stored) {
    *reason = "リフレッシュトークンを設定ファイルに保存できません";
    return false;
  }
  return RestrictToOwner(settings_path, reason);
}

}  // namespace pinemail
