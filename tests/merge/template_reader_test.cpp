// Tests for reading message templates from files.
#include "merge/template_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "test_support.h"
#include "text/utf8.h"

namespace pinemail {
namespace {

// Without it, UTF-8 text reads as UTF-8 only where the system's code page is
// UTF-8.
const std::string kBom = "\xEF\xBB\xBF";

class ReadTemplateTest : public ::testing::Test {
 protected:
  // Writes `bytes` as a template and reads it; subject and body start out
  // holding markers so that untouched outputs can be told apart.
  bool Read(std::string_view bytes) {
    const std::string path = folder_ / "t.txt";
    testing::WriteBytes(path, bytes);
    return ReadPath(path);
  }

  bool ReadPath(const std::string& path) {
    subject_ = "old subject";
    body_ = "old body";
    return ReadTemplate(path, subject_, body_);
  }

  testing::ScratchFolder folder_;
  std::string subject_;
  std::string body_;
};

TEST_F(ReadTemplateTest, UnreadablePathsAreUnusable) {
  EXPECT_FALSE(ReadPath(folder_ / "missing.txt"));
  EXPECT_FALSE(ReadPath(folder_.path()));
  EXPECT_FALSE(ReadPath(folder_ / "no-such-folder/t.txt"));
  EXPECT_EQ(subject_, "old subject");
  EXPECT_EQ(body_, "old body");
}

TEST_F(ReadTemplateTest, EmptyFileIsUnusable) {
  EXPECT_FALSE(Read(""));
  EXPECT_EQ(subject_, "old subject");
}

TEST_F(ReadTemplateTest, OneLineIsUnusableButSetsSubject) {
  EXPECT_FALSE(Read("Subject only\r\n"));
  EXPECT_EQ(subject_, "Subject only");
  EXPECT_EQ(body_, "old body");
  EXPECT_FALSE(Read("No terminator"));
  EXPECT_EQ(subject_, "No terminator");
}

TEST_F(ReadTemplateTest, TwoLinesGiveEmptyBody) {
  EXPECT_TRUE(Read("Greetings\r\nseparator text is dropped\r\n"));
  EXPECT_EQ(subject_, "Greetings");
  EXPECT_EQ(body_, "");
  EXPECT_TRUE(Read("Greetings\r\n"
                   "\r"));  // a lone CR ends the second line too
  EXPECT_EQ(body_, "");
}

TEST_F(ReadTemplateTest, BodyLinesEachEndInCrLf) {
  EXPECT_TRUE(Read("S\r\n\r\nline 3\r\n\r\nline 5\r\n"));
  EXPECT_EQ(subject_, "S");
  EXPECT_EQ(body_, "line 3\r\n\r\nline 5\r\n");  // no extra line at the end
  EXPECT_TRUE(Read("S\r\n\r\nlast line without terminator"));
  EXPECT_EQ(body_, "last line without terminator\r\n");
  EXPECT_TRUE(Read("S\r\n\r\n\r\n"));  // an empty body line
  EXPECT_EQ(body_, "\r\n");
}

TEST_F(ReadTemplateTest, LoneCrEndsLinesLoneLfDoesNot) {
  EXPECT_TRUE(Read("S\rsep\ra\nb\rc"));
  EXPECT_EQ(subject_, "S");
  EXPECT_EQ(body_, "a\nb\r\nc\r\n");
}

TEST_F(ReadTemplateTest, SubjectIsCutAt63Characters) {
  std::string line;
  for (int i = 0; i < 70; ++i) line += i % 2 ? "賀" : "年";
  EXPECT_TRUE(Read(kBom + line + "\r\n\r\nbody\r\n"));
  EXPECT_EQ(subject_, line.substr(0, 63 * 3));
  EXPECT_TRUE(Read(std::string(63, 's') + "\r\n\r\n"));
  EXPECT_EQ(subject_.size(), 63u);
}

TEST_F(ReadTemplateTest, DecodesCp932AndUtf8WithBom) {
  // 件名 / ソ表 / 本文です in CP932; ソ and 表 end in the byte 0x5C.
  EXPECT_TRUE(Read("\x8C\x8F\x96\xBC\r\n\r\n\x83\x5C\x95\x5C\r\n\x96\x7B\x95\xB6\x82\xC5\x82\xB7\r\n"));
  EXPECT_EQ(subject_, "件名");
  EXPECT_EQ(body_, "ソ表\r\n本文です\r\n");

  EXPECT_TRUE(Read(kBom + "件名\r\n\r\n本文です\r\n"));
  EXPECT_EQ(subject_, "件名");
  EXPECT_EQ(body_, "本文です\r\n");
}

TEST_F(ReadTemplateTest, DecodesUtf16WithItsByteOrderMark) {
  // Notepad's "Unicode": UTF-16 LE after FF FE.
  EXPECT_TRUE(Read("\xFF\xFE" + Utf8ToUtf16("件名\r\n\r\n本文\r\n", ByteOrder::kLittleEndian)));
  EXPECT_EQ(subject_, "件名");
  EXPECT_EQ(body_, "本文\r\n");
}

TEST_F(ReadTemplateTest, FilesOverTheSizeLimitAreUnusable) {
  const std::string head = "S\r\n\r\n";
  const std::string largest = head + std::string(kTemplateSizeLimit - head.size(), 'b');
  EXPECT_TRUE(Read(largest));
  EXPECT_FALSE(Read(largest + "b"));
}

TEST_F(ReadTemplateTest, LargeBody) {
  std::string body;
  for (int i = 0; i < 5000; ++i) body += std::string(20, 'x') + "明けまして\r\n";
  const std::string long_line(100000, 'y');
  EXPECT_TRUE(Read(kBom + "S\r\n\r\n" + body + long_line));
  EXPECT_EQ(body_, body + long_line + "\r\n");
}

TEST(ReadTemplateFile, FolderIsUnusable) {
  // Where a folder opens as a file, its first read fails.
  testing::ScratchFolder folder;
  std::FILE* file = std::fopen(folder.path().c_str(), "rb");
  if (file == nullptr) GTEST_SKIP() << "folders do not open as files here";
  std::string subject;
  std::string body;
  EXPECT_FALSE(ReadTemplate(file, subject, body));
  std::fclose(file);
}

#if defined(__GLIBC__)
// A stream that yields `text` once and then fails every read, like a file on
// a device that goes away in the middle of the template.
ssize_t ReadThenFail(void* cookie, char* buffer, std::size_t size) {
  auto* text = static_cast<std::string*>(cookie);
  if (text->empty()) {
    errno = EIO;
    return -1;
  }
  const std::size_t count = std::min(size, text->size());
  text->copy(buffer, count);
  text->erase(0, count);
  return static_cast<ssize_t>(count);
}

TEST(ReadTemplateFile, ReadErrorAfterSomeLinesIsUnusable) {
  std::string text = "Subject\r\n\r\nfirst body line\r\n";
  cookie_io_functions_t functions{};
  functions.read = ReadThenFail;
  std::FILE* file = fopencookie(&text, "r", functions);
  ASSERT_NE(file, nullptr);
  std::string subject;
  std::string body;
  EXPECT_FALSE(ReadTemplate(file, subject, body));
  EXPECT_EQ(subject, "Subject");
  std::fclose(file);
}
#endif

}  // namespace
}  // namespace pinemail
