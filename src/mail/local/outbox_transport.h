// The outbox transport: each message becomes one .eml file in a folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/message/mailbox.h"
#include "mail/message/message_stamps.h"
#include "mail/transport.h"

namespace pinemail {

// Writes every message as an RFC 5322 file ("00000001.eml", ...) into one
// folder. A name is the number after the last one already there in name
// order (names of digits only count), so the files sort by name in sending
// order across runs, whatever numbers the folder holds. A message is written
// under a temporary name and renamed when complete, never over an existing
// file: a file under a final name is always whole, and no other program's
// file (another run's included) is ever replaced.
class OutboxTransport : public MailTransport {
 public:
  // `folder_path`: the folder (UTF-8, resolved); `from`: the sender;
  // `stamps`: the messages' dates and new Message-IDs.
  OutboxTransport(std::string folder_path, Mailbox from, MessageStamps stamps);

  // Creates the folder and its parents when missing and checks that a file
  // can be created in it; fails with the system's reason. The credentials
  // are not used.
  MailResult SignOn(const std::string& user_name, const std::string& password) override;

  // Writes one message. Fails, writing nothing, when the address is not a
  // plain addr-spec; fails with the system's reason when the file cannot be
  // written.
  MailResult Send(const OutgoingMessage& message) override;

  void SignOff() override {}

  // The number (a string of digits) that follows `number` in name order: one
  // more in the same width, or, when every digit is a 9, "00000001" appended.
  static std::string NextNumber(std::string_view number);

 private:
  // Finds the last numbered name in the folder; the next number follows it.
  void FindNextNumber();
  // Writes `bytes` to a new temporary file; its path goes to `temp_path`.
  bool WriteTemporary(const std::string& bytes, std::string* temp_path, std::string* reason);

  std::string folder_;  // ends in the folder separator
  Mailbox from_;
  MessageStamps stamps_;
  std::string next_number_;  // empty until the folder has been looked at
  std::uint64_t temp_counter_ = 0;
};

}  // namespace pinemail
