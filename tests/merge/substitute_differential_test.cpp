// Checks the one-pass keyword substitution against the literal scan on many
// generated bodies and tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "merge/keywords.h"
#include "merge/reference_scan.h"

namespace pinemail {
namespace {

// Pieces are drawn with repetition, so the lists below weight "%" heavily and
// make names, tokens and duplicates likely to meet.
class Generator {
 public:
  explicit Generator(std::uint32_t seed) : random_(seed) {}

  std::string Body() {
    static const std::vector<std::string> kPieces = {
        "%", "%", "%", "%", "%%", "%%%", "N", "A", "NA", "%NA%", "%N%", "%%%NA%",
        "名", "前", "名前", "%名前%", " ", "　", "x", "\r\n", "50%", "%A%B%"};
    return Join(kPieces, Below(12));
  }

  // A keyword list: empty names, blanks around names, duplicates and names
  // holding "%" all occur. Rarely empty, which disables the table.
  std::string List() {
    if (Below(20) == 0) return "";
    static const std::vector<std::string> kNames = {
        "", "N", "NA", "A", "名前", " NA", "NA ", "　名前", "A%B", "%", "n", "  "};
    std::string list;
    const std::size_t count = 1 + Below(5);
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) list += ',';
      list += kNames[Below(kNames.size())];
    }
    return list;
  }

  std::string Value() {
    static const std::vector<std::string> kPieces = {"", "%", "%NA%", "100%", "値", "v", "%%", " "};
    return Join(kPieces, Below(4));
  }

 private:
  std::size_t Below(std::size_t bound) { return static_cast<std::size_t>(random_() % bound); }

  std::string Join(const std::vector<std::string>& pieces, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += pieces[Below(pieces.size())];
    return out;
  }

  std::mt19937 random_;
};

std::string Describe(const std::string& body, const std::string& list,
                     const std::vector<std::string>& values) {
  std::string text = "body: [" + body + "]\nlist: [" + list + "]\nvalues:";
  for (const std::string& value : values) text += " [" + value + "]";
  return text;
}

TEST(SubstituteKeywordsDifferential, MatchesLiteralScan) {
  constexpr int kRounds = 120000;
  constexpr int kBodiesPerTable = 4;
  Generator generate(20261207);
  int without_percent = 0;
  int changed = 0;
  KeywordTable table;
  std::vector<std::string> values;
  std::string list;
  for (int round = 0; round < kRounds; ++round) {
    if (round % kBodiesPerTable == 0) {
      list = generate.List();
      table.Build(list);
    }
    values.clear();
    for (std::size_t i = 0; i < table.size(); ++i) values.push_back(generate.Value());
    const std::string body = generate.Body();

    std::string ours = body;
    SubstituteKeywords(ours, table, values);
    const std::string reference = testing::ReferenceScan(body, table.keys(), values);

    if (table.KeywordsEnabled() && body.find('%') == std::string::npos) {
      // The literal scan adds a "%" to such a body; ours leaves it alone.
      ++without_percent;
      ASSERT_EQ(reference, body + "%") << "round " << round;
      ASSERT_EQ(ours, body) << "round " << round;
      continue;
    }
    if (ours != body) ++changed;
    ASSERT_EQ(ours, reference) << "round " << round << "\n" << Describe(body, list, values);
  }
  // The generator must actually exercise both paths and real replacements.
  EXPECT_GT(without_percent, kRounds / 100);
  EXPECT_GT(changed, kRounds / 10);
}

}  // namespace
}  // namespace pinemail
