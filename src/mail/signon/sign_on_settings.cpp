// Reads and checks the sign-on settings: "Auth", "Password Command" and the
// "OAuth ..." values, and the providers known by name.
#include "mail/signon/sign_on_settings.h"

#include "mail/signon/oauth.h"
#include "text/ascii.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

OAuthProvider MicrosoftProvider() {
  return {"https://login.microsoftonline.com/common/oauth2/v2.0/token",
          "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode",
          "https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
          "https://outlook.office.com/SMTP.Send offline_access"};
}

OAuthProvider GoogleProvider() {
  // Google's device grant does not cover the mail scope: the code grant.
  return {"https://oauth2.googleapis.com/token", "", "https://accounts.google.com/o/oauth2/v2/auth",
          "https://mail.google.com/"};
}

}  // namespace

bool PickProvider(std::string_view value, OAuthProvider* out, std::string* reason) {
  value = TrimBlanks(value);
  if (EqualsNoCase(value, "microsoft")) {
    *out = MicrosoftProvider();
  } else if (EqualsNoCase(value, "google")) {
    *out = GoogleProvider();
  } else if (StartsWithNoCase(value, "https://") && value.size() > 8 &&
             value.find_first_of(" \t\"<>") == std::string_view::npos) {
    *out = OAuthProvider{std::string(value), "", "", ""};
  } else {
    *reason = value.empty() ? "OAuth Provider が設定されていません"
                            : "OAuth Provider の値は microsoft、google または https:// で始まる "
                              "トークンのアドレスです";
    return false;
  }
  return true;
}

bool ReadSignOnSettings(const Settings& settings, SignOnSettings* out, std::string* reason) {
  SignOnSettings read;
  const std::string_view auth = TrimBlanks(settings.auth);
  if (EqualsNoCase(auth, "oauth2")) {
    read.oauth2 = true;
  } else if (!auth.empty() && !EqualsNoCase(auth, "password")) {
    *reason = "Auth の値は password か oauth2 です: " + ReasonText(auth);
    return false;
  }
  read.password_command = TrimBlanks(settings.password_command);
  read.client_id = TrimBlanks(settings.oauth_client_id);
  read.client_secret = TrimBlanks(settings.oauth_client_secret);
  read.refresh_token = TrimBlanks(settings.oauth_refresh_token);
  if (read.oauth2 && read.password_command.empty()) {
    if (!PickProvider(settings.oauth_provider, &read.provider, reason)) return false;
    if (read.client_id.empty()) {
      *reason = "OAuth Client ID が設定されていません";
      return false;
    }
  }
  *out = std::move(read);
  return true;
}

}  // namespace pinemail
