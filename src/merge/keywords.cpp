// The keyword table and the substitution of %KEY% tokens in message bodies.
#include "merge/keywords.h"

#include <algorithm>
#include <utility>

#include "merge/record.h"
#include "text/utf8.h"

namespace pinemail {

void KeywordTable::Build(std::string_view list) {
  keys_.clear();
  first_with_key_.clear();
  if (list.empty()) return;

  // One key per comma-separated item, empty items included, so that the
  // values of a record line up with the names by position.
  const std::size_t count = static_cast<std::size_t>(std::count(list.begin(), list.end(), ',')) + 1;
  keys_.resize(count);
  first_with_key_.reserve(count);
  std::string_view remainder = list;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view name = TrimBlanks(PopField(remainder, ','));
    std::string& key = keys_[i];
    key.reserve(name.size() + 2);
    key += '%';
    key += name;
    key += '%';
    // emplace keeps an existing key, so the first of equal keys wins.
    first_with_key_.emplace(key, i);
  }
}

std::optional<std::size_t> KeywordTable::Find(std::string_view token) const {
  const auto found = first_with_key_.find(token);
  if (found == first_with_key_.end()) return std::nullopt;
  return found->second;
}

void BuildKeywordTable(std::string_view list, KeywordTable& table) { table.Build(list); }

void SubstituteKeywords(std::string& body, const KeywordTable& table,
                        const std::vector<std::string>& values) {
  if (!table.KeywordsEnabled()) return;
  static const std::string kNoValue;

  // A token runs from a "%" to the next "%" inclusive, or to the end of the
  // body when there is no next one. Each token is looked at once, in order,
  // and the scan always goes on right after it in the original body: an
  // inserted value is never scanned again, and an unmatched token is skipped
  // together with its closing "%". The result is built in a new string, so
  // the work is linear in the size of body and output.
  std::string out;
  std::size_t copied = 0;  // body[0, copied) is already in `out`
  bool replaced = false;
  std::size_t open = body.find('%');
  while (open != std::string::npos) {
    const std::size_t close = body.find('%', open + 1);
    const std::size_t end = close == std::string::npos ? body.size() : close + 1;
    if (const auto key = table.Find(std::string_view(body).substr(open, end - open))) {
      const std::string& value = *key < values.size() ? values[*key] : kNoValue;
      if (!replaced) {
        out.reserve(body.size() + value.size());
        replaced = true;
      }
      out.append(body, copied, open - copied);
      out += value;
      copied = end;
    }
    open = end < body.size() ? body.find('%', end) : std::string::npos;
  }
  if (!replaced) return;  // nothing matched: the body stays as it is
  out.append(body, copied, std::string::npos);
  body = std::move(out);
}

}  // namespace pinemail
