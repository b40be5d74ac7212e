// Start-up input and the existence test on POSIX systems.
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "config/startup.h"
#include "text/codepage.h"

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

namespace pinemail {

namespace {

// The running executable's path with symlinks resolved; empty when unknown.
std::string ExecutablePath(const char* argv0) {
  std::string raw;
#ifdef __APPLE__
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  raw.resize(size);
  if (_NSGetExecutablePath(raw.data(), &size) != 0) raw.clear();
  raw.resize(raw.empty() ? 0 : std::char_traits<char>::length(raw.c_str()));
#else
  raw = "/proc/self/exe";
#endif
  if (raw.empty() && argv0 != nullptr) raw = argv0;
  char* resolved = realpath(raw.c_str(), nullptr);
  if (resolved == nullptr && argv0 != nullptr) resolved = realpath(argv0, nullptr);
  if (resolved == nullptr) return {};
  std::string path(resolved);
  std::free(resolved);
  return path;
}

std::string CurrentFolder() {
  char* folder = getcwd(nullptr, 0);
  if (folder == nullptr) return "/";
  std::string path(folder);
  std::free(folder);
  return path;
}

std::string AppFolderOf(const char* argv0) {
  std::string exe = ExecutablePath(argv0);
  std::size_t slash = exe.rfind('/');
  // Without a known executable the current folder is the best absolute
  // stand-in: relative names must still resolve to an absolute path.
  std::string folder = slash == std::string::npos ? CurrentFolder() : exe.substr(0, slash + 1);
  return WithTrailingSeparator(folder, PathStyle::kPosix);
}

// The folder the build installs the executable into (GNUInstallDirs' full
// bin folder), e.g. /usr/bin for the Debian package.
#ifdef PINEMAIL_INSTALL_BINDIR
constexpr std::string_view kInstallFolder = PINEMAIL_INSTALL_BINDIR;
#else
constexpr std::string_view kInstallFolder = {};
#endif

// Installed: the executable's folder is not the user's to write, or it is
// the install folder, which root could write but must not litter.
bool IsInstalledFolder(const std::string& folder) {
  if (access(folder.c_str(), W_OK) != 0) return true;
  if (kInstallFolder.empty()) return false;
  char* install = realpath(std::string(kInstallFolder).c_str(), nullptr);
  if (install == nullptr) return false;
  const bool same = WithTrailingSeparator(install, PathStyle::kPosix) == folder;
  std::free(install);
  return same;
}

// An absolute value of an environment variable; empty otherwise.
std::string AbsoluteEnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// $XDG_CONFIG_HOME (only an absolute one counts), else ~/.config.
std::string ConfigHome() {
  std::string config = AbsoluteEnvironmentPath("XDG_CONFIG_HOME");
  if (!config.empty()) return config;
  std::string home = AbsoluteEnvironmentPath("HOME");
  if (home.empty()) {
    const struct passwd* user = getpwuid(getuid());
    if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') home = user->pw_dir;
  }
  return home.empty() ? std::string() : WithTrailingSeparator(home, PathStyle::kPosix) + ".config";
}

// Takes `--home DIR` or `--home=DIR` off the front of the arguments (a DIR is
// one argument, blanks and all); returns the index of the first argument
// after it.
int TakeHomeOption(int argc, char** argv, std::string* folder) {
  constexpr std::string_view kName = "--home";
  if (argc < 2) return 1;
  std::string_view first = argv[1];
  if (first == kName && argc > 2 && argv[2][0] != '\0') {
    *folder = argv[2];
    return 3;
  }
  if (first.starts_with("--home=") && first.size() > kName.size() + 1) {
    *folder = first.substr(kName.size() + 1);
    return 2;
  }
  return 1;
}

Home NativeHome(const char* argv0, std::string option) {
  HomeSources sources;
  sources.option = std::move(option);
  const char* environment = std::getenv("PINEMAIL_HOME");
  if (environment != nullptr) sources.environment = environment;
  sources.current_folder = CurrentFolder();
  sources.program_folder = AppFolderOf(argv0);
  sources.program_installed = IsInstalledFolder(sources.program_folder);
  sources.config_home = ConfigHome();
  return PickHome(sources, PathStyle::kPosix);
}

class PosixFileSystem : public FileSystemView {
 public:
  bool IsOrdinaryFile(const std::string& path) const override {
    if (path.empty()) return false;
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  }
};

}  // namespace

std::string UpperCaseText(std::string_view text) {
  std::string upper(text);
  for (std::size_t i = 0; i < upper.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(upper[i]);
    if (c >= 'a' && c <= 'z') {
      upper[i] = static_cast<char>(c - 'a' + 'A');
    } else if (c == 0xEF && i + 2 < upper.size() &&
               static_cast<unsigned char>(upper[i + 1]) == 0xBD) {
      // Full-width a..z (U+FF41..U+FF5A, EF BD 81..9A) become U+FF21..U+FF3A
      // (EF BC A1..BA).
      unsigned char last = static_cast<unsigned char>(upper[i + 2]);
      if (last >= 0x81 && last <= 0x9A) {
        upper[i + 1] = static_cast<char>(0xBC);
        upper[i + 2] = static_cast<char>(last + 0x20);
      }
      i += 2;
    }
  }
  return upper;
}

StartInput NativeStartInput(int argc, char** argv) {
  StartInput input;
  std::string option;
  const int first = TakeHomeOption(argc, argv, &option);
  Home home = NativeHome(argc > 0 ? argv[0] : nullptr, std::move(option));
  input.app_folder = std::move(home.folder);
  input.home = home.kind;
  std::string joined;
  for (int i = first; i < argc; ++i) {
    if (i > first) joined += ' ';
    joined += argv[i];
  }
  input.upper_text = UpperCaseText(DecodeSystemText(joined));
  input.command_text = std::move(joined);
  input.posix_help_words = true;
  return input;
}

std::string ResolveTemplatePath(std::string_view name, std::string_view app_folder) {
  std::string path = ResolvePath(name, app_folder, PathStyle::kPosix);
  struct stat info;
  if (lstat(path.c_str(), &info) == 0 || errno != ENOENT) return path;
  std::string cp932 = ResolvePath(EncodeCp932(name), app_folder, PathStyle::kPosix);
  if (cp932 == path || lstat(cp932.c_str(), &info) != 0) return path;
  return cp932;
}

const FileSystemView& NativeFileSystem() {
  static const PosixFileSystem file_system;
  return file_system;
}

}  // namespace pinemail
