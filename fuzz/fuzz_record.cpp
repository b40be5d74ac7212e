// Fuzzes a list line through the line rules and the record parser.
// Input: the keyword list, a line feed, then the list line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "merge/keywords.h"
#include "merge/record.h"
#include "text/utf8.h"

using pinemail::fuzz::Check;

namespace {

bool IsBlankAt(std::string_view text, bool front) {
  constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  return front ? (text.starts_with(' ') || text.starts_with(kIdeographicSpace))
               : (text.ends_with(' ') || text.ends_with(kIdeographicSpace));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto fields = pinemail::fuzz::SplitFields(pinemail::fuzz::AsText(data, size), '\n', 2);
  std::string_view list = fields[0];
  std::string_view line = fields[1];

  pinemail::KeywordTable table;
  pinemail::BuildKeywordTable(list, table);
  const std::size_t expected_entries =
      list.empty() ? 0 : static_cast<std::size_t>(std::count(list.begin(), list.end(), ',')) + 1;
  Check(table.size() == expected_entries, "one key per comma-separated name", list);
  for (const std::string& key : table.keys()) {
    Check(key.size() >= 2 && key.front() == '%' && key.back() == '%',
          "keys are wrapped in percent signs", key);
    Check(table.Find(key).has_value(), "every key can be found", key);
  }

  std::string_view record_line = pinemail::RecordLine(line);
  if (record_line.empty()) return 0;
  // The record is the line without its outer blanks: a piece of it, never
  // a comment, never starting or ending in a blank.
  Check(record_line.data() >= line.data() &&
            record_line.data() + record_line.size() <= line.data() + line.size(),
        "the record lies inside the line", line);
  Check(record_line.front() != '#', "comment lines are skipped", line);
  Check(!IsBlankAt(record_line, true) && !IsBlankAt(record_line, false), "blanks are trimmed",
        line);

  // A plain comma split of the record, to compare the parser with.
  std::vector<std::string_view> pieces;
  std::string_view rest = record_line;
  for (;;) {
    std::size_t comma = rest.find(',');
    pieces.push_back(rest.substr(0, comma));
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  auto piece = [&](std::size_t i) { return i < pieces.size() ? pieces[i] : std::string_view(); };

  const pinemail::RecipientRecord record = pinemail::ParseRecord(record_line, table);
  Check(record.address == piece(0), "field 1 is the address", record_line);
  Check(record.display_name == piece(1), "field 2 is the display name", record_line);
  Check(record.template_name == piece(2), "field 3 is the template", record_line);
  Check(record.values.size() == table.size(), "one value per keyword", record_line);
  for (std::size_t i = 0; i < record.values.size(); ++i) {
    Check(record.values[i] == piece(3 + i), "keyword values come from field 4 on", record_line);
  }
  return 0;
}
