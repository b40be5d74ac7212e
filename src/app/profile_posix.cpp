// Profile files on POSIX: the project's own reader and writer.
#include <memory>

#include "app/ini_file.h"
#include "app/profile.h"

namespace pinemail {

std::unique_ptr<Profile> OpenProfile(const std::string& path) {
  return std::make_unique<IniFileProfile>(path);
}

}  // namespace pinemail
