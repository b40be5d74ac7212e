// The refresh token on POSIX: kept as it is in the settings file, which only
// its owner may read or write.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "mail/signon/token_store.h"

namespace pinemail {

bool SealToken(const std::string& token, std::string* stored, std::string* /*reason*/) {
  *stored = token;
  return true;
}

bool UnsealToken(const std::string& stored, std::string* token, std::string* /*reason*/) {
  *token = stored;
  return true;
}

bool RestrictToOwner(const std::string& path, std::string* reason) {
  if (chmod(path.c_str(), S_IRUSR | S_IWUSR) == 0 || errno == ENOENT) return true;
  *reason = "設定ファイルの権限を変更できません: " + std::string(std::strerror(errno));
  return false;
}

}  // namespace pinemail
