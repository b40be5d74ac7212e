// The path rule, the command-line split and the start decision over a fake
// file system.
#include "config/startup.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <set>
#include <string>
#include <string_view>

namespace pinemail {
namespace {

constexpr PathStyle kWin = PathStyle::kWindows;
constexpr PathStyle kPosix = PathStyle::kPosix;

TEST(ResolvePathTest, WindowsAbsoluteFormsStayUnchanged) {
  const std::string app = "C:\\Tools\\pm\\";
  EXPECT_EQ(ResolvePath("D:\\lists\\a.txt", app, kWin), "D:\\lists\\a.txt");
  EXPECT_EQ(ResolvePath("D:a.txt", app, kWin), "D:a.txt");
  // A colon anywhere counts, even where no drive letter could be.
  EXPECT_EQ(ResolvePath("list.txt:stream", app, kWin), "list.txt:stream");
  EXPECT_EQ(ResolvePath("\\\\server\\share\\a.txt", app, kWin), "\\\\server\\share\\a.txt");
  // Resolving twice changes nothing.
  std::string once = ResolvePath("a.txt", app, kWin);
  EXPECT_EQ(ResolvePath(once, app, kWin), once);
}

TEST(ResolvePathTest, WindowsEverythingElseIsAppendedAsItIs) {
  const std::string app = "C:\\Tools\\pm\\";
  EXPECT_EQ(ResolvePath("list.txt", app, kWin), "C:\\Tools\\pm\\list.txt");
  EXPECT_EQ(ResolvePath("\\root.txt", app, kWin), "C:\\Tools\\pm\\\\root.txt");
  EXPECT_EQ(ResolvePath("..\\up.txt", app, kWin), "C:\\Tools\\pm\\..\\up.txt");
  EXPECT_EQ(ResolvePath("\"my list.txt\"", app, kWin), "C:\\Tools\\pm\\\"my list.txt\"");
  EXPECT_EQ(ResolvePath(" padded ", app, kWin), "C:\\Tools\\pm\\ padded ");
  EXPECT_EQ(ResolvePath("/H", app, kWin), "C:\\Tools\\pm\\/H");
  // A single leading backslash is not a network path.
  EXPECT_EQ(ResolvePath("\\x\\y", app, kWin), "C:\\Tools\\pm\\\\x\\y");
}

TEST(ResolvePathTest, PosixOnlyASlashMakesAPathAbsolute) {
  const std::string app = "/opt/pm/";
  EXPECT_EQ(ResolvePath("/srv/a.txt", app, kPosix), "/srv/a.txt");
  EXPECT_EQ(ResolvePath("a.txt", app, kPosix), "/opt/pm/a.txt");
  EXPECT_EQ(ResolvePath("C:\\a.txt", app, kPosix), "/opt/pm/C:\\a.txt");
  EXPECT_EQ(ResolvePath("../a.txt", app, kPosix), "/opt/pm/../a.txt");
  EXPECT_EQ(ResolvePath("\\\\s\\a", app, kPosix), "/opt/pm/\\\\s\\a");
}

TEST(WithTrailingSeparatorTest, AddsTheSeparatorOnlyWhenMissing) {
  EXPECT_EQ(WithTrailingSeparator("C:\\Tools", kWin), "C:\\Tools\\");
  EXPECT_EQ(WithTrailingSeparator("C:\\", kWin), "C:\\");  // drive root
  EXPECT_EQ(WithTrailingSeparator("\\\\srv\\share\\", kWin), "\\\\srv\\share\\");
  EXPECT_EQ(WithTrailingSeparator("/opt/pm", kPosix), "/opt/pm/");
  EXPECT_EQ(WithTrailingSeparator("/", kPosix), "/");
  EXPECT_EQ(FolderSeparator(kWin), '\\');
  EXPECT_EQ(FolderSeparator(kPosix), '/');
}

TEST(ArgumentTextTest, SkipsTheProgramNameByTheWindowsRules) {
  EXPECT_EQ(ArgumentText("\"C:\\Program Files\\pm\\pinemail.exe\" list.txt"), "list.txt");
  EXPECT_EQ(ArgumentText("pinemail.exe list.txt"), "list.txt");
  EXPECT_EQ(ArgumentText("pinemail.exe"), "");
  EXPECT_EQ(ArgumentText("\"C:\\a b\\pinemail.exe\""), "");
  EXPECT_EQ(ArgumentText("\"C:\\a b\\pinemail.exe\"   "), "");
  EXPECT_EQ(ArgumentText(""), "");
  // Tabs separate like blanks; everything after is kept as given.
  EXPECT_EQ(ArgumentText("pinemail.exe\t \tlist.txt  /h "), "list.txt  /h ");
  EXPECT_EQ(ArgumentText("pm.exe \"my list.txt\""), "\"my list.txt\"");
  // The quoted name ends at its closing quote even without a blank after it.
  EXPECT_EQ(ArgumentText("\"pm.exe\"list.txt"), "list.txt");
  // An unquoted name may hold quotes; it ends at the first blank.
  EXPECT_EQ(ArgumentText("p\"m.exe a\" b"), "a\" b");
  // An unterminated quoted name swallows the whole line.
  EXPECT_EQ(ArgumentText("\"C:\\pm.exe list.txt"), "");
}

TEST(UpperCaseTextTest, UpperCasesAsciiAndKeepsJapanese) {
  EXPECT_EQ(UpperCaseText("list.txt /h"), "LIST.TXT /H");
  EXPECT_EQ(UpperCaseText("名簿リスト.txt"), "名簿リスト.TXT");
  EXPECT_EQ(UpperCaseText("ａｂｃｚ"), "ＡＢＣＺ");
  EXPECT_EQ(UpperCaseText(""), "");
}

TEST(SplitHomeOptionTest, TakesTheFolderOffTheFrontOfTheText) {
  struct Case {
    std::string_view text, folder, rest;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"--home D:\\Mail list.txt", "D:\\Mail", "list.txt"},
           {"--HOME\t mail  LIST.TXT /H", "mail", "LIST.TXT /H"},
           {"--home=mail list.txt", "mail", "list.txt"},
           {"--home \"C:\\My Mail\" list.txt", "C:\\My Mail", "list.txt"},
           {"--home=\"C:\\My Mail\"", "C:\\My Mail", ""},
           {"--home mail", "mail", ""},
           // No folder, or not the option: the text stays the command.
           {"--home", "", "--home"},
           {"--home ", "", "--home "},
           {"--home \"\" list.txt", "", "--home \"\" list.txt"},
           {"--homes x list.txt", "", "--homes x list.txt"},
           {"list.txt --home x", "", "list.txt --home x"},
           {" --home x list.txt", "", " --home x list.txt"},
       }) {
    const HomeOption option = SplitHomeOption(c.text);
    EXPECT_EQ(option.folder, c.folder) << c.text;
    EXPECT_EQ(option.rest, c.rest) << c.text;
  }
}

TEST(PickHomeTest, TheOptionThenTheEnvironmentThenTheProgramOrConfigFolder) {
  HomeSources posix;
  posix.current_folder = "/home/u/work";
  posix.program_folder = "/opt/pm/";
  posix.config_home = "/home/u/.config";
  struct Case {
    std::string option, environment;
    bool installed;
    HomeKind kind;
    std::string folder;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"", "", false, HomeKind::kProgramFolder, "/opt/pm/"},
           {"", "", true, HomeKind::kConfigHome, "/home/u/.config/pinemail/"},
           {"/srv/mail", "", true, HomeKind::kNamed, "/srv/mail/"},
           {"mail", "", false, HomeKind::kNamed, "/home/u/work/mail/"},
           {"../mail/", "", false, HomeKind::kNamed, "/home/u/work/../mail/"},
           {"", "/srv/env", true, HomeKind::kNamed, "/srv/env/"},
           {"", "env", false, HomeKind::kNamed, "/home/u/work/env/"},
           {"/srv/option", "/srv/env", false, HomeKind::kNamed, "/srv/option/"},
       }) {
    HomeSources sources = posix;
    sources.option = c.option;
    sources.environment = c.environment;
    sources.program_installed = c.installed;
    const Home home = PickHome(sources, kPosix);
    EXPECT_EQ(home.kind, c.kind) << c.option << "|" << c.environment;
    EXPECT_EQ(home.folder, c.folder) << c.option << "|" << c.environment;
  }
  // Installed, but no folder of the user's is known: the program folder, whose
  // failure to open the log then says what is wrong.
  posix.program_installed = true;
  posix.config_home.clear();
  EXPECT_EQ(PickHome(posix, kPosix).folder, "/opt/pm/");

  HomeSources windows;
  windows.program_folder = "C:\\PM";
  windows.current_folder = "D:\\Work\\";
  EXPECT_EQ(PickHome(windows, kWin).folder, "C:\\PM\\");
  windows.environment = "mail";
  EXPECT_EQ(PickHome(windows, kWin).folder, "D:\\Work\\mail\\");
  windows.option = "\\\\srv\\mail";
  EXPECT_EQ(PickHome(windows, kWin).folder, "\\\\srv\\mail\\");
}

// A file system that knows a fixed set of ordinary files and records what
// was looked up.
class FakeFileSystem : public FileSystemView {
 public:
  explicit FakeFileSystem(std::set<std::string> files) : files_(std::move(files)) {}
  bool IsOrdinaryFile(const std::string& path) const override {
    looked_up_.insert(path);
    return files_.count(path) > 0;
  }
  std::set<std::string> files_;
  mutable std::set<std::string> looked_up_;
};

StartInput WindowsInput(const std::string& text) {
  StartInput input;
  input.app_folder = "C:\\PM\\";
  input.command_text = text;
  input.upper_text = text;  // Windows hands over the upper-cased text as both
  return input;
}

StartInput PosixInput(const std::string& text) {
  StartInput input;
  input.app_folder = "/opt/pm/";
  input.command_text = text;
  input.upper_text = UpperCaseText(text);
  input.posix_help_words = true;
  return input;
}

TEST(DecideStartTest, HelpIsAskedForWithoutArgumentOrWithTheOption) {
  FakeFileSystem fs({"C:\\PM\\LIST.TXT", "/opt/pm/list.txt"});
  EXPECT_EQ(DecideStart(WindowsInput(""), fs, kWin).mode, StartMode::kHelpAsked);
  EXPECT_EQ(DecideStart(WindowsInput("LIST.TXT /H"), fs, kWin).mode, StartMode::kHelpAsked);
  EXPECT_EQ(DecideStart(WindowsInput("X /HELP ME"), fs, kWin).mode, StartMode::kHelpAsked);
  // The lower-case option matches through the upper-cased text; the list
  // exists but is not run.
  EXPECT_EQ(DecideStart(PosixInput("list.txt /h"), fs, kPosix).mode, StartMode::kHelpAsked);
  EXPECT_EQ(DecideStart(PosixInput("-h"), fs, kPosix).mode, StartMode::kHelpAsked);
  EXPECT_EQ(DecideStart(PosixInput("--help"), fs, kPosix).mode, StartMode::kHelpAsked);
  EXPECT_TRUE(fs.looked_up_.empty());
}

TEST(DecideStartTest, HelpWordsAreOnlyWholeTexts) {
  FakeFileSystem fs({});
  EXPECT_EQ(DecideStart(PosixInput("-h list.txt"), fs, kPosix).mode, StartMode::kListMissing);
  EXPECT_EQ(DecideStart(PosixInput("--HELP"), fs, kPosix).mode, StartMode::kListMissing);
  EXPECT_EQ(DecideStart(WindowsInput("/HX"), fs, kWin).mode, StartMode::kListMissing);
}

TEST(DecideStartTest, SlashOrDashHAloneIsTheHelpUnlessItNamesAList) {
  const StartInput inputs[] = {WindowsInput("/H"), WindowsInput("-H"), PosixInput("/h")};
  FakeFileSystem none({});
  FakeFileSystem lists({"C:\\PM\\/H", "C:\\PM\\-H", "/h"});
  for (const StartInput& input : inputs) {
    const PathStyle style = input.posix_help_words ? kPosix : kWin;
    EXPECT_EQ(DecideStart(input, none, style).mode, StartMode::kHelpAsked) << input.command_text;
    EXPECT_EQ(DecideStart(input, lists, style).mode, StartMode::kBatch) << input.command_text;
  }
}

TEST(DecideStartTest, AnExistingListStartsTheBatch) {
  FakeFileSystem fs({"C:\\PM\\LIST.TXT", "D:\\LISTS\\A.TXT", "/opt/pm/List.txt", "/srv/a.txt"});
  StartDecision relative = DecideStart(WindowsInput("LIST.TXT"), fs, kWin);
  EXPECT_EQ(relative.mode, StartMode::kBatch);
  EXPECT_EQ(relative.list_path, "C:\\PM\\LIST.TXT");
  EXPECT_EQ(DecideStart(WindowsInput("D:\\LISTS\\A.TXT"), fs, kWin).list_path, "D:\\LISTS\\A.TXT");
  // POSIX takes the path as typed, not upper-cased.
  StartDecision posix = DecideStart(PosixInput("List.txt"), fs, kPosix);
  EXPECT_EQ(posix.mode, StartMode::kBatch);
  EXPECT_EQ(posix.list_path, "/opt/pm/List.txt");
  EXPECT_EQ(DecideStart(PosixInput("/srv/a.txt"), fs, kPosix).mode, StartMode::kBatch);
}

TEST(DecideStartTest, MissingOrQuotedListsLeadToHelpWithTheResolvedPath) {
  FakeFileSystem fs({"C:\\PM\\MY LIST.TXT"});
  StartDecision quoted = DecideStart(WindowsInput("\"MY LIST.TXT\""), fs, kWin);
  EXPECT_EQ(quoted.mode, StartMode::kListMissing);
  EXPECT_EQ(quoted.list_path, "C:\\PM\\\"MY LIST.TXT\"");
  StartDecision missing = DecideStart(PosixInput("nowhere.txt"), fs, kPosix);
  EXPECT_EQ(missing.mode, StartMode::kListMissing);
  EXPECT_EQ(missing.list_path, "/opt/pm/nowhere.txt");
}

TEST(DecideStartTest, ResumeAndQuietOptionsAfterTheListAreTakenOffThePath) {
  FakeFileSystem fs({"C:\\PM\\LIST.TXT", "/opt/pm/list.txt", "/opt/pm/list.txt /resumed"});
  struct Case {
    StartInput input;
    PathStyle style;
    StartMode mode;
    const char* path;
    bool resume;
    bool quiet = false;
  } cases[] = {
      {WindowsInput("LIST.TXT /RESUME"), kWin, StartMode::kBatch, "C:\\PM\\LIST.TXT", true},
      {WindowsInput("LIST.TXT  /RESUME \t"), kWin, StartMode::kBatch, "C:\\PM\\LIST.TXT", true},
      {PosixInput("list.txt /Resume"), kPosix, StartMode::kBatch, "/opt/pm/list.txt", true},
      {PosixInput("list.txt --resume"), kPosix, StartMode::kBatch, "/opt/pm/list.txt", true},
      {PosixInput("list.txt"), kPosix, StartMode::kBatch, "/opt/pm/list.txt", false},
      // Only the whole word after a blank, at the end, and "--" only on POSIX.
      {PosixInput("list.txt /resumed"), kPosix, StartMode::kBatch, "/opt/pm/list.txt /resumed",
       false},
      {PosixInput("/resume"), kPosix, StartMode::kListMissing, "/resume", false},
      {WindowsInput("LIST.TXT --RESUME"), kWin, StartMode::kListMissing,
       "C:\\PM\\LIST.TXT --RESUME", false},
      {PosixInput("list.txt --RESUME"), kPosix, StartMode::kListMissing,
       "/opt/pm/list.txt --RESUME", false},
      {PosixInput("missing.txt /resume"), kPosix, StartMode::kListMissing, "/opt/pm/missing.txt",
       true},
      // Quiet too, in either order, each once.
      {WindowsInput("LIST.TXT /QUIET /RESUME"), kWin, StartMode::kBatch, "C:\\PM\\LIST.TXT", true,
       true},
      {PosixInput("list.txt --resume --quiet"), kPosix, StartMode::kBatch, "/opt/pm/list.txt", true,
       true},
      {PosixInput("list.txt /quiet /quiet"), kPosix, StartMode::kListMissing,
       "/opt/pm/list.txt /quiet", false, true},
  };
  for (const Case& c : cases) {
    const StartDecision decision = DecideStart(c.input, fs, c.style);
    EXPECT_EQ(decision.mode, c.mode) << c.input.command_text;
    EXPECT_EQ(decision.list_path, c.path) << c.input.command_text;
    EXPECT_EQ(decision.resume, c.resume) << c.input.command_text;
    EXPECT_EQ(decision.quiet, c.quiet) << c.input.command_text;
  }
  // The help option still wins.
  EXPECT_EQ(DecideStart(PosixInput("list.txt /resume /h"), fs, kPosix).mode, StartMode::kHelpAsked);
}

TEST(DecideStartTest, CheckPreviewAndTestAfterTheListChooseWhatTheRunDoes) {
  FakeFileSystem fs({"C:\\PM\\LIST.TXT", "/opt/pm/list.txt"});
  StartInput typed = WindowsInput("LIST.TXT /TEST TARO@EXAMPLE.JP /QUIET");
  typed.typed_text = "list.txt /test Taro@Example.jp /quiet";
  struct Case {
    StartInput input;
    PathStyle style;
    const char* path;
    RunKind kind;
    const char* address = "";
  } cases[] = {
      {WindowsInput("LIST.TXT /CHECK"), kWin, "C:\\PM\\LIST.TXT", RunKind::kCheck},
      {PosixInput("list.txt --preview --quiet"), kPosix, "/opt/pm/list.txt", RunKind::kPreview},
      {PosixInput("list.txt --test=a@b.jp"), kPosix, "/opt/pm/list.txt", RunKind::kTest, "a@b.jp"},
      {PosixInput("list.txt /Test  a@b.jp  /resume"), kPosix, "/opt/pm/list.txt", RunKind::kTest,
       "a@b.jp"},
      {typed, kWin, "C:\\PM\\LIST.TXT", RunKind::kTest, "Taro@Example.jp"},
      // One kind at most; /test needs its address; "--" only on POSIX.
      {PosixInput("list.txt /check /preview"), kPosix, "/opt/pm/list.txt /check",
       RunKind::kPreview},
      {PosixInput("list.txt /test"), kPosix, "/opt/pm/list.txt /test", RunKind::kSend},
      {WindowsInput("LIST.TXT --CHECK"), kWin, "C:\\PM\\LIST.TXT --CHECK", RunKind::kSend},
  };
  for (const Case& c : cases) {
    const StartDecision decision = DecideStart(c.input, fs, c.style);
    EXPECT_EQ(decision.list_path, c.path) << c.input.command_text;
    EXPECT_EQ(decision.kind, c.kind) << c.input.command_text;
    EXPECT_EQ(decision.test_address, c.address) << c.input.command_text;
  }
}

}  // namespace
}  // namespace pinemail
