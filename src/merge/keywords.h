// The keyword table and the substitution of %KEY% tokens in message bodies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pinemail {

struct KeywordEntry {
  std::string key;    // the name in percent signs, e.g. "%NAME%"
  std::string value;  // the current record's value
};

class KeywordTable {
 public:
  // Builds the table from the "Subst Key Word" list (already trimmed): one
  // entry per comma-separated name, each name trimmed and wrapped in "%".
  // An empty list leaves the table empty and disabled.
  void Build(std::string_view list);

  // True once the table has been built with at least one entry.
  bool KeywordsEnabled() const { return !entries_.empty(); }

  std::vector<KeywordEntry>& entries() { return entries_; }
  const std::vector<KeywordEntry>& entries() const { return entries_; }

  // The value of the first entry whose key equals `token`, or null.
  const std::string* Find(std::string_view token) const;

 private:
  std::vector<KeywordEntry> entries_;
};

// Same as KeywordTable::Build.
void BuildKeywordTable(std::string_view list, KeywordTable& table);

// Replaces the %KEY% tokens of `body` by the table's values in one pass:
// an unmatched token is skipped whole with its closing "%", an inserted value
// is never scanned again, "%%" is replaced only by an empty-named key, the
// first of equal keys wins. A body without "%" is unchanged. Does nothing when
// the table is disabled.
void SubstituteKeywords(std::string& body, const KeywordTable& table);

}  // namespace pinemail
