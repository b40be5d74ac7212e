// Start-up input and the existence test on Windows.
#include <windows.h>

#include <climits>
#include <string>
#include <utility>

#include "config/startup.h"
#include "text/scoped_win32.h"
#include "text/wide_win32.h"

namespace pinemail {

namespace {

// Paths may exceed MAX_PATH (long-path aware systems); the buffer grows until
// the whole name fits.
std::wstring ModuleFileName() {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(name.size());
    DWORD copied = GetModuleFileNameW(nullptr, name.data(), size);
    if (copied == 0) return {};
    if (copied < size) {
      name.resize(copied);
      return name;
    }
    if (name.size() >= 32768 * 2) return {};
    name.resize(name.size() * 2);
  }
}

std::string AppFolder() {
  std::wstring exe = ModuleFileName();
  std::size_t backslash = exe.rfind(L'\\');
  std::wstring folder = backslash == std::wstring::npos ? exe : exe.substr(0, backslash + 1);
  return WithTrailingSeparator(WideToUtf8(folder), PathStyle::kWindows);
}

// The full path of a folder name: relative to the current folder, the
// current drive's root ("\mail") or a drive's current folder ("D:mail").
std::string FullPathName(const std::string& name) {
  if (name.empty()) return name;
  const std::wstring wide = Utf8ToWide(name);
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return name;
  std::wstring full(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (size == 0 || size >= full.size()) return name;
  full.resize(size);
  return WideToUtf8(full);
}

std::string EnvironmentText(const wchar_t* name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  size = GetEnvironmentVariableW(name, value.data(), size);
  if (size == 0 || size >= value.size()) return {};
  value.resize(size);
  return WideToUtf8(value);
}

// Windows keeps the program folder (a portable copy beside its files) unless
// a home is named.
Home NativeHome(const std::string& option) {
  HomeSources sources;
  sources.option = FullPathName(option);
  sources.environment = FullPathName(EnvironmentText(L"PINEMAIL_HOME"));
  sources.program_folder = AppFolder();
  return PickHome(sources, PathStyle::kWindows);
}

class Win32FileSystem : public FileSystemView {
 public:
  bool IsOrdinaryFile(const std::string& path) const override {
    if (path.empty()) return false;
    std::wstring wide = Utf8ToWide(path);
    if (wide.empty() || wide.find(L'\0') != std::wstring::npos) return false;
    // A drive without a medium must count as missing, not raise the system's
    // "insert a disk" box in an unattended run.
    DWORD old_mode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &old_mode);
    WIN32_FIND_DATAW entry;
    const ScopedFind search(FindFirstFileW(wide.c_str(), &entry));
    bool found = false;
    if (search.valid()) {
      constexpr DWORD kExcluded =
          FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
      do {
        found = (entry.dwFileAttributes & kExcluded) == 0;
      } while (!found && FindNextFileW(search.get(), &entry));
    }
    SetThreadErrorMode(old_mode, nullptr);
    return found;
  }
};

}  // namespace

std::string UpperCaseText(std::string_view text) {
  std::wstring wide = Utf8ToWide(text);
  if (wide.empty() || wide.size() > INT_MAX) return std::string(text);
  int length = static_cast<int>(wide.size());
  int count = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), length, nullptr, 0,
                            nullptr, nullptr, 0);
  if (count <= 0) return std::string(text);
  std::wstring upper(static_cast<std::size_t>(count), L'\0');
  LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), length, upper.data(), count,
                nullptr, nullptr, 0);
  return WideToUtf8(upper);
}

std::string ResolveTemplatePath(std::string_view name, std::string_view app_folder) {
  // Names on Windows are Unicode: the name as the list gives it is the name.
  return ResolvePath(name, app_folder, PathStyle::kWindows);
}

StartInput NativeStartInput(int /*argc*/, char** /*argv*/) {
  StartInput input;
  const wchar_t* command_line = GetCommandLineW();
  std::string utf8 = WideToUtf8(command_line == nullptr ? L"" : command_line);
  // The home keeps the case it was typed in: it may be a folder still to be
  // made.
  HomeOption option = SplitHomeOption(ArgumentText(utf8));
  Home home = NativeHome(option.folder);
  input.app_folder = std::move(home.folder);
  input.home = home.kind;
  // File names are case-insensitive here, so the upper-cased text serves as
  // the path as well.
  input.upper_text = UpperCaseText(option.rest);
  input.command_text = input.upper_text;
  input.typed_text = option.rest;
  input.posix_help_words = false;
  return input;
}

const FileSystemView& NativeFileSystem() {
  static const Win32FileSystem file_system;
  return file_system;
}

}  // namespace pinemail
