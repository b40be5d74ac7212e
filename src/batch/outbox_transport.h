// The outbox transport: each message becomes one .eml file in a folder.
#pragma once

#include <cstdint>
#include <string>

#include "batch/message_writer.h"
#include "batch/transport.h"

namespace pinemail {

// Writes every message as an RFC 5322 file ("00000001.eml", ...) into one
// folder. Names continue after the highest number already there, so the
// files sort in sending order across runs. A message is written under a
// temporary name and renamed when complete: a file under a final name is
// always whole.
class OutboxTransport : public MailTransport {
 public:
  // `folder_path`: the folder (UTF-8, resolved); `from`: the sender.
  OutboxTransport(std::string folder_path, Mailbox from);

  // Creates the folder and its parents when missing and checks that a file
  // can be created in it. The credentials are not used.
  bool SignOn(const std::string& user_name, const std::string& password) override;

  // Writes one message. Fails, writing nothing, when the address is not a
  // plain addr-design; fails with the system's reason when the file cannot be
  // written.
  SendResult Send(const OutgoingMessage& message) override;

  void SignOff() override {}

  // Why the last SignOn failed (the system's reason), for diagnostics.
  const std::string& sign_on_error() const { return sign_on_error_; }
  std::string SignOnFailure() const override { return sign_on_error_; }

  // The final name of message number `number`: eight digits and ".eml".
  static std::string FileName(std::uint64_t number);

 private:
  // Looks for the highest numbered file in the folder.
  void FindNextNumber();
  // Writes `bytes` to a new temporary file; its path goes to `temp_path`.
  bool WriteTemporary(const std::string& bytes, std::string* temp_path, std::string* reason);

  std::string folder_;  // ends in the folder separator
  Mailbox from_;
  std::uint64_t next_number_ = 1;
  bool numbered_ = false;
  std::uint64_t temp_counter_ = 0;
  std::string sign_on_error_;
};

}  // namespace pinemail
