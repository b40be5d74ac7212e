// The keyword table and the substitution of %KEY% tokens in message bodies.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pinemail {

// The keywords of a run, from the "Subst Key Word" setting: their names in
// percent signs ("%NAME%"), in list order. A record's values line up with
// them by position (ParseRecord); the table itself holds no values.
class KeywordTable {
 public:
  // Builds the table from the "Subst Key Word" list (already trimmed): one
  // key per comma-separated name, each name trimmed and wrapped in "%".
  // An empty list leaves the table empty and disabled.
  void Build(std::string_view list);

  // True once the table has been built with at least one key.
  bool KeywordsEnabled() const { return !keys_.empty(); }

  // The keys in table order.
  const std::vector<std::string>& keys() const { return keys_; }
  std::size_t size() const { return keys_.size(); }

  // The position of the first key that equals `token`; nullopt when none
  // does. Constant time on average, whatever the size of the table.
  std::optional<std::size_t> Find(std::string_view token) const;

 private:
  // Hashes std::string and std::string_view alike, so that a token can be
  // looked up without copying it.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const noexcept {
      return std::hash<std::string_view>{}(key);
    }
  };

  std::vector<std::string> keys_;
  // Key -> position of the first key of that name.
  std::unordered_map<std::string, std::size_t, KeyHash, std::equal_to<>> first_with_key_;
};

// Same as KeywordTable::Build.
void BuildKeywordTable(std::string_view list, KeywordTable& table);

// Replaces the %KEY% tokens of `body` by the record's `values` (the value of
// key i is values[i], empty when the record has fewer) in one pass: an
// unmatched token is skipped whole with its closing "%", an inserted value is
// never scanned again, "%%" is replaced only by an empty-named key, the first
// of equal keys wins. A body without "%" is unchanged. Does nothing when the
// table is disabled.
void SubstituteKeywords(std::string& body, const KeywordTable& table,
                        const std::vector<std::string>& values);

}  // namespace pinemail
