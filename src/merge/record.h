// The recipient list's line rules, the field cutter and the record parser.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "merge/keywords.h"

namespace pinemail {

inline constexpr std::string_view kListMark = "pinemail.exe";

// One record of the list.
struct RecipientRecord {
  std::string address;        // field 1
  std::string display_name;   // field 2
  std::string template_name;  // field 3, as written in the list
  // Fields 4 on: one value per keyword, in the keyword table's order.
  std::vector<std::string> values;
};

// Cuts the text before the first `delimiter` off `remainder` and returns it;
// the remainder becomes everything after the delimiter (empty when there is
// none). An empty remainder gives empty text.
std::string_view PopField(std::string_view& remainder, char delimiter);

// True when line 1 of a list marks it as made for this tool.
bool IsListMarked(std::string_view first_line);

// Applies the line rules to a list line after line 1: blanks trimmed, a
// comment or empty line gives empty text (to be skipped), else the record.
std::string_view RecordLine(std::string_view line);

// The record of a list line: fields 1 to 3, then one value for every keyword
// of `table` from field 4 on (empty when the line has too few fields; fields
// past the keywords are ignored).
RecipientRecord ParseRecord(std::string_view line, const KeywordTable& table);

}  // namespace pinemail
