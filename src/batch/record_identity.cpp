// Record identities: the hash, the occurrence counter and the Message-ID key.
#include "batch/record_identity.h"

#include <cstddef>

#include "text/codepage.h"

namespace pinemail {
namespace {

constexpr std::size_t kIdDigits = 16;
// The Bloom filter of RecordCounter: 2^21 bits (256 KiB), three probes. A
// list of 100,000 records leaves a few hundred texts wrongly counted as
// repeated, which costs a map entry each and changes no identity.
constexpr unsigned kFilterBits = 21;
constexpr std::size_t kProbes = 3;

// A hash's bits spread out again, so that each probe takes independent bits.
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

std::size_t Probe(std::uint64_t mixed, std::size_t i) {
  return static_cast<std::size_t>(mixed >> (i * kFilterBits)) &
         ((std::size_t{1} << kFilterBits) - 1);
}

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

std::string Hex64(std::uint64_t value) {
  std::string text(kIdDigits, '0');
  for (std::size_t i = kIdDigits; i-- > 0; value >>= 4) text[i] = kHexDigits[value & 15];
  return text;
}

bool ParseHex64(std::string_view text, std::uint64_t* value) {
  if (text.size() != kIdDigits) return false;
  *value = 0;
  for (char c : text) {
    const char* digit = std::char_traits<char>::find(kHexDigits, 16, c);
    if (digit == nullptr) return false;
    *value = *value << 4 | static_cast<std::uint64_t>(digit - kHexDigits);
  }
  return true;
}

std::uint64_t LineHash(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string IdentityText(IdentityScheme scheme, std::string_view record_text,
                         std::string_view line_bytes) {
  // A list saved in Shift-JIS comes back with the look-alikes in place of
  // the characters CP932 lacks; its records must keep their identities.
  if (scheme == IdentityScheme::kRecordText) return FoldCp932LookAlikes(record_text);
  return std::string(line_bytes);
}

RecordCounter::RecordCounter() : seen_((std::size_t{1} << kFilterBits) / 64) {}

bool RecordCounter::MaybeSeen(std::uint64_t hash) const {
  const std::uint64_t mixed = Mix(hash);
  for (std::size_t i = 0; i < kProbes; ++i) {
    const std::size_t bit = Probe(mixed, i);
    if ((seen_[bit / 64] >> (bit % 64) & 1) == 0) return false;
  }
  return true;
}

void RecordCounter::Add(std::uint64_t hash) {
  const std::uint64_t mixed = Mix(hash);
  for (std::size_t i = 0; i < kProbes; ++i) {
    const std::size_t bit = Probe(mixed, i);
    seen_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
}

void RecordCounter::Survey(std::string_view text) {
  const std::uint64_t hash = LineHash(text);
  // A text seen before (or, rarely, one the filter mistakes for it) is
  // counted exactly in the run; every text that does repeat is caught here
  // at its second line.
  if (MaybeSeen(hash)) {
    repeated_.emplace(hash, 0);
  } else {
    Add(hash);
  }
}

RecordIdentity RecordCounter::Next(std::string_view text) {
  RecordIdentity identity;
  identity.line_hash = LineHash(text);
  const auto repeated = repeated_.find(identity.line_hash);
  if (repeated != repeated_.end()) identity.occurrence = repeated->second++;
  return identity;
}

std::string MessageKey(std::string_view run_id, const RecordIdentity& record) {
  std::string key(run_id);
  key += '.';
  key += Hex64(record.line_hash);
  key += '.';
  key += std::to_string(record.occurrence);
  return key;
}

}  // namespace pinemail
