// Loads the settings record from the settings file, creating the keys the
// user has to fill in.
#include "config/settings.h"

#include "text/codepage.h"

namespace pinemail {

std::string ReadSetting(Profile& profile, std::string_view section, std::string_view key,
                        bool create_if_missing) {
  std::string bytes = profile.Read(section, key);
  bytes.resize(bytes.find('\0') == std::string::npos ? bytes.size() : bytes.find('\0'));
  if (!bytes.empty()) {
    return profile.ValueEncoding() == TextEncoding::kCp932 ? DecodeCp932(bytes)
                                                           : DecodeSystemText(bytes);
  }
  // A key that reads as empty (missing, blank or "") is written back as
  // "key=" so that the file lists what the user has to fill in. A failed
  // write changes nothing for this run.
  if (create_if_missing) profile.Write(section, key, "");
  return {};
}

Settings LoadSettings(Profile& profile) {
  Settings settings;
  settings.user_name = ReadSetting(profile, kConfigSection, "User Name", true);
  settings.password = ReadSetting(profile, kConfigSection, kPasswordKey, true);
  settings.keyword_list = ReadSetting(profile, kConfigSection, "Subst Key Word", true);
  settings.SuppressBanner = ReadSetting(profile, kConfigSection, "NO_INSERT_TEXT", false) == "TRUE";
  settings.mail_server = ReadSetting(profile, kConfigSection, "Mail Server", false);
  settings.from = ReadSetting(profile, kConfigSection, "From", false);
  settings.send_rate = ReadSetting(profile, kConfigSection, "Send Rate", false);
  settings.messages_per_connection =
      ReadSetting(profile, kConfigSection, "Messages Per Connection", false);
  settings.daily_limit = ReadSetting(profile, kConfigSection, "Daily Limit", false);
  settings.auth = ReadSetting(profile, kConfigSection, "Auth", false);
  settings.oauth_provider = ReadSetting(profile, kConfigSection, "OAuth Provider", false);
  settings.oauth_client_id = ReadSetting(profile, kConfigSection, "OAuth Client ID", false);
  settings.oauth_client_secret = ReadSetting(profile, kConfigSection, "OAuth Client Secret", false);
  // A refresh token is ASCII and may be longer than a value the profile
  // reader hands over.
  settings.oauth_refresh_token = profile.ReadLong(kConfigSection, kRefreshTokenKey);
  settings.password_command = ReadSetting(profile, kConfigSection, "Password Command", false);
  settings.attach_keyword_list = ReadSetting(profile, kConfigSection, "Attach Key Word", false);
  return settings;
}

}  // namespace pinemail
