// Message-IDs: one made from a message's key, or a new unique one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pinemail {

// New unique Message-IDs for this process: the time, the process id, a
// counter and 64 bits of the system's random source left of the "@".
class MessageIdSource {
 public:
  MessageIdSource();
  // A new Message-ID (without angle brackets) for a message from `from_address`.
  std::string NewId(std::string_view from_address);

 private:
  unsigned long process_id_;
  std::uint64_t counter_ = 0;
};

// The Message-ID (without angle brackets) `key`@domain for a message from
// `from_address`: the domain is the sender's when it is a plain addr-spec,
// else "pinemail.invalid", as for new ones. `key` is a dot-atom chosen by
// the caller.
std::string MessageIdFor(std::string_view key, std::string_view from_address);

}  // namespace pinemail
