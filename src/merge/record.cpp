// The recipient list's line rules, the field cutter and the record parser.
#include "merge/record.h"

#include "text/utf8.h"

namespace pinemail {

std::string_view PopField(std::string_view& remainder, char delimiter) {
  const std::size_t at = remainder.find(delimiter);
  if (at == std::string_view::npos) {
    std::string_view field = remainder;
    remainder = {};
    return field;
  }
  std::string_view field = remainder.substr(0, at);
  remainder.remove_prefix(at + 1);
  return field;
}

bool IsListMarked(std::string_view first_line) {
  return first_line.find(kListMark) != std::string_view::npos;
}

std::string_view RecordLine(std::string_view line) {
  std::string_view trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed.front() == '#') return {};
  return trimmed;
}

RecipientRecord ParseRecord(std::string_view line, const KeywordTable& table) {
  std::string_view remainder = line;
  RecipientRecord record;
  record.address = PopField(remainder, ',');
  record.display_name = PopField(remainder, ',');
  record.template_name = PopField(remainder, ',');
  record.values.reserve(table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    record.values.emplace_back(PopField(remainder, ','));
  }
  return record;
}

}  // namespace pinemail
