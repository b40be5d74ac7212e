// The line rules: CR LF and lone CR end lines, a lone LF does not, blocks
// and long lines are invisible to the caller; the encoding is the file's.
#include "text/line_reader.h"

#include <gtest/gtest.h>

#include <vector>

#if !defined(_WIN32)
#include <unistd.h>

#include <thread>
#endif

#include "test_support.h"
#include "text/codepage_testing.h"
#include "text/file_io.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

class LineReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetSystemCodePageForTesting(); }

  // Every decoded line of a file holding `bytes`.
  std::vector<std::string> DecodedLines(std::string_view bytes) {
    std::FILE* file = Open(bytes);
    std::vector<std::string> lines;
    LineReader reader(file);
    std::string line;
    while (reader.Next(&line)) lines.push_back(line);
    std::fclose(file);
    return lines;
  }

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
    std::FILE* file = OpenFile(path, "rb", nullptr).release();
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

TEST_F(LineReaderTest, AUtf8ByteOrderMarkFixesUtf8ForTheFile) {
  SetSystemCodePageForTesting("932");
  EXPECT_EQ(DecodedLines("\xEF\xBB\xBF"
                         "先頭\r\n\x93\xFA\x96\x7B\r\n"),
            (Lines{"先頭", "\uFFFD\uFFFD\uFFFD{"}));
  EXPECT_EQ(DecodedLines("\x93\xFA\r\n\xEF\xBB\xBF"), (Lines{"日", "\uFFFDｻｿ"}));
}

// Under a UTF-8 code page the whole file decides, however far into it the
// first byte that is not UTF-8 stands: "ﾐｽﾞｷ" in CP932 is also valid UTF-8.
TEST_F(LineReaderTest, OneInvalidByteAnywhereMakesTheWholeFileCp932) {
  SetSystemCodePageForTesting("UTF-8");
  const std::string mizuki = "\xD0\xBD\xDE\xB7";
  const std::string filler(3 * LineReader::kBlockSize + 5, 'f');
  EXPECT_EQ(DecodedLines(mizuki + "\r\n" + filler + "\r\n\x93\xFA\x96\x7B"),
            (Lines{"ﾐｽﾞｷ", filler, "日本"}));
  // Without such a byte it is UTF-8, also where a character straddles blocks.
  const std::string straddling(LineReader::kBlockSize - 1, 's');
  EXPECT_EQ(DecodedLines(mizuki + "\r\n" + straddling + "あ"),
            (Lines{"\u043D\u07B7", straddling + "あ"}));
}

TEST_F(LineReaderTest, ReadsUtf16WithEitherByteOrderByTheSameLineRules) {
  const std::string text = "件名\r\n\r\na\nb\rc\U0001F600";
  const Lines lines = {"件名", "", "a\nb", "c\U0001F600"};
  for (const char* code_page : {"932", "UTF-8"}) {
    SetSystemCodePageForTesting(code_page);
    EXPECT_EQ(DecodedLines("\xFF\xFE" + Utf8ToUtf16(text, ByteOrder::kLittleEndian)), lines);
    EXPECT_EQ(DecodedLines("\xFE\xFF" + Utf8ToUtf16(text, ByteOrder::kBigEndian)), lines);
  }
  // A surrogate pair and a CR LF across block boundaries; an odd last byte.
  const std::string head(LineReader::kBlockSize / 2 - 2, 'x');
  const std::string tail(LineReader::kBlockSize / 2 - 2, 'y');
  const std::string utf16 =
      Utf8ToUtf16(head + "\U0001F600" + tail + "\r\nz", ByteOrder::kLittleEndian);
  ASSERT_EQ(utf16.find("\r\0\n") + 2, 2 * LineReader::kBlockSize - 2);  // LF opens block 3
  EXPECT_EQ(DecodedLines("\xFF\xFE" + utf16 + "!"), (Lines{head + "\U0001F600" + tail, "z\uFFFD"}));
}

TEST_F(LineReaderTest, StopsPastItsByteLimit) {
  for (std::uint64_t limit : {std::uint64_t{5}, std::uint64_t{LineReader::kBlockSize + 3}}) {
    const std::string fits(limit, 'a');
    for (const std::string& content : {fits, fits + "b"}) {
      std::FILE* file = Open(content);
      LineReader reader(file, limit);
      std::string line;
      std::size_t read = 0;
      while (reader.Next(&line)) read += line.size();
      EXPECT_EQ(reader.over_limit(), content.size() > limit);
      EXPECT_LE(read, limit);
      if (!reader.over_limit()) {
        EXPECT_EQ(read, content.size());
      }
      std::fclose(file);
    }
  }
}

#if !defined(_WIN32)
// A pipe cannot be read twice: its lines are decided one by one, and the
// first line that is not UTF-8 switches the rest to CP932.
TEST_F(LineReaderTest, AStreamThatCannotGoBackIsDecidedLineByLine) {
  SetSystemCodePageForTesting("UTF-8");
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const std::string content =
      "\xC3\xBD\r\n" + std::string(LineReader::kBlockSize, 'p') + "\r\n\x93\xFA\r\n\xC3\xBD";
  std::thread writer([&] {
    ASSERT_EQ(write(ends[1], content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(ends[1]);
  });
  std::FILE* file = fdopen(ends[0], "rb");
  LineReader reader(file);
  Lines lines;
  std::string line;
  while (reader.Next(&line)) lines.push_back(line);
  writer.join();
  std::fclose(file);
  EXPECT_EQ(lines, (Lines{"ý", std::string(LineReader::kBlockSize, 'p'), "日", "ﾃｽ"}));
}
#endif

TEST_F(LineReaderTest, ReadErrorEndsTheReading) {
  // A stream opened for writing cannot be read: every read fails.
  const File file = OpenFile(folder_ / "write-only.txt", "wb", nullptr);
  ASSERT_NE(file, nullptr);
  LineReader reader(file.get());
  std::string line;
  EXPECT_FALSE(reader.Next(&line));
  EXPECT_FALSE(reader.Next(&line));
}

}  // namespace
}  // namespace pinemail
