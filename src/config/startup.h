// Start-up: the program's folder, the command text, the help option, the path
// rule and the choice between a batch run and the help window.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// How paths are written on a platform.
enum class PathStyle {
  kWindows,  // drive letters, "\\" UNC prefixes, "\" separators
  kPosix,    // "/"-rooted absolute paths
};

#ifdef _WIN32
inline constexpr PathStyle kNativePathStyle = PathStyle::kWindows;
#else
inline constexpr PathStyle kNativePathStyle = PathStyle::kPosix;
#endif

// The folder separator that `AppFolder` ends in.
char FolderSeparator(PathStyle style);

// Turns a list or template name into a path: relative names mean the
// program's folder (`app_folder`, which ends in its separator). Windows: a
// path containing ":" or starting with two backslashes is returned unchanged.
// POSIX: a path starting with "/" is returned unchanged. Nothing else is
// examined (no trimming, no unquoting).
std::string ResolvePath(std::string_view path, std::string_view app_folder,
                        PathStyle style = kNativePathStyle);

// The path of a template that a list names: ResolvePath of the name. On
// POSIX, where a name is bytes, a name that nothing on disk has is also
// tried in CP932: files unpacked from an archive made on Japanese Windows
// keep their names' CP932 bytes (whatever encoding the list is read in).
std::string ResolveTemplatePath(std::string_view name, std::string_view app_folder);

// Appends the separator to a folder that does not end in one.
std::string WithTrailingSeparator(std::string folder, PathStyle style = kNativePathStyle);

// The existence test's view of the file system, so that tests can fake it.
class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  // True when `path` names an existing ordinary file (not a folder; on
  // Windows not hidden or system; a wildcard matching such a file passes).
  // Any error of the lookup counts as false.
  virtual bool IsOrdinaryFile(const std::string& path) const = 0;
};

// The platform's file system.
const FileSystemView& NativeFileSystem();

// Which folder plays the program folder's part (`AppFolder`): the settings,
// the log, the outbox and every relative list and template name.
enum class HomeKind {
  kProgramFolder,  // the executable's folder: a portable copy beside its files
  kNamed,          // `--home DIR` on the command line, else PINEMAIL_HOME
  kConfigHome,     // POSIX, nothing named and the program installed (its folder
                   // not writable, or the build's install folder): the user's
                   // $XDG_CONFIG_HOME/pinemail
};

struct Home {
  HomeKind kind = HomeKind::kProgramFolder;
  std::string folder;  // absolute, ending in its separator
};

// What the platform knows when the home is picked.
struct HomeSources {
  std::string option;              // DIR of `--home DIR`; empty when not given
  std::string environment;         // PINEMAIL_HOME; empty when unset
  std::string current_folder;      // what a relative DIR is taken relative to
  std::string program_folder;      // the executable's folder
  bool program_installed = false;  // POSIX: see kConfigHome
  std::string config_home;         // $XDG_CONFIG_HOME, else ~/.config; empty: unknown
};

// The home: the option, else the environment, else the program folder unless
// the program is installed and a config home is known, else
// config_home/pinemail. A relative DIR means the current folder, as it does
// for any option a user types.
Home PickHome(const HomeSources& sources, PathStyle style = kNativePathStyle);

// The `--home DIR` (or `--home=DIR`) option at the start of a Windows command
// text, the option name in any case: DIR ends at the first blank or tab, or
// is enclosed in double quotes (which are removed), as Windows passes a folder
// with blanks. Without a non-empty DIR there is no option. (POSIX takes the
// option off its arguments, where DIR is one argument.)
struct HomeOption {
  std::string folder;  // DIR; empty when there is no option
  std::string rest;    // the command text after the option and its blanks
};
HomeOption SplitHomeOption(std::string_view command_text);

// Makes the home ready for a run: a named home or the config home is created
// when missing, missing parents too, readable by the owner only (it will hold
// the password). False with the system's reason when it is not a folder or
// cannot be made.
bool PrepareHome(const Home& home, std::string* reason);

// What start-up decided.
enum class StartMode {
  kHelpAsked,    // no argument, " /H", (POSIX) -h / --help, or "/h" or "-h" alone naming
                 // no list file: exit 0
  kListMissing,  // an argument that names no usable list file: help, exit 2
  kBatch,        // run the batch over `list_path`
  kSignIn,       // "/signin" (any case; on POSIX also "--signin") as the whole text:
                 // obtain and store an OAuth 2.0 refresh token
};

// What a batch run does with the list.
enum class RunKind {
  kSend,     // sends every record's message
  kCheck,    // " /check": everything a run does but sending; the log names what would not go
  kPreview,  // " /preview": writes every message into preview/ in the home instead
  kTest,     // " /test ADDRESS": one message per template, to ADDRESS alone
};

struct StartDecision {
  StartMode mode = StartMode::kHelpAsked;
  // kBatch: what the run does; one of " /check", " /preview" and " /test
  // ADDRESS" (on POSIX also " --check", " --preview", " --test=ADDRESS")
  // after the list path, in any order with /resume and /quiet.
  RunKind kind = RunKind::kSend;
  std::string test_address;  // kTest: ADDRESS as typed
  // kBatch: the resolved list path (`ListPath`). kListMissing: the resolved
  // path that was looked for.
  std::string list_path;
  // " /resume" (any case; on POSIX also " --resume") ended the command text,
  // after the list path: run the list again, skipping what its last run sent.
  bool resume = false;
  // " /quiet" (on POSIX also " --quiet"), after the list path and before or
  // after /resume: the run shows no progress, no summary and no window.
  bool quiet = false;
  // " /at TIME" (on POSIX also " --at TIME", " --at=TIME"), after the list
  // path, in any order with the others: TIME as typed; empty without it.
  std::string start_at;
};

// What the platform hands to start-up.
struct StartInput {
  std::string app_folder;  // `AppFolder`, ending in its separator: the home's folder
  HomeKind home = HomeKind::kProgramFolder;  // where app_folder comes from
  // The argument text, as the path is taken from it: on POSIX the bytes as
  // given, since file names are bytes (a CP932 name must reach the file
  // system unchanged); decoded only where it is shown.
  std::string command_text;
  // The argument text decoded and upper-cased, for the option test.
  std::string upper_text;
  // The argument text in the case it was typed in, where command_text is
  // upper-cased (Windows); empty: command_text is as typed.
  std::string typed_text;
  // Accept "-h" and "--help" as the whole text, and "--resume" after the list.
  bool posix_help_words = false;
};

// Steps 3 to 8 of start-up over any input and file-system view.
StartDecision DecideStart(const StartInput& input, const FileSystemView& fs,
                          PathStyle style = kNativePathStyle);

// The argument part of a Windows command line: the program name skipped
// (quoted: up to the closing quote; unquoted: up to the first blank or tab),
// then the blanks and tabs after it; the rest exactly as given.
std::string_view ArgumentText(std::string_view command_line);

// The platform's upper-casing of UTF-8 text (Windows: the system's case
// mapping; POSIX: ASCII and full-width Latin letters).
std::string UpperCaseText(std::string_view text);

// The platform's start-up input: the home and the command text without the
// `--home DIR` option. POSIX: arguments joined by single blanks. Windows: the
// argument part of GetCommandLineW, upper-cased as the path too.
StartInput NativeStartInput(int argc, char** argv);

}  // namespace pinemail
