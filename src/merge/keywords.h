// The keyword table and the substitution of %KEY% tokens in message bodies.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
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

  // The entries in table order. Callers change values only; the keys are fixed
  // by Build, which also indexes them.
  std::vector<KeywordEntry>& entries() { return entries_; }
  const std::vector<KeywordEntry>& entries() const { return entries_; }

  // The value of the first entry whose key equals `token`, or null. Constant
  // time on average, whatever the size of the table.
  const std::string* Find(std::string_view token) const;

 private:
  // Hashes std::string and std::string_view alike, so that a token can be
  // looked up without copying it.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>{}(key);
    }
  };

  std::vector<KeywordEntry> entries_;
  // Key -> position of the first entry with that key.
  std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> first_with_key_;
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
