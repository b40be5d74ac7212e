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

  std::string Value(std::size_t i) const { return table_.entries()[i].value; }

  RecipientRecord record_;
  KeywordTable table_;
};

TEST_F(ParseRecordTest, FillsRecordAndKeywordsInOrder) {
  ParseRecord("address-1,Tanaka Taro,newyear.txt,Tanaka,Hokkaido,dabe", record_, table_);
  EXPECT_EQ(record_.address, "address-1");
  EXPECT_EQ(record_.display_name, "Tanaka Taro");
  EXPECT_EQ(record_.template_name, "newyear.txt");
  EXPECT_EQ(Value(0), "Tanaka");
  EXPECT_EQ(Value(1), "Hokkaido");
  EXPECT_EQ(Value(2), "dabe");
}

TEST_F(ParseRecordTest, FieldsKeepBlanksAndQuotesAreText) {
  ParseRecord("address-2, Sato Hanako ,\"new year.txt\",\"Sato, Osaka", record_, table_);
  EXPECT_EQ(record_.display_name, " Sato Hanako ");
  EXPECT_EQ(record_.template_name, "\"new year.txt\"");
  EXPECT_EQ(Value(0), "\"Sato");
  EXPECT_EQ(Value(1), " Osaka");
}

TEST_F(ParseRecordTest, MissingFieldsAreEmptyAndNothingCarriesOver) {
  ParseRecord("a,b,t.txt,1,2,3", record_, table_);
  ParseRecord("a2,b2,t.txt,x", record_, table_);
  EXPECT_EQ(Value(0), "x");
  EXPECT_EQ(Value(1), "");
  EXPECT_EQ(Value(2), "");

  ParseRecord("only-address", record_, table_);
  EXPECT_EQ(record_.address, "only-address");
  EXPECT_EQ(record_.display_name, "");
  EXPECT_EQ(record_.template_name, "");
  EXPECT_EQ(Value(0), "");
}

TEST_F(ParseRecordTest, SurplusFieldsAreIgnored) {
  ParseRecord("a,b,t.txt,1,2,3,4,5", record_, table_);
  EXPECT_EQ(Value(2), "3");
}

TEST(ParseRecord, ThreeFieldsWithoutKeywords) {
  KeywordTable table;
  RecipientRecord record;
  ParseRecord("a,b,t.txt,extra", record, table);
  EXPECT_EQ(record.template_name, "t.txt");
  EXPECT_TRUE(table.entries().empty());
}

TEST(ParseRecord, EndingCommaGivesEmptyValue) {
  KeywordTable table;
  table.Build("NAME");
  table.entries()[0].value = "old";
  RecipientRecord record;
  ParseRecord("a,b,t.txt,", record, table);
  EXPECT_EQ(record.template_name, "t.txt");
  EXPECT_EQ(table.entries()[0].value, "");
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
  RecipientRecord record;
  ParseRecord(line, record, table);
  EXPECT_EQ(record.display_name.size(), 50000u);
  ASSERT_EQ(table.entries().size(), kCount);
  EXPECT_EQ(table.entries()[kCount - 1].value, std::to_string(kCount - 1));
}

}  // namespace
}  // namespace pinemail
