// Fuzzes the keyword substitution and compares it with the slow, literal
// model of the scan. Input: the keyword list, a line feed, the values
// separated by commas, a line feed, then the body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "merge/keywords.h"
#include "merge/record.h"
#include "merge/reference_scan.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

// The model rebuilds the body after every token, so it is quadratic; longer
// bodies add nothing that short ones with the same tokens do not cover.
constexpr std::size_t kMaxInput = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  // The text layer hands the merge valid UTF-8 only, and the model needs it.
  std::string input = pinemail::SanitizeUtf8(pinemail::fuzz::AsText(data, size));
  auto fields = pinemail::fuzz::SplitFields(input, '\n', 3);

  pinemail::KeywordTable table;
  pinemail::BuildKeywordTable(pinemail::TrimBlanks(fields[0]), table);
  std::string_view value_list = fields[1];
  std::vector<std::string> values;
  for (std::size_t i = 0; i < table.size(); ++i) {
    values.emplace_back(pinemail::PopField(value_list, ','));
  }

  const std::string original(fields[2]);
  std::string body = original;
  pinemail::SubstituteKeywords(body, table, values);
  const std::string reference = pinemail::testing::ReferenceScan(original, table.keys(), values);

  if (table.KeywordsEnabled() && original.find('%') == std::string::npos) {
    // The literal scan adds one "%" to a body without any; this program
    // leaves such a body unchanged.
    Check(body == original, "a body without a percent sign stays unchanged", original);
    Check(reference == original + "%", "the model adds one percent sign", original);
    return 0;
  }
  Check(body == reference, "substitution agrees with the literal scan", input);
  Check(pinemail::IsValidUtf8(body), "the substituted body is valid UTF-8", body);
  return 0;
}
