// The settings file: the log-on credentials, the keyword list, the banner
// switch and the mail transport keys.
#pragma once

#include <string>
#include <string_view>

#include "config/profile.h"

namespace pinemail {

inline constexpr std::string_view kConfigSection = "Config";

struct Settings {
  std::string user_name;                // "User Name"
  std::string password;                 // "Password"
  std::string keyword_list;             // "Subst Key Word", as read (the run trims it)
  bool SuppressBanner = false;          // "NO_INSERT_TEXT" is exactly "TRUE"
  std::string mail_server;              // "Mail Server" (extension, never created)
  std::string from;                     // "From" (extension, never created)
  std::string send_rate;                // "Send Rate" (extension, never created)
  std::string messages_per_connection;  // "Messages Per Connection" (extension, never created)
};

// Reads one key (decoded to UTF-8). An empty value, when `create_if_missing`
// is set, is written back as "key=" (failures ignored).
std::string ReadSetting(Profile& profile, std::string_view section, std::string_view key,
                        bool create_if_missing);

// Reads "User Name", "Password", "Subst Key Word" (created when missing),
// then "NO_INSERT_TEXT", "Mail Server", "From", "Send Rate" and "Messages Per
// Connection" (never created).
Settings LoadSettings(Profile& profile);

}  // namespace pinemail
