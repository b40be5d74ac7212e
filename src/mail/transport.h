// The interface the batch run sends mail through, and the choice of transport
// from the "Mail Server" setting.
#pragma once

#include <memory>
#include <string>

#include "config/settings.h"

namespace pinemail {

// One message as the batch run hands it over.
struct OutgoingMessage {
  std::string recipient_name;     // display name (field 2)
  std::string recipient_address;  // address (field 1)
  std::string subject;
  std::string text;  // MailBanner followed by the substituted body (CR LF lines)
};

// How a send that failed went wrong, for the batch run to decide whether to go
// on with the next record.
enum class SendFailure {
  kMessage,         // this message could not go; the next one may
  kConnectionLost,  // no reply, or the connection was lost and could not be made again
};

struct SendResult {
  bool sent = false;
  std::string reason;  // why it failed; never contains the password
  // How it failed, when it did.
  SendFailure failure = SendFailure::kMessage;
};

class MailTransport {
 public:
  virtual ~MailTransport() = default;

  // Sets the credentials and signs on. False when sign-on failed.
  virtual bool SignOn(const std::string& user_name, const std::string& password) = 0;

  // Sends one message.
  virtual SendResult Send(const OutgoingMessage& message) = 0;

  // Ends the session.
  virtual void SignOff() = 0;

  // Why the last SignOn failed, for a person at a terminal; empty when not
  // known. Never contains the password.
  virtual std::string SignOnFailure() const { return {}; }
};

// Creates the transport the settings name ("Mail Server"; empty means the
// platform's default). Returns null when the value names nothing this build
// serves; `reason` says why.
std::unique_ptr<MailTransport> MakeTransport(const Settings& settings,
                                             const std::string& app_folder, std::string* reason);

}  // namespace pinemail
