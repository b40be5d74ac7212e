// Tests for building the keyword table and substituting keywords in bodies.
#include "merge/keywords.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace pinemail {
namespace {

std::vector<std::string> Keys(const KeywordTable& table) { return table.keys(); }

TEST(KeywordTableBuild, EmptyListLeavesTableDisabled) {
  KeywordTable table;
  BuildKeywordTable("", table);
  EXPECT_FALSE(table.KeywordsEnabled());
  EXPECT_TRUE(table.keys().empty());
}

TEST(KeywordTableBuild, NamesAreTrimmedAndWrapped) {
  KeywordTable table;
  BuildKeywordTable("NAME, KEN ,　名前　,\tTAB", table);
  EXPECT_TRUE(table.KeywordsEnabled());
  EXPECT_EQ(Keys(table), (std::vector<std::string>{"%NAME%", "%KEN%", "%名前%", "%\tTAB%"}));
}

TEST(KeywordTableBuild, EmptyItemsGiveEmptyNamedKeys) {
  KeywordTable table;
  table.Build("NAME,,GOBI");
  EXPECT_EQ(Keys(table), (std::vector<std::string>{"%NAME%", "%%", "%GOBI%"}));
  table.Build("NAME, ,");  // a rebuild replaces the old entries
  EXPECT_EQ(Keys(table), (std::vector<std::string>{"%NAME%", "%%", "%%"}));
  table.Build(",");
  EXPECT_EQ(Keys(table), (std::vector<std::string>{"%%", "%%"}));
}

TEST(KeywordTableFind, FirstEqualKeyWinsAndCaseCounts) {
  KeywordTable table;
  table.Build("NAME,KEN,NAME");
  ASSERT_TRUE(table.Find("%NAME%").has_value());
  EXPECT_EQ(*table.Find("%NAME%"), 0u);
  EXPECT_EQ(table.Find("%name%"), std::nullopt);
  EXPECT_EQ(table.Find("NAME"), std::nullopt);
  EXPECT_EQ(table.Find("%%"), std::nullopt);
}

TEST(KeywordTableFind, FindsEveryKeyAtItsPosition) {
  KeywordTable table;
  table.Build("A,B");
  EXPECT_EQ(*table.Find("%A%"), 0u);
  EXPECT_EQ(*table.Find("%B%"), 1u);
}

// One substitution: the keyword list, the record's values, the body and
// what it becomes.
struct SubstituteCase {
  const char* name;
  const char* list;
  std::vector<std::string> values;
  const char* body;
  const char* expected;
};

const std::vector<std::string> kValues = {"Tanaka", "Hokkaido", "dabe"};

std::string Substitute(std::string_view list, const std::vector<std::string>& values,
                       std::string body) {
  KeywordTable table;
  table.Build(list);
  SubstituteKeywords(body, table, values);
  return body;
}

TEST(SubstituteTest, KeywordsInBodies) {
  const SubstituteCase cases[] = {
      {"replaces", "NAME,KEN,GOBI", kValues, "%NAME%-san, how is the weather in %KEN% %GOBI%?",
       "Tanaka-san, how is the weather in Hokkaido dabe?"},
      {"adjacent", "NAME,KEN,GOBI", kValues, "%NAME%%KEN%", "TanakaHokkaido"},
      {"case counts", "NAME,KEN,GOBI", kValues, "%NAME%\r\n%name% %NAME", "Tanaka\r\n%name% %NAME"},
      // A stray "%" pairs with the next one: "% off %" is a token without a
      // key, and "NAME%" is then plain text.
      {"stray percent", "NAME,KEN,GOBI", kValues, "50% off %NAME%", "50% off %NAME%"},
      {"stray percent, two keys", "NAME,KEN,GOBI", kValues, "5% %NAME% %KEN%", "5% %NAME% %KEN%"},
      {"stray percent, double", "NAME,KEN,GOBI", kValues, "5% %%NAME%", "5% %Tanaka"},
      {"leading double", "NAME,KEN,GOBI", kValues, "%%NAME%", "%%NAME%"},
      {"trailing percent", "NAME,KEN,GOBI", kValues, "100%", "100%"},
      // Inserted values are not scanned again.
      {"value with percent",
       "NAME,KEN,GOBI",
       {"100%", "Hokkaido"},
       "%NAME% off %KEN%",
       "100% off Hokkaido"},
      {"value is a key", "NAME,KEN,GOBI", {"%KEN%", "Hokkaido"}, "%NAME%", "%KEN%"},
      {"value is a percent", "NAME,KEN,GOBI", {"%", "Hokkaido"}, "%NAME%KEN%", "%KEN%"},
      // An empty value resumes right after its token.
      {"empty value", "NAME,KEN,GOBI", {"", "Hokkaido"}, "[%NAME%%KEN%]", "[Hokkaido]"},
      {"empty value, percent after", "NAME,KEN,GOBI", {"", "Hokkaido"}, "%NAME%%", "%"},
      // "%%" needs an empty name in the list.
      {"double percent unnamed", "NAME,KEN,GOBI", kValues, "100%% sure", "100%% sure"},
      {"double percent named",
       "NAME,,GOBI",
       {"Tanaka", "pct", "dabe"},
       "100%% sure, %NAME%",
       "100pct sure, Tanaka"},
      {"keys without a value", "NAME,KEN,GOBI", {"Tanaka"}, "[%NAME%|%KEN%|%GOBI%]", "[Tanaka||]"},
      {"first duplicate wins", "NAME,NAME", {"first", "second"}, "%NAME%", "first"},
      {"name with percent", "A%B", {"x"}, "%A%B% %A%B%", "%A%B% %A%B%"},
      {"empty body", "NAME,KEN,GOBI", kValues, "", ""},
      {"no percent", "NAME,KEN,GOBI", kValues, "明けましておめでとう\r\n",
       "明けましておめでとう\r\n"},
      {"disabled table", "", kValues, "%NAME% %%", "%NAME% %%"},
  };
  for (const SubstituteCase& c : cases) {
    EXPECT_EQ(Substitute(c.list, c.values, c.body), c.expected) << c.name;
  }
}

TEST(SubstituteTest, LongBodiesAndValues) {
  // Well past 32,765 characters before and after substitution.
  const std::string long_value(40000, 'v');
  const std::vector<std::string> values = {"Tanaka", long_value};
  std::string body;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    body += "年%NAME%";
    expected += "年Tanaka";
  }
  body += "%KEN%";
  expected += long_value;
  EXPECT_EQ(Substitute("NAME,KEN,GOBI", values, body), expected);
}

}  // namespace
}  // namespace pinemail
