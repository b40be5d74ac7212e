// The refresh token on Windows: sealed with DPAPI for the current user, so
// that a copy of the settings file is of no use to another account or
// machine, and stored as base64.
#include <windows.h>
// After windows.h, which it needs.
#include <dpapi.h>

#include "mail/signon/token_store.h"
#include "text/base64.h"
#include "text/scoped_win32.h"

namespace pinemail {
namespace {

DATA_BLOB BlobOf(const std::string& bytes) {
  return {static_cast<DWORD>(bytes.size()),
          reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

}  // namespace

bool SealToken(const std::string& token, std::string* stored, std::string* reason) {
  DATA_BLOB in = BlobOf(token);
  DATA_BLOB out = {};
  if (!CryptProtectData(&in, L"pinemail", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &out)) {
    *reason = "リフレッシュトークンを保護できません (CryptProtectData: " +
              std::to_string(GetLastError()) + ")";
    return false;
  }
  const LocalMemory<BYTE> owned(out.pbData);
  *stored = EncodeBase64(std::string_view(reinterpret_cast<char*>(out.pbData), out.cbData));
  return true;
}

bool UnsealToken(const std::string& stored, std::string* token, std::string* reason) {
  std::string sealed;
  DATA_BLOB out = {};
  if (DecodeBase64(stored, &sealed)) {
    DATA_BLOB in = BlobOf(sealed);
    if (CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                           &out)) {
      const LocalMemory<BYTE> owned(out.pbData);
      token->assign(reinterpret_cast<char*>(out.pbData), out.cbData);
      return true;
    }
  }
  *reason = "OAuth Refresh Token を復号できません (この利用者が /signin したものではありません)";
  return false;
}

// The settings file's folder decides who may read it on Windows; the token
// in it is sealed for this user.
bool RestrictToOwner(const std::string& /*path*/, std::string* /*reason*/) { return true; }

}  // namespace pinemail
