// Message-IDs: one made from a message's key, or a new unique one.
#pragma once

#include <string>
#include <string_view>

namespace pinemail {

// A unique Message-ID (without angle brackets) for a message from `from_address`.
std::string NewMessageId(std::string_view from_address);

// The Message-ID (without angle brackets) `key`@domain for a message from
// `from_address`: the domain is the sender's when it is a plain addr-spec,
// else "pinemail.invalid", as for NewMessageId. `key` is a dot-atom chosen by
// the caller.
std::string MessageIdFor(std::string_view key, std::string_view from_address);

}  // namespace pinemail
