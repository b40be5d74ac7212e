// Tests for building the keyword table and substituting keywords in bodies.
#include "merge/keywords.h"

#include <gtest/gtest.h>

#include <string>
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

class SubstituteTest : public ::testing::Test {
 protected:
  void SetUp() override { Use("NAME,KEN,GOBI", {"Tanaka", "Hokkaido", "dabe"}); }

  void Use(std::string_view list, const std::vector<std::string>& values) {
    table_.Build(list);
    values_ = values;
  }

  std::string Substitute(std::string body) {
    SubstituteKeywords(body, table_, values_);
    return body;
  }

  KeywordTable table_;
  std::vector<std::string> values_;
};

TEST_F(SubstituteTest, ReplacesKeywords) {
  EXPECT_EQ(Substitute("%NAME%-san, how is the weather in %KEN% %GOBI%?"),
            "Tanaka-san, how is the weather in Hokkaido dabe?");
  EXPECT_EQ(Substitute("%NAME%%KEN%"), "TanakaHokkaido");
  EXPECT_EQ(Substitute("%NAME%\r\n%name% %NAME"), "Tanaka\r\n%name% %NAME");
}

TEST_F(SubstituteTest, StrayPercentPairsWithTheNextOne) {
  // "% off %" is a token without a key; "NAME%" is then plain text.
  EXPECT_EQ(Substitute("50% off %NAME%"), "50% off %NAME%");
  EXPECT_EQ(Substitute("5% %NAME% %KEN%"), "5% %NAME% %KEN%");
  EXPECT_EQ(Substitute("5% %%NAME%"), "5% %Tanaka");
  EXPECT_EQ(Substitute("%%NAME%"), "%%NAME%");
  EXPECT_EQ(Substitute("100%"), "100%");
}

TEST_F(SubstituteTest, InsertedValuesAreNotScannedAgain) {
  values_[0] = "100%";
  EXPECT_EQ(Substitute("%NAME% off %KEN%"), "100% off Hokkaido");
  values_[0] = "%KEN%";
  EXPECT_EQ(Substitute("%NAME%"), "%KEN%");
  values_[0] = "%";
  EXPECT_EQ(Substitute("%NAME%KEN%"), "%KEN%");
}

TEST_F(SubstituteTest, EmptyValueResumesRightAfterTheToken) {
  values_[0] = "";
  EXPECT_EQ(Substitute("[%NAME%%KEN%]"), "[Hokkaido]");
  EXPECT_EQ(Substitute("%NAME%%"), "%");
}

TEST_F(SubstituteTest, DoublePercentNeedsAnEmptyName) {
  EXPECT_EQ(Substitute("100%% sure"), "100%% sure");
  Use("NAME,,GOBI", {"Tanaka", "pct", "dabe"});
  EXPECT_EQ(Substitute("100%% sure, %NAME%"), "100pct sure, Tanaka");
}

TEST_F(SubstituteTest, KeysWithoutAValueGiveEmptyText) {
  Use("NAME,KEN,GOBI", {"Tanaka"});
  EXPECT_EQ(Substitute("[%NAME%|%KEN%|%GOBI%]"), "[Tanaka||]");
}

TEST_F(SubstituteTest, FirstOfDuplicateKeysWins) {
  Use("NAME,NAME", {"first", "second"});
  EXPECT_EQ(Substitute("%NAME%"), "first");
}

TEST_F(SubstituteTest, NameWithPercentNeverMatches) {
  Use("A%B", {"x"});
  EXPECT_EQ(Substitute("%A%B% %A%B%"), "%A%B% %A%B%");
}

TEST_F(SubstituteTest, BodyWithoutPercentIsUnchanged) {
  EXPECT_EQ(Substitute(""), "");
  EXPECT_EQ(Substitute("明けましておめでとう\r\n"), "明けましておめでとう\r\n");
}

TEST_F(SubstituteTest, DisabledTableChangesNothing) {
  table_.Build("");
  EXPECT_EQ(Substitute("%NAME% %%"), "%NAME% %%");
}

TEST_F(SubstituteTest, LongBodiesAndValues) {
  // Well past 32,765 characters before and after substitution.
  const std::string long_value(40000, 'v');
  values_[1] = long_value;
  std::string body;
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    body += "年%NAME%";
    expected += "年Tanaka";
  }
  body += "%KEN%";
  expected += long_value;
  EXPECT_EQ(Substitute(body), expected);
}

}  // namespace
}  // namespace pinemail
