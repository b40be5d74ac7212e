// The settings file: the log-on credentials, the keyword list, the banner
// switch and the mail transport keys.
#pragma once

#include <string>
#include <string_view>

#include "config/profile.h"

namespace pinemail {

inline constexpr std::string_view kConfigSection = "Config";
inline constexpr std::string_view kPasswordKey = "Password";
inline constexpr std::string_view kRefreshTokenKey = "OAuth Refresh Token";

struct Settings {
  std::string user_name;                // "User Name"
  std::string password;                 // "Password"
  std::string keyword_list;             // "Subst Key Word", as read (the run trims it)
  bool SuppressBanner = false;          // "NO_INSERT_TEXT" is exactly "TRUE"
  std::string mail_server;              // "Mail Server" (extension, never created)
  std::string from;                     // "From" (extension, never created)
  std::string send_rate;                // "Send Rate" (extension, never created)
  std::string messages_per_connection;  // "Messages Per Connection" (extension, never created)
  std::string daily_limit;              // "Daily Limit" (extension, never created)
  // Sign-on without a stored password (extensions, never created).
  std::string auth;                 // "Auth": empty or "password", or "oauth2"
  std::string oauth_provider;       // "OAuth Provider"
  std::string oauth_client_id;      // "OAuth Client ID"
  std::string oauth_client_secret;  // "OAuth Client Secret"
  std::string oauth_refresh_token;  // "OAuth Refresh Token", as stored (Windows: sealed)
  std::string password_command;     // "Password Command"
  // Keywords whose values name files to attach (extension, never created).
  std::string attach_keyword_list;  // "Attach Key Word"
};

// Reads one key (decoded to UTF-8). An empty value, when `create_if_missing`
// is set, is written back as "key=" (failures ignored).
std::string ReadSetting(Profile& profile, std::string_view section, std::string_view key,
                        bool create_if_missing);

// Reads "User Name", "Password", "Subst Key Word" (created when missing),
// then "NO_INSERT_TEXT", "Mail Server", "From", "Send Rate", "Messages Per
// Connection" and "Daily Limit", "Auth", "OAuth Provider", "OAuth Client ID", "OAuth Client
// Secret", "OAuth Refresh Token" (read whole, see Profile::ReadLong) and
// "Password Command" and "Attach Key Word" (never created).
Settings LoadSettings(Profile& profile);

}  // namespace pinemail
