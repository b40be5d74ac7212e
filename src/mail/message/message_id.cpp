// Makes Message-IDs: the sender's domain after a key or after a unique text
// (time, process, counter and random bits).
#include "mail/message/message_id.h"

#include <chrono>
#include <cstdio>

#include "mail/message/mailbox.h"
#include "mail/net/os_support.h"
#include "text/system_random.h"

namespace pinemail {

std::string MessageIdFor(std::string_view key, std::string_view from_address) {
  std::string id(key);
  id += '@';
  if (IsPlainAddress(from_address)) {
    id += from_address.substr(from_address.find('@') + 1);
  } else {
    id += "pinemail.invalid";
  }
  return id;
}

MessageIdSource::MessageIdSource() : process_id_(CurrentProcessId()) {}

std::string MessageIdSource::NewId(std::string_view from_address) {
  const auto microseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
  char left[128];
  std::snprintf(left, sizeof left, "%llx.%lx.%llx.%016llx",
                static_cast<unsigned long long>(microseconds), process_id_,
                static_cast<unsigned long long>(++counter_),
                static_cast<unsigned long long>(SystemRandom64()));
  return MessageIdFor(left, from_address);
}

}  // namespace pinemail
