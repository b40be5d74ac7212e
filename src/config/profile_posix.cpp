// Profile files on POSIX: the project's own reader and writer.
#include <memory>

#include "config/ini_file.h"
#include "config/profile.h"

namespace pinemail {

std::unique_ptr<Profile> OpenProfile(const std::string& path) {
  return std::make_unique<IniFileProfile>(path);
}

}  // namespace pinemail
