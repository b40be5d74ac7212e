// A record's identity within its list (the hash of its text and which
// occurrence of that text it is) and the Message-ID key made from it; the
// journal names records by it, and nothing here knows the journal's lines.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pinemail {

// What a record's hash is taken of (the journal tags each line with it).
enum class IdentityScheme {
  kRecordText,  // the record's decoded, trimmed text (this version's)
  kLineBytes,   // the line's bytes as read (earlier versions')
};

// A record's identity within its list.
struct RecordIdentity {
  std::uint64_t line_hash = 0;
  std::uint32_t occurrence = 0;

  auto operator<=>(const RecordIdentity&) const = default;
};

// FNV-1a 64 of a text's bytes.
std::uint64_t LineHash(std::string_view text);

// The text `scheme` hashes: the record's text (decoded, trimmed, CP932's
// look-alikes folded) or its line's bytes (undecoded, untrimmed).
std::string IdentityText(IdentityScheme scheme, std::string_view record_text,
                         std::string_view line_bytes);

// Gives each record of a list its identity, the occurrence counted exactly.
// Survey sees the identity text of every record once beforehand (more texts
// than the records do no harm); only the texts that may occur more than
// once are then counted, so memory stays flat however long the list is.
class RecordCounter {
 public:
  RecordCounter();
  // A record's identity text, before the run.
  void Survey(std::string_view text);
  // The identity of the next record, in list order.
  RecordIdentity Next(std::string_view text);

 private:
  bool MaybeSeen(std::uint64_t hash) const;
  void Add(std::uint64_t hash);

  std::vector<std::uint64_t> seen_;  // a Bloom filter of the hashes surveyed
  std::unordered_map<std::uint64_t, std::uint32_t> repeated_;  // occurrences so far
};

// A 64-bit value as 16 lower-case hex digits.
std::string Hex64(std::uint64_t value);
// The inverse of Hex64; false for anything else.
bool ParseHex64(std::string_view text, std::uint64_t* value);

// The left part of a Message-ID for a record: "<run id>.<line hash>.<occurrence>".
std::string MessageKey(std::string_view run_id, const RecordIdentity& record);

}  // namespace pinemail
