// The help text must fit the help window's text box and a Shift-JIS system:
// CR LF lines of at most 88 bytes, only characters code page 932 has, the
// fixed values and the closing banner in place.
#include "ui/help_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/dry_runs.h"
#include "config/product.h"
#include "text/codepage.h"

namespace pinemail {
namespace {

std::vector<std::string> SplitCrLfLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(text.substr(start));  // unterminated: caught below
      break;
    }
    lines.emplace_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

TEST(HelpText, LinesEndWithCrLfAndFitTheShiftJisLimit) {
  const std::string_view text = HelpText();
  ASSERT_TRUE(text.ends_with("\r\n"));
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "lone LF at " << i;
    }
    if (text[i] == '\r') {
      EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "lone CR at " << i;
    }
  }
  const std::vector<std::string> lines = SplitCrLfLines(text);
  EXPECT_GE(lines.size(), 150u);
  EXPECT_LE(lines.size(), 200u);
  for (const std::string& line : lines) {
    const std::string sjis = EncodeCp932(line);
    EXPECT_LE(sjis.size(), 88u) << line;
    // A character the code page lacks would come back changed.
    EXPECT_EQ(DecodeCp932(sjis), line);
  }
}

TEST(HelpText, TheLfFormHasTheSameLines) {
  const std::string lf = HelpTextWithLfLines();
  EXPECT_EQ(lf.find('\r'), std::string::npos);
  std::string lines;
  for (const std::string& line : SplitCrLfLines(HelpText())) lines += line + "\n";
  EXPECT_EQ(lf, lines);
}

TEST(HelpText, StartsWithTheTitleAndEndsWithTheClosingBanner) {
  const std::vector<std::string> lines = SplitCrLfLines(HelpText());
  ASSERT_GE(lines.size(), 6u);
  EXPECT_NE(lines.front().find(kToolTitle), std::string::npos);
  EXPECT_NE(lines.front().find("概要"), std::string::npos);

  const std::string rule(37, '-');
  const std::vector<std::string> banner(lines.end() - 5, lines.end());
  EXPECT_EQ(banner[0], rule);
  EXPECT_EQ(banner[1], kSiteTitle);
  EXPECT_EQ(banner[2], "");
  EXPECT_EQ(banner[3], "URL : " + std::string(kSiteAddress));
  EXPECT_EQ(banner[4], rule);
}

TEST(HelpText, StatesTheFilesKeysAndLimitsItsRulesName) {
  const std::string_view text = HelpText();
  for (std::string_view needle :
       {"pinemail.exe", "pinemail.ini", "pinemail.log",
        "[Config]\r\nUser Name=\r\nPassword=\r\n"
        "Subst Key Word=NAME,KEN,GOBI\r\n",
        "NO_INSERT_TEXT=TRUE", "Mail Server", "From", "63", "「#」", " /H", "%%",
        "ログインに失敗しました。", "送信に失敗しました。", "MSMAPI32.OCX", "Outlook Express",
        "Send Rate", "Messages Per Connection", " /resume", "pinemail.journal",
        "送信を中断しました。(", "前回の実行で送信済みです。", "--home", "PINEMAIL_HOME",
        "$XDG_CONFIG_HOME/pinemail", "/check", "/preview", "/test", "確認を終えました。"}) {
    EXPECT_NE(text.find(needle), std::string_view::npos) << needle;
  }
  for (std::string_view line : {kCheckHeaderLine, kTestSubjectPrefix}) {
    EXPECT_NE(text.find(line), std::string_view::npos) << line;
  }
}

}  // namespace
}  // namespace pinemail
