// Record identities: repeated texts counted, the others left alone.
#include "batch/record_identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pinemail {
namespace {

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
  // A list saved in Shift-JIS reads the wave dash back as its look-alike.
  EXPECT_EQ(IdentityText(IdentityScheme::kRecordText, "a@x,A,t.txt,1〜3", "raw"),
            "a@x,A,t.txt,1～3");

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

}  // namespace
}  // namespace pinemail
