// The line rules: CR LF and lone CR end lines, a lone LF does not, blocks
// and long lines are invisible to the caller.
#include "text/line_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"
#include "text/codepage_testing.h"
#include "text/file_io.h"

namespace pinemail {
namespace {

class LineReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetSystemCodePageForTesting(); }

  // Every raw line of a file holding `bytes`.
  std::vector<std::string> RawLines(std::string_view bytes) {
    std::FILE* file = Open(bytes);
    std::vector<std::string> lines;
    LineReader reader(file);
    std::string line;
    while (reader.NextRaw(&line)) lines.push_back(line);
    EXPECT_FALSE(reader.NextRaw(&line));  // the end stays the end
    std::fclose(file);
    return lines;
  }

  std::FILE* Open(std::string_view bytes) {
    const std::string path = folder_ / "lines.txt";
    testing::WriteBytes(path, bytes);
    std::FILE* file = OpenFile(path, "rb", nullptr);
    EXPECT_NE(file, nullptr);
    return file;
  }

  testing::ScratchFolder folder_;
};

using Lines = std::vector<std::string>;

TEST_F(LineReaderTest, SplitsAtCrLfAndLoneCrOnly) {
  EXPECT_EQ(RawLines(""), Lines{});
  EXPECT_EQ(RawLines("abc"), Lines{"abc"});
  EXPECT_EQ(RawLines("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(RawLines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(RawLines("a\rb\r"), (Lines{"a", "b"}));
  EXPECT_EQ(RawLines("a\nb\r\nc\n"), (Lines{"a\nb", "c\n"}));
  EXPECT_EQ(RawLines("\n"), Lines{"\n"});
  EXPECT_EQ(RawLines("\r\n\r\n"), (Lines{"", ""}));
  EXPECT_EQ(RawLines("a\r\r\nb\n\r"), (Lines{"a", "", "b\n"}));
}

TEST_F(LineReaderTest, TerminatorsAcrossTheBlockBoundary) {
  const std::string head(LineReader::kBlockSize - 1, 'x');
  EXPECT_EQ(RawLines(head + "\r\ny"), (Lines{head, "y"}));
  EXPECT_EQ(RawLines(head + "\r"), Lines{head});
  EXPECT_EQ(RawLines(head + "\rz"), (Lines{head, "z"}));
  EXPECT_EQ(RawLines(head + "x\r\n"), Lines{head + "x"});
}

TEST_F(LineReaderTest, ReadsTenMegabyteLinesWhole) {
  const std::string huge(10 * 1024 * 1024 + 7, 'm');
  const Lines lines = RawLines(huge + "\r\n" + huge + "\nend");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], huge);
  EXPECT_EQ(lines[1], huge + "\nend");
}

TEST_F(LineReaderTest, NextDecodesWithOneDecoderPerFile) {
  SetSystemCodePageForTesting("UTF-8");
  std::FILE* file = Open(
      "\xEF\xBB\xBF"
      "先頭\r\n\x93\xFA\x96\x7B\r\n");
  LineReader reader(file);
  std::string line;
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "先頭");
  ASSERT_TRUE(reader.Next(&line));
  EXPECT_EQ(line, "\uFFFD\uFFFD\uFFFD{");  // a BOM fixes UTF-8 for the file
  EXPECT_FALSE(reader.Next(&line));
  std::fclose(file);
}

TEST_F(LineReaderTest, ReadErrorEndsTheReading) {
  // A stream opened for writing cannot be read: every read fails.
  std::FILE* file = OpenFile(folder_ / "write-only.txt", "wb", nullptr);
  ASSERT_NE(file, nullptr);
  LineReader reader(file);
  std::string line;
  EXPECT_FALSE(reader.Next(&line));
  EXPECT_FALSE(reader.Next(&line));
  std::fclose(file);
}

}  // namespace
}  // namespace pinemail
