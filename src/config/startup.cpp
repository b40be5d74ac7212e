// The platform-independent half of start-up: the path rule, the command-line
// split and the choice between a batch run and the help window.
#include "config/startup.h"

#include "text/ascii.h"
#include "text/file_io.h"

namespace pinemail {

namespace {

bool IsArgumentGap(char c) { return c == ' ' || c == '\t'; }

bool IsAbsolute(std::string_view path, PathStyle style) {
  if (style == PathStyle::kPosix) return path.starts_with('/');
  // A drive letter, a device or a stream name all carry a colon somewhere;
  // two backslashes start a network path.
  return path.find(':') != std::string_view::npos || path.starts_with("\\\\");
}

std::string_view TrimGaps(std::string_view text) {
  while (!text.empty() && IsArgumentGap(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsArgumentGap(text.back())) text.remove_suffix(1);
  return text;
}

bool AsksForHelp(const StartInput& input) {
  if (input.upper_text.find(" /H") != std::string::npos) return true;
  if (input.command_text.empty()) return true;
  return input.posix_help_words && (input.command_text == "-h" || input.command_text == "--help");
}

// "/h" or "-h" alone has no blank before it, so the option test misses it
// and the text is a list path (the file "H" in the program's folder, or "/h"
// at the root). When no such list exists, whoever typed it wants the help:
// it is shown as asked for, not as a list that is missing.
bool IsHelpWordAlone(const StartInput& input) {
  const std::string_view alone = TrimGaps(input.upper_text);
  return alone == "/H" || alone == "-H";
}

// An option written after the list: " /name" in any case, on POSIX also
// " --name".
struct TrailingOption {
  std::string_view word;        // " /resume"
  std::string_view posix_word;  // " --resume"
};
constexpr TrailingOption kResumeOption{" /resume", " --resume"};
constexpr TrailingOption kQuietOption{" /quiet", " --quiet"};
constexpr TrailingOption kCheckOption{" /check", " --check"};
constexpr TrailingOption kPreviewOption{" /preview", " --preview"};

// Takes the option off the end of the command text, with the blanks before
// it; false when the text does not end in it.
bool TakeTrailingOption(std::string_view* command, const TrailingOption& option, bool posix_words) {
  std::string_view text = *command;
  while (!text.empty() && IsArgumentGap(text.back())) text.remove_suffix(1);
  const std::string_view word = option.word;
  if (text.size() >= word.size() && EqualsNoCase(text.substr(text.size() - word.size()), word)) {
    text.remove_suffix(word.size());
  } else if (posix_words && text.ends_with(option.posix_word)) {
    text.remove_suffix(option.posix_word.size());
  } else {
    return false;
  }
  while (!text.empty() && IsArgumentGap(text.back())) text.remove_suffix(1);
  *command = text;
  return true;
}

std::string_view TrimTrailingGaps(std::string_view text) {
  while (!text.empty() && IsArgumentGap(text.back())) text.remove_suffix(1);
  return text;
}

// " /at TIME" (any case; on POSIX also " --at TIME" and " --at=TIME") at
// the end of the command text: TIME is the last word. Takes the option off
// with TIME and the blanks before it; false when the text does not end in it.
bool TakeStartTime(std::string_view* command, bool posix_words, std::string* time) {
  const std::string_view text = TrimTrailingGaps(*command);
  const std::size_t gap = text.find_last_of(" \t");
  if (gap == std::string_view::npos) return false;
  const std::string_view word = text.substr(gap + 1);
  std::string_view rest = TrimTrailingGaps(text.substr(0, gap));
  constexpr std::string_view kJoined = "--at=";
  if (posix_words && word.starts_with(kJoined) && word.size() > kJoined.size()) {
    *time = std::string(word.substr(kJoined.size()));
    *command = rest;
    return true;
  }
  const std::string_view option = " /at";
  if (rest.size() >= option.size() &&
      EqualsNoCase(rest.substr(rest.size() - option.size()), option)) {
    rest.remove_suffix(option.size());
  } else if (posix_words && rest.ends_with(" --at")) {
    rest.remove_suffix(5);
  } else {
    return false;
  }
  *time = std::string(word);
  *command = TrimTrailingGaps(rest);
  return true;
}

// Takes " /test ADDRESS" (on POSIX also " --test=ADDRESS") off the end of
// the command text, with the blanks around it; false when the text does not
// end in it. ADDRESS is one word, kept in the case it was typed in.
bool TakeTestOption(std::string_view* command, const StartInput& input, std::string* address) {
  std::string_view text = *command;
  while (!text.empty() && IsArgumentGap(text.back())) text.remove_suffix(1);
  std::size_t start = text.size();
  while (start > 0 && !IsArgumentGap(text[start - 1])) --start;
  std::string_view value = text.substr(start);
  std::string_view rest = text.substr(0, start);
  constexpr std::string_view kPosixWord = "--test=";
  constexpr std::string_view kWord = " /test";
  if (input.posix_help_words && start > 0 && value.starts_with(kPosixWord)) {
    value.remove_prefix(kPosixWord.size());
  } else {
    while (!rest.empty() && IsArgumentGap(rest.back())) rest.remove_suffix(1);
    if (rest.size() < kWord.size() || !EqualsNoCase(rest.substr(rest.size() - kWord.size()), kWord))
      return false;
    rest.remove_suffix(kWord.size());
  }
  if (value.empty()) return false;
  // Windows upper-cases the command text; the address keeps its own case.
  const std::size_t offset = static_cast<std::size_t>(value.data() - input.command_text.data());
  const bool typed = input.typed_text.size() == input.command_text.size();
  *address = typed ? input.typed_text.substr(offset, value.size()) : std::string(value);
  while (!rest.empty() && IsArgumentGap(rest.back())) rest.remove_suffix(1);
  *command = rest;
  return true;
}

// Takes one option off the end of `command` into `decision`: each at most
// once, and one run kind at most.
bool TakeOneOption(std::string_view* command, const StartInput& input, StartDecision* decision) {
  const bool posix = input.posix_help_words;
  if (!decision->resume && TakeTrailingOption(command, kResumeOption, posix)) {
    decision->resume = true;
    return true;
  }
  if (!decision->quiet && TakeTrailingOption(command, kQuietOption, posix)) {
    decision->quiet = true;
    return true;
  }
  if (decision->start_at.empty() && TakeStartTime(command, posix, &decision->start_at)) {
    return true;
  }
  if (decision->kind != RunKind::kSend) return false;
  if (TakeTrailingOption(command, kCheckOption, posix)) {
    decision->kind = RunKind::kCheck;
  } else if (TakeTrailingOption(command, kPreviewOption, posix)) {
    decision->kind = RunKind::kPreview;
  } else if (TakeTestOption(command, input, &decision->test_address)) {
    decision->kind = RunKind::kTest;
  }
  return decision->kind != RunKind::kSend;
}

std::string_view SkipGaps(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsArgumentGap(text[pos])) ++pos;
  return text.substr(pos);
}

// The folder a named home means: relative names are taken from the current
// folder.
std::string NamedFolder(std::string_view name, const HomeSources& sources, PathStyle style) {
  std::string folder =
      ResolvePath(name, WithTrailingSeparator(sources.current_folder, style), style);
  return WithTrailingSeparator(std::move(folder), style);
}

}  // namespace

Home PickHome(const HomeSources& sources, PathStyle style) {
  if (!sources.option.empty()) {
    return {HomeKind::kNamed, NamedFolder(sources.option, sources, style)};
  }
  if (!sources.environment.empty()) {
    return {HomeKind::kNamed, NamedFolder(sources.environment, sources, style)};
  }
  if (sources.program_installed && !sources.config_home.empty()) {
    std::string folder = WithTrailingSeparator(sources.config_home, style) + "pinemail";
    return {HomeKind::kConfigHome, WithTrailingSeparator(std::move(folder), style)};
  }
  return {HomeKind::kProgramFolder, WithTrailingSeparator(sources.program_folder, style)};
}

HomeOption SplitHomeOption(std::string_view command_text) {
  constexpr std::string_view kName = "--home";
  HomeOption none{{}, std::string(command_text)};
  if (!StartsWithNoCase(command_text, kName)) return none;
  std::string_view value = command_text.substr(kName.size());
  if (value.starts_with('=')) {
    value.remove_prefix(1);
  } else if (!value.empty() && IsArgumentGap(value.front())) {
    value = SkipGaps(value);
  } else {
    return none;  // "--homes", "--home" alone
  }
  std::size_t end = 0;
  std::string folder;
  if (value.starts_with('"')) {
    std::size_t closing = value.find('"', 1);
    end = closing == std::string_view::npos ? value.size() : closing + 1;
    folder = value.substr(1, (closing == std::string_view::npos ? value.size() : closing) - 1);
  } else {
    while (end < value.size() && !IsArgumentGap(value[end])) ++end;
    folder = value.substr(0, end);
  }
  if (folder.empty()) return none;
  return {std::move(folder), std::string(SkipGaps(value.substr(end)))};
}

bool PrepareHome(const Home& home, std::string* reason) {
  // The executable's folder is there; whether it can be written shows when
  // the log is opened, as it always has.
  if (home.kind == HomeKind::kProgramFolder) return true;
  return MakeFolders(home.folder, reason, FolderAccess::kOwnerOnly);
}

char FolderSeparator(PathStyle style) { return style == PathStyle::kWindows ? '\\' : '/'; }

std::string ResolvePath(std::string_view path, std::string_view app_folder, PathStyle style) {
  if (IsAbsolute(path, style)) return std::string(path);
  std::string resolved(app_folder);
  resolved += path;
  return resolved;
}

std::string WithTrailingSeparator(std::string folder, PathStyle style) {
  char separator = FolderSeparator(style);
  if (folder.empty() || folder.back() != separator) folder += separator;
  return folder;
}

std::string_view ArgumentText(std::string_view command_line) {
  std::size_t pos = 0;
  if (command_line.starts_with('"')) {
    std::size_t closing = command_line.find('"', 1);
    pos = closing == std::string_view::npos ? command_line.size() : closing + 1;
  } else {
    while (pos < command_line.size() && !IsArgumentGap(command_line[pos])) ++pos;
  }
  while (pos < command_line.size() && IsArgumentGap(command_line[pos])) ++pos;
  return command_line.substr(pos);
}

StartDecision DecideStart(const StartInput& input, const FileSystemView& fs, PathStyle style) {
  StartDecision decision;
  std::string_view whole = input.command_text;
  while (!whole.empty() && IsArgumentGap(whole.back())) whole.remove_suffix(1);
  if (EqualsNoCase(whole, "/signin") || (input.posix_help_words && whole == "--signin")) {
    decision.mode = StartMode::kSignIn;
    return decision;
  }
  if (AsksForHelp(input)) return decision;
  std::string_view command = input.command_text;
  // Each option once, in any order.
  while (TakeOneOption(&command, input, &decision)) {
  }
  decision.list_path = ResolvePath(command, input.app_folder, style);
  if (fs.IsOrdinaryFile(decision.list_path)) {
    decision.mode = StartMode::kBatch;
  } else {
    decision.mode = IsHelpWordAlone(input) ? StartMode::kHelpAsked : StartMode::kListMissing;
  }
  return decision;
}

}  // namespace pinemail
