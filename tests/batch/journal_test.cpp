// The journal's lines and its reader over torn and foreign lines.
#include "batch/journal.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace pinemail {
namespace {

using namespace std::string_literals;

const std::string kRun = "0123456789abcdef";
const std::string kOtherRun = "fedcba9876543210";

JournalEntry Start(const std::string& run, const std::string& path) {
  JournalEntry entry;
  entry.run_id = run;
  entry.list_path = path;
  return entry;
}

JournalEntry Sent(const std::string& run, const std::string& path, std::uint64_t hash,
                  std::uint32_t occurrence, const std::string& message_id = "m@x") {
  JournalEntry entry = Start(run, path);
  entry.kind = JournalEntry::Kind::kSent;
  entry.record = {hash, occurrence};
  entry.message_id = message_id;
  return entry;
}

TEST(JournalLineTest, EveryPathAndMessageIdComesBackByteForByte) {
  EXPECT_EQ(FormatJournalLine(Sent(kRun, "/home/太郎/list.txt", 0x1f, 2)),
            "pmj2\tsent\t0123456789abcdef\t000000000000001f\t2\tm@x\t/home/太郎/list.txt\n");
  JournalEntry legacy = Start(kRun, "C:\\年賀\\LIST.TXT");
  legacy.scheme = IdentityScheme::kLineBytes;
  EXPECT_EQ(FormatJournalLine(legacy), "pmj1\tstart\t0123456789abcdef\tC:\\\\年賀\\\\LIST.TXT\n");
  for (const std::string& path :
       {"a\tb\nc\rd\\e"s, "\x83\x65\x83X\x83g.txt"s, "nul\0x\x7f"s, "\\x41\\t"s, "-"s}) {
    for (const JournalEntry& entry : {Start(kRun, path), Sent(kRun, path, ~0ull, 4294967295u, ""),
                                      Sent(kOtherRun, "/l", 7, 0, path), legacy}) {
      const std::string line = FormatJournalLine(entry);
      ASSERT_EQ(line.find('\n'), line.size() - 1) << line;
      ASSERT_EQ(line.find('\r'), std::string::npos) << line;
      JournalEntry parsed;
      ASSERT_TRUE(ParseJournalLine(std::string_view(line).substr(0, line.size() - 1), &parsed))
          << line;
      EXPECT_EQ(parsed.kind, entry.kind);
      EXPECT_EQ(parsed.scheme, entry.scheme);
      EXPECT_EQ(parsed.run_id, entry.run_id);
      EXPECT_EQ(parsed.list_path, entry.list_path);
      EXPECT_EQ(parsed.record, entry.record);
      EXPECT_EQ(parsed.message_id, entry.message_id);
    }
  }
}

TEST(JournalLineTest, ForeignAndTornLinesAreRefused) {
  for (const std::string& line : {
           ""s,
           "pmj3\tstart\t0123456789abcdef\t/l"s,
           "pmj1\tstart\t0123456789ABCDEX\t/l"s,
           "pmj1\tstart\t0123456789abcde\t/l"s,
           "pmj1\tstart\t0123456789abcdef\t"s,
           "pmj1\tstart\t0123456789abcdef"s,
           "pmj1\tstart\t0123456789abcdef\t/l\textra"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t2\tm@x"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t-2\tm@x\t/l"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t4294967296\tm@x\t/l"s,
           "pmj1\tsent\t0123456789abcdef\t1f\t2\tm@x\t/l"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t2\t\t/l"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t2\tm@x\t/l\\"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t2\tm@x\t/l\\q"s,
           "pmj1\tsent\t0123456789abcdef\t000000000000001f\t2\tm@x\t/l\\x4"s,
           "pmj1\tstart\t0123456789abcdef\t/l\r"s,
           "pmj1\tbegin\t0123456789abcdef\t/l"s,
       }) {
    JournalEntry entry;
    EXPECT_FALSE(ParseJournalLine(line, &entry)) << line;
  }
}

// Which run a /resume of /b/list.txt, whose records are a, b, a, takes from
// a journal of these lines (after a foreign line, before a torn one): "" for
// none. The same with CR LF and a byte-order mark, fed in pieces.
TEST(ResumeSearchTest, TheNewestRunOfTheFileNameThatSentRecordsOfThisList) {
  const std::uint64_t a = LineHash("a"), b = LineHash("b"), z = LineHash("z");
  const std::string r1(16, '1'), r2(16, '2');
  const std::vector<std::pair<std::vector<JournalEntry>, std::string>> cases = {
      {{Start(r1, "/a/list.txt"), Sent(r1, "/a/list.txt", a, 1)}, r1},       // the folder moved
      {{Start(r1, "/b/list.txt")}, r1},                                      // nothing sent yet
      {{Sent(r1, "/b/list.txt", a, 0), Sent(r2, "/b/list.txt", b, 0)}, r2},  // starts lost
      {{Sent(r1, "/a/list.txt", a, 0), Sent(r2, "/c/list.txt", z, 0)}, r1},  // r2: another list
      {{Sent(r2, "/c/list.txt", z, 0), Sent(r2, "/c/list.txt", a, 0)}, ""},
      {{Sent(r1, "/b/list.txt", a, 0), Start(r2, "/c/list.txt")}, r1},  // its own path first
      {{Start(r1, "/b/list.txt"), Start(r2, "/c/list.txt")}, r1},
      {{Start(r1, "/a/list.txt"), Start(r2, "/c/list.txt")}, r2},
      {{Sent(r1, "/b/other.txt", a, 0)}, ""}};
  for (const auto& [lines, expected] : cases) {
    std::string journal = "garbage\n";
    for (const JournalEntry& line : lines) journal += FormatJournalLine(line);
    for (const std::string& text :
         {journal + "pmj2\tst",
          "\xEF\xBB\xBF" + std::regex_replace(journal, std::regex("\n"), "\r\n")}) {
      JournalScan scan("/b/list.txt");
      for (std::size_t at = 0; at < text.size(); at += 7) scan.Feed(text.substr(at, 7));
      ResumeSearch search(scan.Finish());
      for (const std::string_view record : {"a", "b", "a"}) search.Record(record, "raw");
      EXPECT_EQ(search.Choose().run_id, expected) << text;
      EXPECT_EQ(scan.first_bad_line(), 1u);
    }
  }
}

TEST(JournalKeyTest, MessageKeyAndRunIdAreDotAtomsOfHexDigits) {
  EXPECT_EQ(MessageKey(kRun, {0xabc, 3}), "0123456789abcdef.0000000000000abc.3");
  const std::string id = NewRunId();
  EXPECT_EQ(id.size(), 16u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(NewRunId(), id);
}

}  // namespace
}  // namespace pinemail
