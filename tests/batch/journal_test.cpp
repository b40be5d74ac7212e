// The journal's lines, its reader over torn and foreign lines, and the
// record identities it names.
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

TEST(JournalScanTest, RunsOfTheListsFileNameWhateverTheLineEnds) {
  std::string journal =
      FormatJournalLine(Start(kRun, "/a/list.txt")) +
      FormatJournalLine(Sent(kRun, "/a/list.txt", 1, 0)) + "garbage\n" +
      FormatJournalLine(Sent(kOtherRun, "/a/other.txt", 9, 0)) +
      // A run whose start line was lost, resumed from another folder.
      FormatJournalLine(Sent(kOtherRun, "/b/list.txt", 3, 1)) +
      FormatJournalLine(Sent(kOtherRun, "/a/list.txt", 2, 0)) +
      FormatJournalLine(Sent(kOtherRun, "/a/list.txt", 5, 0)).substr(0, 30);  // torn
  const std::string crlf = "\xEF\xBB\xBF" + std::regex_replace(journal, std::regex("\n"), "\r\n");
  const std::string cr = std::regex_replace(journal, std::regex("\n"), "\r");
  // Fed whole and in pieces of every size, ended by LF, CR LF or CR: the same.
  for (const std::string& text : {journal, crlf, cr}) {
    for (std::size_t piece : {text.size(), std::size_t{1}, std::size_t{7}}) {
      JournalScan scan("/b/list.txt");
      for (std::size_t at = 0; at < text.size(); at += piece) {
        scan.Feed(std::string_view(text).substr(at, piece));
      }
      const std::vector<JournalRun> runs = scan.Finish();
      ASSERT_EQ(runs.size(), 2u);
      EXPECT_EQ(runs[0].run_id, kRun);
      EXPECT_EQ(runs[0].sent, (std::vector<RecordIdentity>{{1, 0}}));
      EXPECT_FALSE(runs[0].same_path);
      EXPECT_EQ(runs[1].run_id, kOtherRun);
      EXPECT_EQ(runs[1].sent, (std::vector<RecordIdentity>{{2, 0}, {3, 1}}));
      EXPECT_TRUE(runs[1].same_path);
      EXPECT_EQ(runs[1].newest_line, 6u);
      EXPECT_EQ(scan.bad_lines(), 2u);
      EXPECT_EQ(scan.first_bad_line(), 3u);
    }
  }
}

// Which run a /resume of /b/list.txt takes: lines of the journal in order,
// the list's records, and the run expected ("" for none).
TEST(ResumeSearchTest, TheNewestRunOfTheFileNameThatSentRecordsOfThisList) {
  const RecordIdentity a{LineHash("a"), 0}, b{LineHash("b"), 0}, z{LineHash("z"), 0};
  const std::string r1 = "1111111111111111", r2 = "2222222222222222", r3 = "3333333333333333";
  struct Case {
    std::vector<JournalEntry> lines;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{Start(r1, "/a/list.txt"), Sent(r1, "/a/list.txt", a.line_hash, 0)}, r1},  // moved
      {{Start(r1, "/b/list.txt")}, r1},                                           // sent nothing
      {{Sent(r1, "/b/list.txt", a.line_hash, 0), Sent(r2, "/b/list.txt", b.line_hash, 0)}, r2},
      // Another list of that name, newer: not taken.
      {{Sent(r1, "/a/list.txt", a.line_hash, 0), Sent(r2, "/c/list.txt", z.line_hash, 0)}, r1},
      {{Sent(r2, "/c/list.txt", z.line_hash, 0), Sent(r2, "/c/list.txt", a.line_hash, 0)}, ""},
      // The list's own path first, then the newest.
      {{Sent(r1, "/b/list.txt", a.line_hash, 0), Start(r2, "/c/list.txt")}, r1},
      {{Start(r1, "/a/list.txt"), Start(r2, "/c/list.txt"), Start(r3, "/a/list.txt")}, r3},
      {{Sent(r1, "/b/other.txt", a.line_hash, 0)}, ""},
      {{}, ""},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    JournalScan scan("/b/list.txt");
    for (const JournalEntry& line : c.lines) scan.Feed(FormatJournalLine(line));
    ResumeSearch search(scan.Finish());
    for (const std::string_view record : {"a", "b", "a"}) search.Record(record, "raw");
    const ResumePoint point = search.Choose();
    EXPECT_EQ(point.run_id, c.expected) << "case " << i;
    EXPECT_EQ(point.found(), !c.expected.empty());
  }
  // A pmj1 run knows its records by their lines' bytes.
  JournalEntry legacy = Sent(r1, "/a/list.txt", LineHash(" a "), 0);
  legacy.scheme = IdentityScheme::kLineBytes;
  JournalScan scan("/b/list.txt");
  scan.Feed(FormatJournalLine(legacy));
  ResumeSearch search(scan.Finish());
  EXPECT_TRUE(search.NeedsLineBytes());
  search.Record("a", " a ");
  const ResumePoint point = search.Choose();
  EXPECT_EQ(point.scheme, IdentityScheme::kLineBytes);
  EXPECT_TRUE(point.WasSent({LineHash(" a "), 0}));
}

TEST(RecordCounterTest, RepeatedLinesAreCountedAndOthersKeepTheirIdentity) {
  const std::vector<std::string> list = {"a@x,A,t.txt", "b@x,B,t.txt", "a@x,A,t.txt", "c@x,C,t.txt",
                                         "a@x,A,t.txt"};
  auto identities = [](const std::vector<std::string>& lines) {
    RecordCounter counter;
    for (const std::string& line : lines) counter.Survey(line);
    std::vector<RecordIdentity> found;
    for (const std::string& line : lines) found.push_back(counter.Next(line));
    return found;
  };
  const std::vector<RecordIdentity> found = identities(list);
  EXPECT_EQ(found[0], (RecordIdentity{LineHash("a@x,A,t.txt"), 0}));
  EXPECT_EQ(found[2], (RecordIdentity{LineHash("a@x,A,t.txt"), 1}));
  EXPECT_EQ(found[4], (RecordIdentity{LineHash("a@x,A,t.txt"), 2}));
  EXPECT_EQ(found[1], (RecordIdentity{LineHash("b@x,B,t.txt"), 0}));
  EXPECT_NE(LineHash("a@x,A,t.txt"), LineHash("a@x,A,t.txt "));

  // A line inserted in front changes no identity.
  std::vector<std::string> inserted = list;
  inserted.insert(inserted.begin(), "new@x,N,t.txt");
  const std::vector<RecordIdentity> after = identities(inserted);
  EXPECT_EQ(std::vector<RecordIdentity>(after.begin() + 1, after.end()), found);

  // Many distinct lines: none is taken for a repeat.
  RecordCounter counter;
  for (int i = 0; i < 100000; ++i) counter.Survey(std::to_string(i));
  for (int i = 0; i < 100000; ++i) ASSERT_EQ(counter.Next(std::to_string(i)).occurrence, 0u);
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
