// The tool's fixed values, shown by the help window and carried by the banner
// of every message.
#pragma once

#include <string_view>

namespace pinemail {

inline constexpr std::string_view kToolTitle = "年賀メール一括送信";
inline constexpr std::string_view kSiteTitle = "pinemail 工房";
inline constexpr std::string_view kSiteAddress = "https://pinemail.example.org/";
inline constexpr std::string_view kExecutableName = "pinemail.exe";
inline constexpr std::string_view kVersionCaption = "Version Prototype";
inline constexpr std::string_view kSettingsFileName = "pinemail.ini";
inline constexpr std::string_view kLogFileName = "pinemail.log";

}  // namespace pinemail
