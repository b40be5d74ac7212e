// Tests for the list line rules, the field cutter and the record parser.
#include "merge/record.h"

#include <gtest/gtest.h>

#include <string>

namespace pinemail {
namespace {

TEST(PopField, CutsFieldsInOrderAndKeepsEmptyOnes) {
  std::string_view remainder = "a,,b c ,";
  EXPECT_EQ(PopField(remainder, ','), "a");
  EXPECT_EQ(remainder, ",b c ,");
  EXPECT_EQ(PopField(remainder, ','), "");  // starts with the delimiter
  EXPECT_EQ(remainder, "b c ,");
  EXPECT_EQ(PopField(remainder, ','), "b c ");
  EXPECT_EQ(remainder, "");  // the delimiter was the last character
  EXPECT_EQ(PopField(remainder, ','), "");
  EXPECT_EQ(remainder, "");
}

TEST(PopField, TextWithoutDelimiterIsOneField) {
  std::string_view remainder = "田中 太郎";
  EXPECT_EQ(PopField(remainder, ','), "田中 太郎");
  EXPECT_TRUE(remainder.empty());
}

TEST(IsListMarked, NeedsExactCaseSensitiveText) {
  EXPECT_TRUE(IsListMarked("pinemail.exe"));
  EXPECT_TRUE(IsListMarked("年賀 pinemail.exe list, New Year greetings"));
  EXPECT_FALSE(IsListMarked("PineMail.exe list"));
  EXPECT_FALSE(IsListMarked("pinemail.ex"));
  EXPECT_FALSE(IsListMarked("pinemail exe"));
  EXPECT_FALSE(IsListMarked(""));
}

TEST(RecordLine, TrimsBlanksButNotTabs) {
  EXPECT_EQ(RecordLine("  address-2, Sato ,t.txt  "), "address-2, Sato ,t.txt");
  EXPECT_EQ(RecordLine("　a,b,c　"), "a,b,c");  // ideographic spaces
  EXPECT_EQ(RecordLine("\ta,b,c\t"), "\ta,b,c\t");
  EXPECT_EQ(RecordLine("\t#not a comment"), "\t#not a comment");
}

TEST(RecordLine, SkipsCommentsAndEmptyLines) {
  EXPECT_EQ(RecordLine(""), "");
  EXPECT_EQ(RecordLine("   "), "");
  EXPECT_EQ(RecordLine(" 　 "), "");
  EXPECT_EQ(RecordLine("#family"), "");
  EXPECT_EQ(RecordLine("   #address-3,Suzuki,newyear.txt"), "");
  EXPECT_EQ(RecordLine("a,b#c,t.txt"), "a,b#c,t.txt");  // "#" elsewhere is text
}

class ParseRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { table_.Build("NAME,KEN,GOBI"); }

  void Parse(std::string_view line) { record_ = ParseRecord(line, table_); }
  std::string Value(std::size_t i) const { return record_.values.at(i); }

  RecipientRecord record_;
  KeywordTable table_;
};

TEST_F(ParseRecordTest, FillsRecordAndKeywordsInOrder) {
  Parse("address-1,Tanaka Taro,newyear.txt,Tanaka,Hokkaido,dabe");
  EXPECT_EQ(record_.address, "address-1");
  EXPECT_EQ(record_.display_name, "Tanaka Taro");
  EXPECT_EQ(record_.template_name, "newyear.txt");
  EXPECT_EQ(Value(0), "Tanaka");
  EXPECT_EQ(Value(1), "Hokkaido");
  EXPECT_EQ(Value(2), "dabe");
}

TEST_F(ParseRecordTest, FieldsKeepBlanksAndQuotesAreText) {
  Parse("address-2, Sato Hanako ,\"new year.txt\",\"Sato, Osaka");
  EXPECT_EQ(record_.display_name, " Sato Hanako ");
  EXPECT_EQ(record_.template_name, "\"new year.txt\"");
  EXPECT_EQ(Value(0), "\"Sato");
  EXPECT_EQ(Value(1), " Osaka");
}

TEST_F(ParseRecordTest, MissingFieldsAreEmptyAndNothingCarriesOver) {
  Parse("a,b,t.txt,1,2,3");
  Parse("a2,b2,t.txt,x");
  EXPECT_EQ(Value(0), "x");
  EXPECT_EQ(Value(1), "");
  EXPECT_EQ(Value(2), "");

  Parse("only-address");
  EXPECT_EQ(record_.address, "only-address");
  EXPECT_EQ(record_.display_name, "");
  EXPECT_EQ(record_.template_name, "");
  EXPECT_EQ(Value(0), "");
}

TEST_F(ParseRecordTest, SurplusFieldsAreIgnored) {
  Parse("a,b,t.txt,1,2,3,4,5");
  EXPECT_EQ(Value(2), "3");
  EXPECT_EQ(record_.values.size(), 3u);
}

TEST(ParseRecord, ThreeFieldsWithoutKeywords) {
  KeywordTable table;
  RecipientRecord record = ParseRecord("a,b,t.txt,extra", table);
  EXPECT_EQ(record.template_name, "t.txt");
  EXPECT_TRUE(record.values.empty());
}

TEST(ParseRecord, EndingCommaGivesEmptyValue) {
  KeywordTable table;
  table.Build("NAME");
  RecipientRecord record = ParseRecord("a,b,t.txt,", table);
  EXPECT_EQ(record.template_name, "t.txt");
  ASSERT_EQ(record.values.size(), 1u);
  EXPECT_EQ(record.values[0], "");
}

TEST(ParseRecord, LongLinesAndManyKeywords) {
  // Far beyond 32,765 characters and 32,767 keywords.
  constexpr std::size_t kCount = 40000;
  std::string list;
  std::string line = "a,";
  line.append(50000, 'n');
  line += ",t.txt";
  for (std::size_t i = 0; i < kCount; ++i) {
    if (i > 0) list += ',';
    list += 'K';
    list += std::to_string(i);
    line += ',';
    line += std::to_string(i);
  }
  KeywordTable table;
  table.Build(list);
  RecipientRecord record = ParseRecord(line, table);
  EXPECT_EQ(record.display_name.size(), 50000u);
  ASSERT_EQ(record.values.size(), kCount);
  EXPECT_EQ(record.values[kCount - 1], std::to_string(kCount - 1));
}

}  // namespace
}  // namespace pinemail
