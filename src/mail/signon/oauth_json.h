// A small reader for the JSON objects an OAuth 2.0 server answers with: one
// object whose members are strings and numbers (RFC 6749 5.1 and 5.2,
// RFC 8628 3.2, RFC 8414 metadata).
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace pinemail {

// The most bytes of a reply that are read at all.
inline constexpr std::size_t kOAuthJsonLimit = 64 * 1024;

// The members of the top-level object: strings decoded (escapes, \u with
// surrogate pairs; a lone surrogate becomes U+FFFD), numbers, true and false
// as written. Members whose value is an array, an object or null are
// skipped, nesting at most 16 deep; a later member replaces an earlier one of
// the same name. False for text that is not one JSON object, or longer than
// kOAuthJsonLimit.
bool ReadJsonObject(std::string_view text, std::map<std::string, std::string>* members);

}  // namespace pinemail
